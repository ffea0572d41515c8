#include "stats_model.h"

#include <algorithm>
#include <map>

#include "stats_report.h"

namespace velkor { namespace sample_stats {

using namespace library;

namespace {

uint64_t sum_of_kind(const line_size_stat_t& stat, qnt_event_kind_t kind) {
  uint64_t sum = 0;
  auto counts = stat.kind_counts.find(kind);
  if (counts == stat.kind_counts.end()) return 0;
  for (const auto& entry : counts->second) sum += entry.second;
  return sum;
}

reuse_summary_t summarize(const reuse_histogram_t& histogram) {
  reuse_summary_t summary;
  summary.samples = histogram.count();
  summary.median = histogram.quantile(0.5);
  summary.p90 = histogram.quantile(0.9);
  return summary;
}

// Largest counts first (the end of the count order), at most `top` (0: all).
std::vector<top_pc_t> top_pcs(const pc_counters_t& counters, size_t top, uint64_t total,
                              const std::vector<reuse_histogram_t>* reuse) {
  std::vector<top_pc_t> list;
  const pc_counters_t::count_order_t& order = counters.by_count_order();
  for (auto it = order.rbegin(); it != order.rend() && (top == 0 || list.size() < top); ++it) {
    top_pc_t entry;
    entry.pc = it->pc;
    entry.samples = it->count;
    entry.percent =
        total == 0 ? 0 : 100.0 * static_cast<double>(it->count) / static_cast<double>(total);
    entry.location = it->location;
    if (reuse != nullptr && it->reuse != no_location) entry.reuse = summarize((*reuse)[it->reuse]);
    list.push_back(entry);
  }
  return list;
}

}  // namespace

line_size_report_t build_line_size_report(const sample_file_stats_t& stats,
                                          qnt_line_size_t line_size,
                                          const line_size_stat_t& stat, size_t top) {
  line_size_report_t r;
  r.line_size = line_size;
  r.begin_events = sum_of_kind(stat, kind_sample_begin);
  r.end_events = sum_of_kind(stat, kind_sample_end);
  r.begin_times = stat.begin_times.size();
  r.end_times = stat.end_times.size();
  r.acquisition_accesses = stats.max_time();
  r.real_sample_period =
      static_cast<double>(stats.max_time()) / static_cast<double>(stat.begin_times.size());
  r.danglings = stat.danglings;
  r.top_begin_pcs =
      top_pcs(stat.begin_pcs, top, r.begin_events, stats.reuse() ? &stat.pc_reuse : nullptr);
  r.top_end_pcs = top_pcs(stat.end_pcs, top, r.end_events, nullptr);
  r.has_bursts = stats.burst_count() != 0;
  r.burst_begins = stats.burst_begins().size();
  r.burst_ends = stats.burst_ends().size();
  r.average_burst_seconds = average_burst_length(stats.burst_begins(), stats.burst_ends());
  for (const auto& type : stat.access_type_counts) r.access_types.push_back(type);
  if (stats.reuse()) {
    r.reuse = summarize(stat.reuse);
    r.reuse_ranges = stat.reuse.powers_of_two();
    r.killed = stat.killed;
    r.without_ends = stat.without_ends;
    r.ends_before_begins = stat.ends_before_begins;
  }
  return r;
}

stats_model_t build_stats_model(const sample_file_stats_t& stats,
                                const stream_container_header_t& header, size_t top) {
  stats_model_t model;
  model.header = header;
  model.stacks = stats.stack_count();
  model.reuse = stats.reuse();
  model.top = top;

  for (const auto& entry : stats.line_stats()) {
    model.line_sizes.push_back(build_line_size_report(stats, entry.first, entry.second, top));
  }

  model.bucket_width = stats.bucket_width();
  model.time_buckets = stats.time_buckets();

  for (const auto& entry : stats.communication()) model.communication_total += entry.second;
  std::map<std::pair<uint32_t, uint32_t>, uint64_t> pairs;
  for (const auto& entry : stats.communication()) {
    communication_report_t c;
    c.key = entry.first;
    c.count = entry.second;
    c.percent = 100.0 * static_cast<double>(entry.second) /
                static_cast<double>(model.communication_total);
    model.communication.push_back(c);
    pairs[std::make_pair(c.key.from_thread.value, c.key.to_thread.value)] += c.count;
    if (c.key.from_thread == c.key.to_thread) {
      model.same_thread_pairs += c.count;
    } else {
      model.cross_thread_pairs += c.count;
    }
  }
  model.communication_by_count = model.communication;
  std::stable_sort(model.communication_by_count.begin(), model.communication_by_count.end(),
                   [](const communication_report_t& a, const communication_report_t& b) {
                     return a.count > b.count;
                   });
  if (top != 0 && model.communication_by_count.size() > top) {
    model.communication_by_count.resize(top);
  }
  for (const auto& pair : pairs) {
    thread_pair_report_t p;
    p.from_thread = pair.first.first;
    p.to_thread = pair.first.second;
    p.count = pair.second;
    p.percent = 100.0 * static_cast<double>(pair.second) /
                static_cast<double>(model.communication_total);
    model.thread_pairs.push_back(p);
  }
  return model;
}

}}  // namespace velkor::sample_stats
