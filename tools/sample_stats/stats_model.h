// The report of sample_stats as one plain record: every number of every
// section, computed once from the statistics flow after the input has ended.
// The text, JSON and HTML renderers read it and compute nothing of their own,
// so that the formats always agree.
#ifndef TOOLS_SAMPLE_STATS_STATS_MODEL_H_
#define TOOLS_SAMPLE_STATS_STATS_MODEL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "analysis/reuse_histogram.h"
#include "events/qnt_events.h"
#include "sample_file_stats.h"
#include "stream/stream_container.h"

namespace velkor { namespace sample_stats {

// ---- Parts -----------------------------------------------------------------------

// Reuse times of a set of samples (a line size, a pc).
struct reuse_summary_t {
  uint64_t samples = 0;  // samples with an end
  uint64_t median = 0;   // reuse_histogram_t::quantile(0.5)
  uint64_t p90 = 0;      // quantile(0.9)
};

struct top_pc_t {
  qnt_address_t pc;
  uint64_t samples = 0;
  double percent = 0;  // of the line size's begins (or ends)
  // For the names (stats_symbols_t), or no_location without symbols.
  uint32_t location = no_location;
  // Of the samples that began at this pc (begin lists, with reuse times).
  reuse_summary_t reuse;
};

struct line_size_report_t {
  qnt_line_size_t line_size = 0;
  uint64_t begin_events = 0;
  uint64_t end_events = 0;
  uint64_t begin_times = 0;
  uint64_t end_times = 0;
  uint64_t acquisition_accesses = 0;
  double real_sample_period = 0;  // accesses per distinct begin time
  uint64_t danglings = 0;
  std::vector<top_pc_t> top_begin_pcs;
  std::vector<top_pc_t> top_end_pcs;
  // Only when the file has bursts; the same in every line size.
  bool has_bursts = false;
  uint64_t burst_begins = 0;
  uint64_t burst_ends = 0;
  double average_burst_seconds = 0;
  // Ascending by type, only types counted.
  std::vector<std::pair<qnt_access_type_t, uint64_t>> access_types;
  // With reuse times.
  reuse_summary_t reuse;
  std::vector<library::reuse_range_t> reuse_ranges;
  uint64_t killed = 0;
  uint64_t without_ends = 0;
  uint64_t ends_before_begins = 0;
};

struct communication_report_t {
  comm_entry_t key;
  uint64_t count = 0;
  double percent = 0;  // of all pairs
};

// All pairs of accesses between two threads, whatever their types.
struct thread_pair_report_t {
  library::qnt_thread_id_t from_thread;
  library::qnt_thread_id_t to_thread;
  uint64_t count = 0;
  double percent = 0;
};

// ---- The report -------------------------------------------------------------------

struct stats_model_t {
  library::stream_container_header_t header;
  uint64_t stacks = 0;
  std::vector<line_size_report_t> line_sizes;  // ascending by line size
  uint64_t bucket_width = 1;
  std::vector<uint64_t> time_buckets;
  // Ordered by the pair (threads, then types): the text report's order.
  std::vector<communication_report_t> communication;
  uint64_t communication_total = 0;
  // The busiest pairs, by count (descending, ties in the order above), at
  // most top of them.
  std::vector<communication_report_t> communication_by_count;
  // Per pair of threads, ordered by threads; pairs within one thread and
  // across threads.
  std::vector<thread_pair_report_t> thread_pairs;
  uint64_t same_thread_pairs = 0;
  uint64_t cross_thread_pairs = 0;
  bool reuse = false;  // reuse times were counted
  size_t top = 10;     // the length of the top lists (0: all)
};

// The top lists hold at most `top` entries each (0: every pc). The danglings
// must have been counted.
stats_model_t build_stats_model(const sample_file_stats_t& stats,
                                const library::stream_container_header_t& header, size_t top);
// The section of one line size.
line_size_report_t build_line_size_report(const sample_file_stats_t& stats,
                                          qnt_line_size_t line_size,
                                          const line_size_stat_t& stat, size_t top);

}}  // namespace velkor::sample_stats
#endif
