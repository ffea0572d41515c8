#include "analysis/cache_line_report.h"

#include <algorithm>

namespace velkor { namespace library {

namespace {

const char* const sort_names[] = {"write-transfers", "accesses", "transfers", "writes",
                                  "threads"};
const unsigned sort_count = sizeof(sort_names) / sizeof(sort_names[0]);

uint64_t sort_value(const cache_line_counts_t& line, cache_line_sort_t sort) {
  switch (sort) {
    case sort_write_transfers: return line.transfers.with_write();
    case sort_accesses: return line.accesses;
    case sort_transfers: return line.transfers.transfers;
    case sort_writes: return line.writes;
    case sort_threads: return line.threads;
  }
  return 0;
}

// True when a comes before b.
bool ranks_before(const cache_line_counts_t& a, const cache_line_counts_t& b,
                  cache_line_sort_t sort) {
  const uint64_t va = sort_value(a, sort), vb = sort_value(b, sort);
  if (va != vb) return va > vb;
  const uint64_t wa = a.transfers.with_write(), wb = b.transfers.with_write();
  if (wa != wb) return wa > wb;
  if (a.accesses != b.accesses) return a.accesses > b.accesses;
  if (a.line_size != b.line_size) return a.line_size < b.line_size;
  return a.address < b.address;
}

report_thread_t thread_detail(const line_thread_view_t& entry) {
  report_thread_t thread;
  thread.thread = entry.thread;
  thread.other_threads = entry.other_threads;
  thread.accesses = entry.accesses;
  thread.reads = entry.reads;
  thread.writes = entry.writes;

  std::vector<const line_site_t*> sites;
  for (unsigned i = 0; i < entry.site_count; ++i) sites.push_back(&entry.sites[i]);
  std::sort(sites.begin(), sites.end(), [](const line_site_t* a, const line_site_t* b) {
    if (a->offset != b->offset) return a->offset < b->offset;
    if (a->length != b->length) return a->length < b->length;
    if (a->accesses != b->accesses) return a->accesses > b->accesses;
    return a->pc < b->pc;
  });
  uint64_t listed_accesses = 0, listed_reads = 0, listed_writes = 0;
  for (const line_site_t* site : sites) {
    if (thread.ranges.empty() || thread.ranges.back().offset != site->offset ||
        thread.ranges.back().length != site->length) {
      report_range_t range;
      range.offset = site->offset;
      range.length = site->length;
      thread.ranges.push_back(range);
    }
    report_range_t& range = thread.ranges.back();
    range.accesses += site->accesses;
    range.reads += site->reads;
    range.writes += site->writes;
    report_pc_t pc;
    pc.pc = site->pc;
    pc.accesses = site->accesses;
    pc.reads = site->reads;
    pc.writes = site->writes;
    range.pcs.push_back(pc);
    listed_accesses += site->accesses;
    listed_reads += site->reads;
    listed_writes += site->writes;
  }
  thread.unlisted_accesses = entry.accesses - listed_accesses;
  thread.unlisted_reads = entry.reads - listed_reads;
  thread.unlisted_writes = entry.writes - listed_writes;
  return thread;
}

report_line_t line_detail(const cache_line_stats_t& stats, const cache_line_t& line,
                          uint64_t all_write_transfers) {
  report_line_t report;
  report.line = line_counts(stats, line);
  if (all_write_transfers != 0) {
    report.write_transfer_percent =
        100.0 * static_cast<double>(report.line.transfers.with_write()) /
        static_cast<double>(all_write_transfers);
  }
  for_each_line_thread(stats, line, [&report](const line_thread_view_t& thread) {
    report.threads.push_back(thread_detail(thread));
  });
  std::sort(report.threads.begin(), report.threads.end(),
            [](const report_thread_t& a, const report_thread_t& b) {
              if (a.other_threads != b.other_threads) return b.other_threads;
              return a.thread < b.thread;
            });
  return report;
}

}  // namespace

const char* cache_line_sort_name(cache_line_sort_t sort) {
  return static_cast<unsigned>(sort) < sort_count ? sort_names[sort] : "unknown";
}

bool cache_line_sort_by_name(const std::string& name, cache_line_sort_t* sort) {
  for (unsigned i = 0; i < sort_count; ++i) {
    if (name == sort_names[i]) {
      *sort = static_cast<cache_line_sort_t>(i);
      return true;
    }
  }
  return false;
}

std::string cache_line_sort_names() {
  std::string names;
  for (unsigned i = 0; i < sort_count; ++i) {
    if (i != 0) names += ", ";
    names += sort_names[i];
  }
  return names;
}

cache_line_report_t build_cache_line_report(const cache_line_stats_t& stats,
                                            const cache_line_report_options_t& options) {
  cache_line_report_t report;
  report.options = options;
  report.default_line_size = stats.default_line_size;
  report.summary = stats.summary;

  // Left out: share * 100 < min_percent, compared without rounding (a long
  // double holds every 64-bit count exactly).
  const uint64_t all = stats.summary.transfers.with_write();
  const long double threshold = static_cast<long double>(options.min_percent) * all;
  std::vector<line_index_t> kept;            // into counts
  std::vector<cache_line_counts_t> counts;   // of the lines kept
  std::vector<line_index_t> lines_of_kept;  // their places in stats.lines
  for (size_t i = 0; i < stats.lines.size(); ++i) {
    const cache_line_t& line = stats.lines[i];
    // Only a line with two threads has transfers.
    const uint64_t with_write =
        line.more == no_index ? 0 : stats.more[line.more].transfers.with_write();
    if (static_cast<long double>(with_write) * 100 < threshold) {
      ++report.lines_below_threshold;
      report.write_transfers_below_threshold += with_write;
    } else {
      kept.push_back(static_cast<line_index_t>(counts.size()));
      counts.push_back(line_counts(stats, line));
      lines_of_kept.push_back(static_cast<line_index_t>(i));
    }
  }

  const cache_line_sort_t sort = options.sort;
  auto before = [&counts, sort](line_index_t a, line_index_t b) {
    return ranks_before(counts[a], counts[b], sort);
  };
  const size_t listed = options.top == 0 || options.top >= kept.size()
                            ? kept.size()
                            : static_cast<size_t>(options.top);
  std::partial_sort(kept.begin(), kept.begin() + listed, kept.end(), before);
  report.lines_beyond_top = kept.size() - listed;
  for (size_t i = 0; i < listed; ++i) {
    report.lines.push_back(line_detail(stats, stats.lines[lines_of_kept[kept[i]]], all));
  }
  return report;
}

}}  // namespace velkor::library
