// Which events sample_dump prints: the filter that combines the choices of
// kinds, threads and a time range. Used by the dump flow.
#ifndef TOOLS_SAMPLE_DUMP_EVENT_FILTER_H_
#define TOOLS_SAMPLE_DUMP_EVENT_FILTER_H_

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "events/qnt_events.h"

namespace velkor { namespace dump {

typedef std::bitset<library::qnt_event_kind_count> kind_set_t;

// ---- The filter ------------------------------------------------------------------

// An event passes when it passes every condition that was set (AND):
// - its kind is in `kinds`;
// - with threads chosen, it concerns one of them: read, write, prefetch,
//   sample_begin and sample_end by thread_id, local_time by tid, a sample by
//   the thread of its begin or of any end, a time mapping by any entry's tid,
//   contexts by any element. Other kinds carry no thread and never pass;
// - with a time range, its time lies in it (bounds included): sample_begin,
//   sample_end, acquisition_begin, acquisition_end, mmap, munmap,
//   burst_begin and burst_end by `time`, a sample by the time of its begin,
//   local_time by global_time, a time mapping when any entry's time does.
//   Other kinds carry no time and never pass.
// Events are judged whole: a sample or time mapping that passes is printed
// with all its accesses or entries.
class event_filter_t {
 public:
  // Every kind, any thread, any time.
  event_filter_t();

  void set_kinds(const kind_set_t& kinds) { kinds_ = kinds; }
  // Several calls add threads.
  void add_thread(uint32_t thread);
  // Both bounds are included; from must not be above to.
  void set_time_range(uint64_t from, uint64_t to);

  bool passes(const library::qnt_event_t& event) const;

 private:
  bool thread_passes(uint32_t thread) const;
  bool time_passes(uint64_t time) const { return time >= time_from_ && time <= time_to_; }
  bool threads_pass(const library::qnt_event_t& event) const;
  bool times_pass(const library::qnt_event_t& event) const;

  kind_set_t kinds_;
  std::vector<uint32_t> threads_;  // sorted, no duplicates; empty: any thread
  bool has_time_range_;
  uint64_t time_from_;
  uint64_t time_to_;
};

}}  // namespace velkor::dump
#endif
