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

// Largest counts first; with symbols each line gains two blanks and the pc's
// resolution.
void print_top_pcs(std::ostream& os, const std::vector<top_pc_t>& pcs, stats_symbols_t* symbols) {
  for (const top_pc_t& pc : pcs) {
    os << "    " << pc.pc << ", " << pc.samples << " samples";
    if (symbols != nullptr && pc.location != no_location) os << "  " << symbols->text(pc.location);
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

void print_line_size_section(const line_size_report_t& r, stats_symbols_t* symbols) {
  std::ostream& os = std::cout;
  os << "Statitistics for line size " << r.line_size << ":\n";
  os << "  Sample begin events:  " << r.begin_events << "\n";
  os << "  Sample end events:    " << r.end_events << "\n";
  os << "  Sample begin times:   " << r.begin_times << "\n";
  os << "  Sample end times:     " << r.end_times << "\n";
  os << "  Acquisition accesses: " << r.acquisition_accesses << "\n";
  os << "  Real sample period:   " << r.real_sample_period << "\n";
  os << "  Dangling samples:     " << r.danglings << "\n";
  os << "  Top sample begin pcs:\n";
  print_top_pcs(os, r.top_begin_pcs, symbols);
  os << "  Top sample end pcs:\n";
  print_top_pcs(os, r.top_end_pcs, symbols);
  if (r.has_bursts) {
    os << "  Burst begin events: " << r.burst_begins << "\n";
    os << "  Burst end events: " << r.burst_ends << "\n";
    os << "  Average burst length: " << r.average_burst_seconds << " s\n";
  }
  os << "  Access type counts:\n";
  for (const auto& entry : r.access_types) {
    os << "    " << get_access_type_str(entry.first) << ": " << entry.second << "\n";
  }
}

void print_stats_report(const stats_model_t& model, stats_symbols_t* symbols) {
  std::ostream& os = std::cout;
  os << "Stacks: " << model.stacks << "\n";
  for (const line_size_report_t& r : model.line_sizes) print_line_size_section(r, symbols);

  os << "Sample distribution over time (" << model.bucket_width << " accesses per bucket):\n";
  for (uint64_t count : model.time_buckets) os << count << "\n";
  os << "\n";

  os << "Communication patterns:\n";
  for (const communication_report_t& c : model.communication) {
    const comm_entry_t& key = c.key;
    os << key.from_thread << " -> " << key.to_thread << "  " << get_access_type_str(key.from_type)
       << "-" << get_access_type_str(key.to_type) << "   : " << c.count << "  (" << c.percent
       << "%)\n";
  }
  if (model.reuse) print_reuse_section(model);
}

void print_stats_report(const sample_file_stats_t& stats) {
  print_stats_report(build_stats_model(stats, stream_container_header_t(), 10), stats.symbols());
}

void print_reuse_section(const stats_model_t& model) {
  std::ostream& os = std::cout;
  os << "\n";
  os << "Reuse times (accesses from a sample's begin to its first end):\n";
  for (const line_size_report_t& r : model.line_sizes) {
    os << "  Line size " << r.line_size << ":\n";
    os << "    Samples with an end: " << r.reuse.samples << ", median " << r.reuse.median
       << ", 90th percentile " << r.reuse.p90 << "\n";
    os << "    Samples without an end: " << r.danglings << " dangling, " << r.killed
       << " killed, " << r.without_ends << " without ends\n";
    if (r.ends_before_begins != 0) {
      os << "    Ends before their begins: " << r.ends_before_begins << "\n";
    }
    for (const library::reuse_range_t& range : r.reuse_ranges) {
      os << "    " << range.from << "-" << range.to << ": " << range.samples << "\n";
    }
    os << "    Top sample begin pcs:\n";
    for (const top_pc_t& pc : r.top_begin_pcs) {
      os << "      " << pc.pc << ", " << pc.reuse.samples << " samples with an end, median "
         << pc.reuse.median << ", 90th percentile " << pc.reuse.p90 << "\n";
    }
  }
}

}}  // namespace velkor::sample_stats
