// The hottest cache lines of a cache-line analysis, ready to be shown: the
// lines ranked by a chosen count, those below a share of all transfers
// involving a write left out, and for each line kept its bytes by thread
// with the pcs that touched them. The renderers of sample_lines (text, JSON)
// print this record as it is; cache_line_symbols.h may name its lines and
// pcs first.
#ifndef LIBRARY_ANALYSIS_CACHE_LINE_REPORT_H_
#define LIBRARY_ANALYSIS_CACHE_LINE_REPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/cache_lines.h"
#include "events/qnt_types.h"
#include "symbols/address_space.h"
#include "symbols/symbol_resolver.h"
#include "symbols/symbolizer.h"

namespace velkor { namespace library {

// ---- Choices ---------------------------------------------------------------------

enum cache_line_sort_t {
  sort_write_transfers = 0,  // transfers involving a write (the default)
  sort_accesses = 1,
  sort_transfers = 2,
  sort_writes = 3,
  sort_threads = 4,
};

// "write-transfers", "accesses", "transfers", "writes", "threads".
const char* cache_line_sort_name(cache_line_sort_t sort);
// The key of a name as cache_line_sort_name gives it; false for any other.
bool cache_line_sort_by_name(const std::string& name, cache_line_sort_t* sort);
// The names, separated by ", ", for messages and help texts.
std::string cache_line_sort_names();

struct cache_line_report_options_t {
  cache_line_sort_t sort = sort_write_transfers;
  // Lines listed at most; 0 lists every line that passes min_percent.
  uint64_t top = 20;
  // A line whose transfers involving a write are fewer than this share (in
  // percent) of those of all lines is left out. When no line has such a
  // transfer, no line is below the share.
  double min_percent = 0.1;
};

// ---- The record ------------------------------------------------------------------

// A resolved address, kept with everything that its text and JSON forms
// show, so that it outlives the resolver that answered it.
struct report_symbol_t {
  address_role_t role = role_code;
  bool mapped = false;
  module_id_t module_id = 0;
  module_t module;
  uint64_t offset = 0;
  bool has_symbol = false;
  symbol_info_t symbol;
  uint64_t symbol_offset = 0;

  // The resolution as symbols/symbol_render.h takes it; valid while this
  // record lives.
  resolution_t view() const;
};

// An index into cache_line_report_t::symbols; no_symbol: not resolved.
const uint32_t no_symbol = 0xffffffffu;

// One instruction that touched a byte range.
struct report_pc_t {
  qnt_address_t pc;
  uint64_t accesses = 0;
  uint64_t reads = 0;
  uint64_t writes = 0;
  // Where the pc lay when it was first counted, when the analysis followed
  // the mappings, and its resolution once cache_line_symbols.h gave it.
  mapped_location_t location;
  uint32_t symbol = no_symbol;
};

// One byte range of the line that a thread touched: bytes offset to
// offset + length - 1 of the line.
struct report_range_t {
  uint64_t offset = 0;
  uint32_t length = 0;
  uint64_t accesses = 0;
  uint64_t reads = 0;
  uint64_t writes = 0;
  std::vector<report_pc_t> pcs;  // most accesses first, then by pc
};

// One thread of a line (or, with other_threads, all threads past the bound
// of a line together, without ranges).
struct report_thread_t {
  qnt_thread_id_t thread;
  bool other_threads = false;
  uint64_t accesses = 0;
  uint64_t reads = 0;
  uint64_t writes = 0;
  // Accesses after the thread's sites reached their bound: in the counts
  // above, in no range.
  uint64_t unlisted_accesses = 0;
  uint64_t unlisted_reads = 0;
  uint64_t unlisted_writes = 0;
  std::vector<report_range_t> ranges;  // by offset, then by length
};

struct report_line_t {
  cache_line_counts_t line;
  // The line's share of the transfers involving a write of all lines, in
  // percent (0 when there are none).
  double write_transfer_percent = 0;
  std::vector<report_thread_t> threads;  // by thread id, other_threads last
  // Where the line's address lay when it was first counted, and its
  // resolution (the data object that holds it), as for a pc.
  mapped_location_t location;
  uint32_t symbol = no_symbol;
};

struct cache_line_report_t {
  cache_line_report_options_t options;
  qnt_line_size_t default_line_size = 64;
  cache_line_summary_t summary;
  std::vector<report_line_t> lines;  // ranked
  // Lines below options.min_percent, and their transfers involving a write.
  uint64_t lines_below_threshold = 0;
  uint64_t write_transfers_below_threshold = 0;
  // Lines that passed min_percent but came after the first options.top.
  uint64_t lines_beyond_top = 0;
  // True when the locations above were noted (the analysis followed the
  // mappings).
  bool has_locations = false;
  // The resolutions that lines and pcs name, each distinct one once.
  std::vector<report_symbol_t> symbols;
};

// ---- Building --------------------------------------------------------------------

// Ranks the lines of stats (a result() of the flow) by options.sort, the
// largest first; ties go to more transfers involving a write, then more
// accesses, then the smaller line size, then the lower address.
cache_line_report_t build_cache_line_report(const cache_line_stats_t& stats,
                                            const cache_line_report_options_t& options);

}}  // namespace velkor::library
#endif
