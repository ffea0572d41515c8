#include "stats_report.h"

#include <langinfo.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "events/quenth.h"
#include "support/printable_text.h"

namespace velkor { namespace sample_stats {

using namespace library;

std::string qnt_time_string(uint64_t t) {
  const time_t seconds = static_cast<time_t>(t / 1000000000);
  if (seconds == 0) return "?";
  struct tm local;
  if (localtime_r(&seconds, &local) == nullptr) return "?";
  char buffer[256];
  const size_t length = strftime(buffer, sizeof buffer, nl_langinfo(D_T_FMT), &local);
  return std::string(buffer, length);
}

// ---- Event-time lines ----------------------------------------------------------

void print_acquisition_begin(const qnt_event_acquisition_begin_t& event) {
  std::ostream& os = std::cout;
  os << "Acquisition begin: " << qnt_time_string(event.time) << "\n";
  switch (event.architecture) {
    case 0: os << "Architecture: i386\n"; break;
    case 1: os << "Architecture: x86_64\n"; break;
    default: os << "Architecture: unknown (" << event.architecture << ")\n"; break;
  }
  // Texts from the file, with control characters shown as \xNN: a newline
  // in them must not start a line of the report.
  os << "Command line:";
  for (const std::string& argument : event.argv) os << " " << printable_text(argument);
  os << "\n";
  os << "User: " << printable_text(event.user) << "\n";
}

void print_acquisition_end(const qnt_event_acquisition_end_t& event) {
  std::cout << "Acquisition end: " << qnt_time_string(event.time) << "\n";
}

void print_sample_period(const qnt_event_sample_period_t& event) {
  std::cout << "Nominal sample period: " << event.sample_period << "\n";
}

void print_mmap(const qnt_event_mmap_t& event) {
  // The file name with control characters shown as \xNN, so that neither a
  // newline nor a NUL in it cuts or forges lines.
  printf("Mmap: %lx-%lx %s\n", static_cast<unsigned long>(event.address),
         static_cast<unsigned long>(event.address + event.size),
         printable_text(event.filename).c_str());
}

// ---- Report ----------------------------------------------------------------------

namespace {

uint64_t sum_of_kind(const line_size_stat_t& stat, qnt_event_kind_t kind) {
  uint64_t sum = 0;
  auto counts = stat.kind_counts.find(kind);
  if (counts == stat.kind_counts.end()) return 0;
  for (const auto& entry : counts->second) sum += entry.second;
  return sum;
}

// Largest counts first, at most ten lines; with symbols each line gains two
// blanks and the pc's resolution.
void print_top_pcs(std::ostream& os, const pc_counters_t& counters, stats_symbols_t* symbols) {
  const pc_counters_t::count_order_t& by_counts = counters.by_count_order();
  int printed = 0;
  for (auto it = by_counts.rbegin(); it != by_counts.rend() && printed < 10; ++it, ++printed) {
    os << "    " << it->pc << ", " << it->count << " samples";
    if (symbols != nullptr && it->location != no_location) os << "  " << symbols->text(it->location);
    os << "\n";
  }
}

}  // namespace

double average_burst_length(const std::map<uint64_t, uint64_t>& begins,
                            const std::map<uint64_t, uint64_t>& ends) {
  uint64_t total = 0;  // nanoseconds; differences add up modulo 2^64
  uint64_t paired = 0;
  // Both maps are ordered by burst number: walk them side by side.
  auto begin = begins.begin();
  for (const auto& end : ends) {
    while (begin != begins.end() && begin->first < end.first) ++begin;
    if (begin == begins.end()) break;
    if (begin->first != end.first) continue;
    total += end.second - begin->second;
    ++paired;
  }
  if (paired == 0) return 0.0;
  return static_cast<double>(total) / 1000000000.0 / static_cast<double>(paired);
}

void print_line_size_section(const sample_file_stats_t& stats, qnt_line_size_t line_size,
                             const line_size_stat_t& stat) {
  std::ostream& os = std::cout;
  os << "Statitistics for line size " << line_size << ":\n";
  os << "  Sample begin events:  " << sum_of_kind(stat, kind_sample_begin) << "\n";
  os << "  Sample end events:    " << sum_of_kind(stat, kind_sample_end) << "\n";
  os << "  Sample begin times:   " << stat.begin_times.size() << "\n";
  os << "  Sample end times:     " << stat.end_times.size() << "\n";
  os << "  Acquisition accesses: " << stats.max_time() << "\n";
  os << "  Real sample period:   "
     << static_cast<double>(stats.max_time()) / static_cast<double>(stat.begin_times.size())
     << "\n";
  os << "  Dangling samples:     " << stat.danglings << "\n";
  os << "  Top sample begin pcs:\n";
  print_top_pcs(os, stat.begin_pcs, stats.symbols());
  os << "  Top sample end pcs:\n";
  print_top_pcs(os, stat.end_pcs, stats.symbols());
  if (stats.burst_count() != 0) {
    os << "  Burst begin events: " << stats.burst_begins().size() << "\n";
    os << "  Burst end events: " << stats.burst_ends().size() << "\n";
    os << "  Average burst length: "
       << average_burst_length(stats.burst_begins(), stats.burst_ends()) << " s\n";
  }
  os << "  Access type counts:\n";
  for (const auto& entry : stat.access_type_counts) {
    os << "    " << get_access_type_str(entry.first) << ": " << entry.second << "\n";
  }
}

void print_stats_report(const sample_file_stats_t& stats) {
  std::ostream& os = std::cout;
  os << "Stacks: " << stats.stack_count() << "\n";
  for (const auto& entry : stats.line_stats()) stats.print_line_size_stats(entry.first, entry.second);

  os << "Sample distribution over time (" << stats.bucket_width() << " accesses per bucket):\n";
  for (uint64_t count : stats.time_buckets()) os << count << "\n";
  os << "\n";

  os << "Communication patterns:\n";
  uint64_t total = 0;
  for (const auto& entry : stats.communication()) total += entry.second;
  for (const auto& entry : stats.communication()) {
    const comm_entry_t& key = entry.first;
    os << key.from_thread << " -> " << key.to_thread << "  " << get_access_type_str(key.from_type)
       << "-" << get_access_type_str(key.to_type) << "   : " << entry.second << "  ("
       << 100.0 * static_cast<double>(entry.second) / static_cast<double>(total) << "%)\n";
  }
}

}}  // namespace velkor::sample_stats
