#include "pc_counters.h"

namespace velkor { namespace sample_stats {

void pc_counters_t::add_run(uint64_t count, uint32_t entry, uint32_t after) {
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
  nodes_[entry].run = run;
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

void pc_counters_t::link_after(uint32_t entry, uint32_t after) {
  node_t& n = nodes_[entry];
  n.prev = after;
  n.next = after == none ? first_ : nodes_[after].next;
  if (n.next == none) {
    last_ = entry;
  } else {
    nodes_[n.next].prev = entry;
  }
  if (after == none) {
    first_ = entry;
  } else {
    nodes_[after].next = entry;
  }
}

void pc_counters_t::move_after(uint32_t entry, uint32_t after) {
  if (entry == after || nodes_[entry].prev == after) return;
  node_t& n = nodes_[entry];
  if (n.prev == none) {
    first_ = n.next;
  } else {
    nodes_[n.prev].next = n.next;
  }
  if (n.next == none) {
    last_ = n.prev;
  } else {
    nodes_[n.next].prev = n.prev;
  }
  link_after(entry, after);
}

const pc_count_t& pc_counters_t::increment(library::qnt_address_t pc, bool* inserted) {
  auto slot = by_pc_.try_emplace(pc.value, static_cast<uint32_t>(nodes_.size()));
  *inserted = slot.second;
  if (*inserted) {
    const uint32_t entry = slot.first->second;
    nodes_.push_back(node_t{pc_count_t{pc, 1, no_location, no_location}, none, none, none});
    // After every entry of count 1, which can only be the first run.
    if (first_run_ != none && runs_[first_run_].count == 1) {
      run_t& ones = runs_[first_run_];
      link_after(entry, ones.last);
      nodes_[entry].run = first_run_;
      ones.last = entry;
    } else {
      link_after(entry, none);
      add_run(1, entry, none);
    }
    return nodes_[entry].value;
  }

  const uint32_t entry = slot.first->second;
  node_t& node = nodes_[entry];
  const uint32_t run = node.run;
  const uint64_t count = node.value.count;
  const uint32_t next_run = runs_[run].next;
  const bool next_is_one_more = next_run != none && runs_[next_run].count == count + 1;
  node.value.count = count + 1;

  if (entry == runs_[run].last) {
    // The next entry, if any, has a larger count: the entry stays in place.
    if (next_is_one_more) {
      if (entry == runs_[run].first) {
        remove_run(run);
      } else {
        runs_[run].last = node.prev;
      }
      runs_[next_run].first = entry;
      node.run = next_run;
    } else if (entry == runs_[run].first) {
      runs_[run].count = count + 1;  // alone in its run: the run grows
    } else {
      runs_[run].last = node.prev;
      add_run(count + 1, entry, run);
    }
    return node.value;
  }

  // The next entry has the same count: the entry moves behind every entry
  // of its new count.
  if (entry == runs_[run].first) runs_[run].first = node.next;
  if (next_is_one_more) {
    move_after(entry, runs_[next_run].last);
    runs_[next_run].last = entry;
    node.run = next_run;
  } else {
    move_after(entry, runs_[run].last);
    add_run(count + 1, entry, run);
  }
  return node.value;
}

}}  // namespace velkor::sample_stats
