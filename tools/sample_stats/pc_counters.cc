#include "pc_counters.h"

#include <iterator>

namespace velkor { namespace sample_stats {

uint32_t pc_counters_t::add_run(uint64_t count, entry_t entry, uint32_t after) {
  uint32_t run;
  if (!free_runs_.empty()) {
    run = free_runs_.back();
    free_runs_.pop_back();
  } else {
    run = static_cast<uint32_t>(runs_.size());
    runs_.push_back(run_t());
  }
  run_t& r = runs_[run];
  r.count = count;
  r.first = r.last = entry;
  r.prev = after;
  r.next = after == none ? first_run_ : runs_[after].next;
  if (r.next != none) runs_[r.next].prev = run;
  if (after == none) {
    first_run_ = run;
  } else {
    runs_[after].next = run;
  }
  entry->group = run;
  return run;
}

void pc_counters_t::remove_run(uint32_t run) {
  run_t& r = runs_[run];
  if (r.prev == none) {
    first_run_ = r.next;
  } else {
    runs_[r.prev].next = r.next;
  }
  if (r.next != none) runs_[r.next].prev = r.prev;
  free_runs_.push_back(run);
}

const pc_count_t& pc_counters_t::increment(library::qnt_address_t pc, bool* inserted) {
  count_order_t& order = table_.get<by_count>();
  auto& pcs = table_.get<by_pc>();
  auto found = pcs.find(pc);
  *inserted = found == pcs.end();
  if (*inserted) {
    // After every entry of count 1, which can only be the first run.
    if (first_run_ != none && runs_[first_run_].count == 1) {
      run_t& ones = runs_[first_run_];
      entry_t entry =
          order.insert(std::next(ones.last), pc_count_t{pc, 1, first_run_, no_location, no_location}).first;
      ones.last = entry;
      return *entry;
    }
    entry_t entry = order.push_front(pc_count_t{pc, 1, none, no_location, no_location}).first;
    add_run(1, entry, none);
    return *entry;
  }

  entry_t entry = table_.project<by_count>(found);
  const uint32_t run = entry->group;
  const uint64_t count = entry->count;
  const uint32_t next_run = runs_[run].next;
  const bool next_is_one_more = next_run != none && runs_[next_run].count == count + 1;
  entry->count = count + 1;

  if (entry == runs_[run].last) {
    // The next entry, if any, has a larger count: the entry stays in place.
    if (next_is_one_more) {
      if (entry == runs_[run].first) {
        remove_run(run);
      } else {
        runs_[run].last = std::prev(entry);
      }
      runs_[next_run].first = entry;
      entry->group = next_run;
    } else if (entry == runs_[run].first) {
      runs_[run].count = count + 1;  // alone in its run: the run grows
    } else {
      runs_[run].last = std::prev(entry);
      add_run(count + 1, entry, run);
    }
    return *entry;
  }

  // The next entry has the same count: the entry moves behind every entry
  // of its new count.
  if (entry == runs_[run].first) runs_[run].first = std::next(entry);
  if (next_is_one_more) {
    order.relocate(std::next(runs_[next_run].last), entry);
    runs_[next_run].last = entry;
    entry->group = next_run;
  } else {
    order.relocate(std::next(runs_[run].last), entry);
    add_run(count + 1, entry, run);
  }
  return *entry;
}

}}  // namespace velkor::sample_stats
