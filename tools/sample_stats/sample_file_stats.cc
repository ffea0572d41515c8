#include "sample_file_stats.h"

#include "codec/codec_utils.h"
#include "stats_model.h"
#include "stats_report.h"

#include <iterator>

namespace velkor { namespace sample_stats {

using namespace library;

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

line_size_stat_t& sample_file_stats_t::stat_for(qnt_line_size_t line_size) {
  if (last_stat_ == nullptr || line_size != last_line_size_) {
    last_stat_ = &line_stats_[line_size];
    last_line_size_ = line_size;
  }
  return *last_stat_;
}

void sample_file_stats_t::add_sample_begin_stats(const qnt_event_sample_begin_t& begin) {
  line_size_stat_t& stat = stat_for(begin.line_size);
  ++stat.kind_counts[kind_sample_begin][begin.access_type];
  stat.begin_times.insert(begin.time);
  count_pc(stat.begin_pcs, begin.pc);
  if (begin.time > max_time_) max_time_ = begin.time;
  time_bucket_add(begin.time);
}

void sample_file_stats_t::add_reuse(line_size_stat_t& stat, const pc_count_t& begin,
                                    uint64_t begin_time, uint64_t end_time) {
  if (end_time < begin_time) {
    ++stat.ends_before_begins;
    return;
  }
  const unsigned bucket = reuse_bucket(end_time - begin_time);
  stat.reuse.add_to_bucket(bucket, 1);
  if (begin.reuse == no_location) {
    begin.reuse = static_cast<uint32_t>(stat.pc_reuse.size());
    stat.pc_reuse.emplace_back();
  }
  stat.pc_reuse[begin.reuse].add_to_bucket(bucket, 1);
}

void sample_file_stats_t::count_end(line_size_stat_t& stat, uint64_t time, qnt_address_t pc,
                                    qnt_access_type_t access_type) {
  ++stat.kind_counts[kind_sample_end][access_type];
  stat.end_times.insert(time);
  count_pc(stat.end_pcs, pc);
  if (time > max_time_) max_time_ = time;
}

void sample_file_stats_t::add_sample_end_stats(const qnt_event_sample_begin_t& begin,
                                               const qnt_event_sample_end_t& end) {
  count_end(stat_for(begin.line_size), end.time, end.pc, end.access_type);
}

flow_status_t sample_file_stats_t::sample_begin(const qnt_event_sample_begin_t& event) {
  add_sample_begin_stats(event);
  auto end = pending_ends_.find(event.sample_id);
  if (end != pending_ends_.end()) {
    line_size_stat_t& stat = stat_for(event.line_size);
    count_end(stat, end->second.time, end->second.pc, end->second.access_type);
    if (reuse_) add_reuse(stat, *stat.begin_pcs.find(event.pc), event.time, end->second.time);
    pending_ends_.erase(end);
  } else {
    pending_begins_[event.sample_id] = line_size_to_log(event.line_size);
    if (reuse_) pending_reuse_[event.sample_id] = pending_begin_reuse_t{event.time, event.pc};
  }
  return flow_status_ok;
}

flow_status_t sample_file_stats_t::sample_end(const qnt_event_sample_end_t& event) {
  auto begin = pending_begins_.find(event.sample_id);
  if (begin != pending_begins_.end()) {
    line_size_stat_t& stat = stat_for(qnt_line_size_from_log(begin->second));
    count_end(stat, event.time, event.pc, event.access_type);
    if (reuse_) {
      auto waiting = pending_reuse_.find(event.sample_id);
      add_reuse(stat, *stat.begin_pcs.find(waiting->second.pc), waiting->second.time, event.time);
      pending_reuse_.erase(waiting);
    }
    pending_begins_.erase(begin);
  } else {
    auto stored = pending_ends_.insert({event.sample_id, pending_end_t{}});
    if (!stored.second) ++replaced_ends_;
    stored.first->second = pending_end_t{event.time, event.pc, event.access_type};
  }
  return flow_status_ok;
}

void sample_file_stats_t::add_sample_stats(const qnt_event_sample_t& event) {
  line_size_stat_t& stat = stat_for(qnt_line_size_from_log(event.line_size));
  const qnt_sample_access_t& begin = event.begin;
  ++stat.kind_counts[kind_sample_begin][begin.access_type];
  stat.begin_times.insert(begin.time);
  const pc_count_t& begin_entry = count_pc(stat.begin_pcs, begin.pc);
  time_bucket_add(begin.time);

  if (!event.ends.empty()) {
    const qnt_sample_access_t& first = event.ends.front();
    count_end(stat, first.time, first.pc, first.access_type);
    if (reuse_) add_reuse(stat, begin_entry, begin.time, first.time);
  } else if (reuse_) {
    if (event.flags & 1) {
      ++stat.killed;
    } else {
      ++stat.without_ends;
    }
  }

  ++stat.access_type_counts[begin.access_type];
  const qnt_sample_access_t* previous = &begin;
  for (const qnt_sample_access_t& end : event.ends) {
    ++stat.access_type_counts[end.access_type];
    comm_key_t key{(uint64_t(previous->thread.value) << 32) | end.thread.value,
                   static_cast<uint16_t>((previous->access_type << 8) | end.access_type)};
    ++comm_counts_[key];
    communication_current_ = false;
    previous = &end;
  }
}

const sample_file_stats_t::communication_t& sample_file_stats_t::communication() const {
  if (!communication_current_) {
    communication_.clear();
    for (const auto& entry : comm_counts_) {
      comm_entry_t key;
      key.from_thread = static_cast<uint32_t>(entry.first.threads >> 32);
      key.to_thread = static_cast<uint32_t>(entry.first.threads);
      key.from_type = static_cast<qnt_access_type_t>(entry.first.types >> 8);
      key.to_type = static_cast<qnt_access_type_t>(entry.first.types);
      communication_[key] = entry.second;
    }
    communication_current_ = true;
  }
  return communication_;
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
  if (print_events_) {
    if (before_print_) before_print_();
    print_acquisition_begin(event);
  } else {
    keep(event);
  }
  return flow_status_ok;
}

flow_status_t sample_file_stats_t::acquisition_end(const qnt_event_acquisition_end_t& event) {
  if (print_events_) {
    if (before_print_) before_print_();
    print_acquisition_end(event);
  } else {
    keep(event);
  }
  return flow_status_ok;
}

flow_status_t sample_file_stats_t::sample_period(const qnt_event_sample_period_t& event) {
  if (print_events_) {
    if (before_print_) before_print_();
    print_sample_period(event);
  } else {
    keep(event);
  }
  return flow_status_ok;
}

flow_status_t sample_file_stats_t::mmap(const qnt_event_mmap_t& event) {
  if (print_events_) {
    if (before_print_) before_print_();
    print_mmap(event);
  } else {
    keep(event);
  }
  if (symbols_ != nullptr) symbols_->observe(event);
  return flow_status_ok;
}

flow_status_t sample_file_stats_t::munmap(const qnt_event_munmap_t& event) {
  if (symbols_ != nullptr) symbols_->observe(event);
  return flow_status_ok;
}

// ---- After the input -----------------------------------------------------------------

void sample_file_stats_t::count_danglings(qnt_line_size_t line_size, line_size_stat_t& stat) {
  for (const auto& pending : pending_begins_) {
    if (qnt_line_size_from_log(pending.second) == line_size) ++stat.danglings;
  }
}

void sample_file_stats_t::count_all_danglings() {
  for (auto& entry : line_stats_) count_danglings(entry.first, entry.second);
}

void sample_file_stats_t::print_line_size_stats(qnt_line_size_t line_size,
                                                const line_size_stat_t& stat) const {
  print_line_size_section(build_line_size_report(*this, line_size, stat, 10), symbols_);
}

}}  // namespace velkor::sample_stats
