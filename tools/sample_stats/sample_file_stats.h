// The statistics flow of sample_stats. While a sample file is decoded it
// counts, per cache-line size, sample begins and ends, their distinct times,
// the most frequent program counters, dangling samples and access types, and
// for the whole file stacks, a histogram of sample times, bursts and the
// thread-to-thread communication of complete samples. The handlers of a few
// kinds print their event's line at once. The driver (main.cc) runs the flow
// and prints the report from it (stats_report.h).
#ifndef TOOLS_SAMPLE_STATS_SAMPLE_FILE_STATS_H_
#define TOOLS_SAMPLE_STATS_SAMPLE_FILE_STATS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include <absl/container/flat_hash_map.h>

#include "analysis/reuse_histogram.h"
#include "distinct_times.h"
#include "events/qnt_events.h"
#include "events/qnt_types.h"
#include "flow/quenth_flow.h"
#include "pc_counters.h"
#include "stats_symbols.h"
#include "support/seeded_hash.h"

namespace velkor { namespace sample_stats {

using library::flow_status_t;
using library::qnt_access_type_t;
using library::qnt_address_t;
using library::qnt_event_kind_t;
using library::qnt_line_size_t;
using library::qnt_thread_id_t;

// Every count below is 64 bits wide: a long recording can hold more than
// 2^32 samples, and no count may wrap.

// ---- Communication -----------------------------------------------------------

struct communication_statistics_t {
  // One access of a sample followed by the next one: the threads and access
  // types of both. Ordered by from_thread, to_thread, from_type, to_type.
  struct comm_entry_t {
    qnt_thread_id_t from_thread;
    qnt_thread_id_t to_thread;
    qnt_access_type_t from_type = 0;
    qnt_access_type_t to_type = 0;

    bool operator<(const comm_entry_t& other) const {
      // from_thread, then to_thread, as one 64-bit comparison.
      uint64_t threads = (uint64_t(from_thread.value) << 32) | to_thread.value;
      uint64_t other_threads = (uint64_t(other.from_thread.value) << 32) | other.to_thread.value;
      if (threads != other_threads) return threads < other_threads;
      if (from_type != other.from_type) return from_type < other.from_type;
      return to_type < other.to_type;
    }
  };
};

typedef communication_statistics_t::comm_entry_t comm_entry_t;

// ---- Counts per access type ----------------------------------------------------

// A count per access type (any byte value), listed like an ordered map of the
// types that were counted: ascending, as pairs (type, count), and only those
// whose count is not zero. One array instead of a tree, since every sample
// adds to it.
class access_type_counts_t {
 public:
  typedef std::pair<qnt_access_type_t, uint64_t> value_type;

  class const_iterator {
   public:
    const_iterator(const uint64_t* counts, unsigned type) : counts_(counts), type_(type) { skip(); }
    value_type operator*() const {
      return value_type(static_cast<qnt_access_type_t>(type_), counts_[type_]);
    }
    const_iterator& operator++() {
      ++type_;
      skip();
      return *this;
    }
    bool operator==(const const_iterator& o) const { return type_ == o.type_; }
    bool operator!=(const const_iterator& o) const { return type_ != o.type_; }

   private:
    void skip() {
      while (type_ < 256 && counts_[type_] == 0) ++type_;
    }
    const uint64_t* counts_;
    unsigned type_;
  };

  access_type_counts_t() : counts_() {}
  uint64_t& operator[](qnt_access_type_t type) { return counts_[type]; }
  const_iterator begin() const { return const_iterator(counts_, 0); }
  const_iterator end() const { return const_iterator(counts_, 256); }

 private:
  uint64_t counts_[256];
};

// ---- Statistics of one line size ----------------------------------------------

struct line_size_stat_t {
  // Sample begins (under kind_sample_begin) and ends (under kind_sample_end)
  // by the access type of the begin or end access. No other kind is entered.
  std::map<qnt_event_kind_t, access_type_counts_t> kind_counts;
  pc_counters_t begin_pcs;
  pc_counters_t end_pcs;
  distinct_times_t begin_times;
  distinct_times_t end_times;
  // Begins that never met their end; filled by count_danglings.
  uint64_t danglings = 0;
  // Access types of every access of the complete sample events.
  access_type_counts_t access_type_counts;

  // With reuse times counted (set_reuse): the first end's time less the
  // begin's of every sample with an end, the samples without one by why,
  // and the reuse times of each begin pc (pc_count_t::reuse indexes them).
  library::reuse_histogram_t reuse;
  uint64_t killed = 0;               // complete samples flagged killed, without ends
  uint64_t without_ends = 0;         // other complete samples without ends
  uint64_t ends_before_begins = 0;   // an end whose time is before its begin's
  std::vector<library::reuse_histogram_t> pc_reuse;
};

// ---- The flow -------------------------------------------------------------------

class sample_file_stats_t : public library::quenth_flow_by_type_default_t {
 public:
  typedef std::map<qnt_line_size_t, line_size_stat_t> line_stats_t;
  typedef std::map<comm_entry_t, uint64_t> communication_t;

  static constexpr size_t bucket_count = 20;

  // Twenty empty buckets of width 1, nothing counted.
  sample_file_stats_t();

  // With symbols (not owned; null: none), the mappings are followed and
  // every pc gets its place the first time a counter counts it.
  void set_symbols(stats_symbols_t* symbols) { symbols_ = symbols; }
  stats_symbols_t* symbols() const { return symbols_; }
  // With reuse on, the reuse times are counted as well.
  void set_reuse(bool on) { reuse_ = on; }
  bool reuse() const { return reuse_; }
  // Without printing, the events that print a line at once (acquisition
  // begin and end, sample period, mmap) are kept instead, in their order.
  void set_print_events(bool on) { print_events_ = on; }
  const std::vector<std::unique_ptr<library::qnt_event_t>>& kept_events() const {
    return kept_events_;
  }
  // Called before a line is printed as its event arrives (a progress line
  // on the terminal makes way for it).
  void set_before_print(std::function<void()> before_print) {
    before_print_ = std::move(before_print);
  }

  // Every handler answers flow_status_ok.
  flow_status_t sample_begin(const library::qnt_event_sample_begin_t& event) override;
  flow_status_t sample_end(const library::qnt_event_sample_end_t& event) override;
  flow_status_t sample_period(const library::qnt_event_sample_period_t& event) override;
  flow_status_t acquisition_begin(const library::qnt_event_acquisition_begin_t& event) override;
  flow_status_t acquisition_end(const library::qnt_event_acquisition_end_t& event) override;
  flow_status_t mmap(const library::qnt_event_mmap_t& event) override;
  flow_status_t munmap(const library::qnt_event_munmap_t& event) override;
  flow_status_t stack(const library::qnt_event_stack_t& event) override;
  flow_status_t sample(const library::qnt_event_sample_t& event) override;
  flow_status_t burst_begin(const library::qnt_event_burst_begin_t& event) override;
  flow_status_t burst_end(const library::qnt_event_burst_end_t& event) override;

  // ---- Counting ----

  // A begin: under its line size, its access type, time and pc; raises
  // max_time; enters the histogram.
  void add_sample_begin_stats(const library::qnt_event_sample_begin_t& begin);
  // An end, under the line size of its begin: its access type, time and pc;
  // raises max_time. Ends do not enter the histogram.
  void add_sample_end_stats(const library::qnt_event_sample_begin_t& begin,
                            const library::qnt_event_sample_end_t& end);
  // A complete sample: the begin (without raising max_time), its first end
  // only as the sample's end, the access types of all its accesses and one
  // communication entry per pair of consecutive accesses.
  void add_sample_stats(const library::qnt_event_sample_t& event);
  // Counts sample time t in the histogram, halving its resolution (merging
  // neighbour buckets, doubling the width) until t falls inside it.
  void time_bucket_add(uint64_t t);

  // ---- After the input has ended ----

  // Adds to stat.danglings the begins of this line size that still wait
  // for their end.
  void count_danglings(qnt_line_size_t line_size, line_size_stat_t& stat);
  // count_danglings for every line size, in ascending order.
  void count_all_danglings();
  // Sample ends that counted nothing: those that never met their begin and
  // those that a later end with the same sample id replaced while waiting.
  uint64_t unmatched_end_count() const { return pending_ends_.size() + replaced_ends_; }

  // Prints one line-size section of the report on standard output.
  void print_line_size_stats(qnt_line_size_t line_size, const line_size_stat_t& stat) const;

  // ---- Read access for the report ----

  uint64_t max_time() const { return max_time_; }
  const line_stats_t& line_stats() const { return line_stats_; }
  uint64_t stack_count() const { return stack_count_; }
  const std::vector<uint64_t>& time_buckets() const { return time_buckets_; }
  uint64_t bucket_width() const { return bucket_width_; }
  uint64_t burst_count() const { return burst_count_; }
  const std::map<uint64_t, uint64_t>& burst_begins() const { return burst_begins_; }
  const std::map<uint64_t, uint64_t>& burst_ends() const { return burst_ends_; }
  // Ordered by comm_entry_t::operator<.
  const communication_t& communication() const;

 private:
  // Largest sample time counted (begins of separate events, all ends).
  uint64_t max_time_ = 0;
  line_stats_t line_stats_;
  stats_symbols_t* symbols_ = nullptr;
  bool reuse_ = false;
  bool print_events_ = true;
  std::function<void()> before_print_;
  std::vector<std::unique_ptr<library::qnt_event_t>> kept_events_;
  // What counting needs of a separate begin or end that waits for its
  // partner: the line size of a begin (as its one-byte logarithm: a
  // recording may leave many begins waiting for ever), and with reuse times
  // its time and pc; the time, pc and type of an end.
  struct pending_begin_reuse_t {
    uint64_t time;
    qnt_address_t pc;
  };
  struct pending_end_t {
    uint64_t time;
    qnt_address_t pc;
    qnt_access_type_t access_type;
  };
  // The statistics of a line size, created on first use.
  line_size_stat_t& stat_for(qnt_line_size_t line_size);
  // Adds one to the count of pc; with symbols, a new pc gets its place.
  const pc_count_t& count_pc(pc_counters_t& counters, qnt_address_t pc) {
    bool inserted;
    const pc_count_t& entry = counters.increment(pc, &inserted);
    if (inserted && symbols_ != nullptr) entry.location = symbols_->locate(pc);
    return entry;
  }
  // A sample whose begin (counted as `begin`) and first end came at these
  // times.
  void add_reuse(line_size_stat_t& stat, const pc_count_t& begin, uint64_t begin_time,
                 uint64_t end_time);
  // Keeps a copy of an event that prints a line at once.
  template <class T>
  void keep(const T& event) {
    kept_events_.emplace_back(new T(event));
  }
  // Counts an end under the given line size.
  void count_end(line_size_stat_t& stat, uint64_t time, qnt_address_t pc,
                 qnt_access_type_t access_type);

  // Separate begins and ends waiting for their partner, by sample id; a
  // later one of the same id replaces an earlier one.
  absl::flat_hash_map<uint32_t, uint8_t, library::seeded_hash_t> pending_begins_;
  absl::flat_hash_map<uint32_t, pending_begin_reuse_t, library::seeded_hash_t> pending_reuse_;
  absl::flat_hash_map<uint32_t, pending_end_t, library::seeded_hash_t> pending_ends_;
  // Waiting ends replaced by a later end of the same id.
  uint64_t replaced_ends_ = 0;
  // The line size used last and its statistics (map nodes do not move).
  qnt_line_size_t last_line_size_ = 0;
  line_size_stat_t* last_stat_ = nullptr;
  uint64_t stack_count_ = 0;
  // Always bucket_count buckets covering the times 0 to
  // bucket_count * bucket_width_ - 1.
  std::vector<uint64_t> time_buckets_;
  uint64_t bucket_width_ = 1;
  // Burst begins seen; also the number of the current burst (bursts are
  // numbered from 1; an end before any begin is stored under 0).
  uint64_t burst_count_ = 0;
  std::map<uint64_t, uint64_t> burst_begins_;  // burst number -> real_time
  std::map<uint64_t, uint64_t> burst_ends_;    // burst number -> real_time
  // Counted in an open-addressing hash table keyed by the packed entry
  // (threads in one 64-bit word, types in another); the ordered map is built
  // when asked for.
  struct comm_key_t {
    uint64_t threads;
    uint16_t types;
    bool operator==(const comm_key_t& o) const { return threads == o.threads && types == o.types; }
  };
  struct comm_key_hash_t {
    size_t operator()(const comm_key_t& k) const {
      return static_cast<size_t>(library::seeded_hash64(k.threads, k.types));
    }
  };
  absl::flat_hash_map<comm_key_t, uint64_t, comm_key_hash_t> comm_counts_;
  mutable communication_t communication_;
  mutable bool communication_current_ = true;
};

}}  // namespace velkor::sample_stats
#endif
