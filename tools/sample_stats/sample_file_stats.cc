#include "sample_file_stats.h"

#include "stats_report.h"

namespace velkor { namespace sample_stats {

using namespace library;

void inc_pc_counter(pc_counters_t& counters, qnt_address_t pc) {
  pc_counters_t::index<by_pc>::type& pcs = counters.get<by_pc>();
  pc_counters_t::index<by_pc>::type::iterator it = pcs.find(pc);
  if (it == pcs.end()) {
    counters.insert(pc_count_t{pc, 1});
  } else {
    // Re-placed in by_count only when the grown count breaks the order.
    pcs.modify(it, [](pc_count_t& entry) { ++entry.count; });
  }
}

bool comm_entry_t::operator<(const comm_entry_t& other) const {
  if (from_thread.value != other.from_thread.value) return from_thread.value < other.from_thread.value;
  if (to_thread.value != other.to_thread.value) return to_thread.value < other.to_thread.value;
  if (from_type != other.from_type) return from_type < other.from_type;
  return to_type < other.to_type;
}

sample_file_stats_t::sample_file_stats_t() : time_buckets_(bucket_count, 0) {}

// ---- Histogram -------------------------------------------------------------------

void sample_file_stats_t::time_bucket_add(uint64_t t) {
  const uint64_t n = bucket_count;
  // t / n >= w is t >= n * w without the product, which would overflow for
  // times from 20 * 2^59 on; w itself never exceeds 2^60.
  while (t / n >= bucket_width_) {
    for (size_t i = 0; i < n / 2; ++i) time_buckets_[i] = time_buckets_[2 * i] + time_buckets_[2 * i + 1];
    for (size_t i = n / 2; i < n; ++i) time_buckets_[i] = 0;
    bucket_width_ *= 2;
  }
  ++time_buckets_[t / bucket_width_];
}

// ---- Samples ---------------------------------------------------------------------

void sample_file_stats_t::add_sample_begin_stats(const qnt_event_sample_begin_t& begin) {
  line_size_stat_t& stat = line_stats_[begin.line_size];
  ++stat.kind_counts[kind_sample_begin][begin.access_type];
  stat.begin_times.insert(begin.time);
  inc_pc_counter(stat.begin_pcs, begin.pc);
  if (begin.time > max_time_) max_time_ = begin.time;
  time_bucket_add(begin.time);
}

void sample_file_stats_t::add_sample_end_stats(const qnt_event_sample_begin_t& begin,
                                               const qnt_event_sample_end_t& end) {
  line_size_stat_t& stat = line_stats_[begin.line_size];
  ++stat.kind_counts[kind_sample_end][end.access_type];
  stat.end_times.insert(end.time);
  inc_pc_counter(stat.end_pcs, end.pc);
  if (end.time > max_time_) max_time_ = end.time;
}

flow_status_t sample_file_stats_t::sample_begin(const qnt_event_sample_begin_t& event) {
  add_sample_begin_stats(event);
  std::map<uint32_t, qnt_event_sample_end_t>::iterator end = pending_ends_.find(event.sample_id);
  if (end != pending_ends_.end()) {
    add_sample_end_stats(event, end->second);
    pending_ends_.erase(end);
  } else {
    pending_begins_[event.sample_id] = event;
  }
  return flow_status_ok;
}

flow_status_t sample_file_stats_t::sample_end(const qnt_event_sample_end_t& event) {
  std::map<uint32_t, qnt_event_sample_begin_t>::iterator begin =
      pending_begins_.find(event.sample_id);
  if (begin != pending_begins_.end()) {
    add_sample_end_stats(begin->second, event);
    pending_begins_.erase(begin);
  } else {
    pending_ends_[event.sample_id] = event;
  }
  return flow_status_ok;
}

void sample_file_stats_t::add_sample_stats(const qnt_event_sample_t& event) {
  line_size_stat_t& stat = line_stats_[qnt_line_size_from_log(event.line_size)];
  const qnt_sample_access_t& begin = event.begin;
  ++stat.kind_counts[kind_sample_begin][begin.access_type];
  stat.begin_times.insert(begin.time);
  inc_pc_counter(stat.begin_pcs, begin.pc);
  time_bucket_add(begin.time);

  if (!event.ends.empty()) {
    const qnt_sample_access_t& first = event.ends.front();
    ++stat.kind_counts[kind_sample_end][first.access_type];
    stat.end_times.insert(first.time);
    inc_pc_counter(stat.end_pcs, first.pc);
    if (first.time > max_time_) max_time_ = first.time;
  }

  ++stat.access_type_counts[begin.access_type];
  const qnt_sample_access_t* previous = &begin;
  for (const qnt_sample_access_t& end : event.ends) {
    ++stat.access_type_counts[end.access_type];
    comm_entry_t key;
    key.from_thread = previous->thread;
    key.to_thread = end.thread;
    key.from_type = previous->access_type;
    key.to_type = end.access_type;
    ++communication_[key];
    previous = &end;
  }
}

flow_status_t sample_file_stats_t::sample(const qnt_event_sample_t& event) {
  add_sample_stats(event);
  return flow_status_ok;
}

// ---- Other kinds -------------------------------------------------------------------

flow_status_t sample_file_stats_t::stack(const qnt_event_stack_t&) {
  ++stack_count_;
  return flow_status_ok;
}

flow_status_t sample_file_stats_t::burst_begin(const qnt_event_burst_begin_t& event) {
  ++burst_count_;
  burst_begins_[burst_count_] = event.real_time;
  return flow_status_ok;
}

flow_status_t sample_file_stats_t::burst_end(const qnt_event_burst_end_t& event) {
  burst_ends_[burst_count_] = event.real_time;
  return flow_status_ok;
}

flow_status_t sample_file_stats_t::acquisition_begin(const qnt_event_acquisition_begin_t& event) {
  print_acquisition_begin(event);
  return flow_status_ok;
}

flow_status_t sample_file_stats_t::acquisition_end(const qnt_event_acquisition_end_t& event) {
  print_acquisition_end(event);
  return flow_status_ok;
}

flow_status_t sample_file_stats_t::sample_period(const qnt_event_sample_period_t& event) {
  print_sample_period(event);
  return flow_status_ok;
}

flow_status_t sample_file_stats_t::mmap(const qnt_event_mmap_t& event) {
  print_mmap(event);
  return flow_status_ok;
}

// ---- After the input -----------------------------------------------------------------

void sample_file_stats_t::count_danglings(qnt_line_size_t line_size, line_size_stat_t& stat) {
  for (const auto& pending : pending_begins_) {
    if (pending.second.line_size == line_size) ++stat.danglings;
  }
}

void sample_file_stats_t::count_all_danglings() {
  for (auto& entry : line_stats_) count_danglings(entry.first, entry.second);
}

void sample_file_stats_t::print_line_size_stats(qnt_line_size_t line_size,
                                                const line_size_stat_t& stat) const {
  print_line_size_section(*this, line_size, stat);
}

}}  // namespace velkor::sample_stats
