#include "analysis/cache_line_report.h"

#include <algorithm>

namespace velkor { namespace library {

namespace {

const char* const sort_names[] = {"write-transfers", "accesses", "transfers", "writes",
                                  "threads"};
const unsigned sort_count = sizeof(sort_names) / sizeof(sort_names[0]);

// What ranking compares of a line: the value of the sort key and the
// counts that break ties.
struct ranked_t {
  uint64_t value;
  uint64_t with_write;
  uint64_t accesses;
  qnt_line_size_t line_size;
  uint64_t address;
  line_index_t index;  // in cache_line_stats_t::lines
};

ranked_t ranked(const cache_line_stats_t& stats, line_index_t index, cache_line_sort_t sort) {
  const cache_line_counts_t line = line_counts(stats, stats.lines[index]);
  ranked_t r;
  r.with_write = line.transfers.with_write();
  r.accesses = line.accesses;
  r.line_size = line.line_size;
  r.address = line.address;
  r.index = index;
  switch (sort) {
    case sort_accesses: r.value = line.accesses; break;
    case sort_transfers: r.value = line.transfers.transfers; break;
    case sort_writes: r.value = line.writes; break;
    case sort_threads: r.value = line.threads; break;
    case sort_write_transfers:
    default: r.value = r.with_write; break;
  }
  return r;
}

// True when a comes before b. The order is total: no two lines have the same
// size and address.
bool ranks_before(const ranked_t& a, const ranked_t& b) {
  if (a.value != b.value) return a.value > b.value;
  if (a.with_write != b.with_write) return a.with_write > b.with_write;
  if (a.accesses != b.accesses) return a.accesses > b.accesses;
  if (a.line_size != b.line_size) return a.line_size < b.line_size;
  return a.address < b.address;
}

report_thread_t thread_detail(const cache_line_stats_t& stats, const line_thread_view_t& entry) {
  report_thread_t thread;
  thread.thread = entry.thread;
  thread.other_threads = entry.other_threads;
  thread.accesses = entry.accesses;
  thread.reads = entry.reads;
  thread.writes = entry.writes;

  // A pc with several kinds of access at one byte range has a site for
  // each: they show as one pc.
  struct site_t {
    const site_key_t* key;
    uint64_t accesses, reads, writes;
  };
  std::vector<site_t> sites;
  for (unsigned i = 0; i < entry.site_count; ++i) {
    const site_key_t& key = stats.site_keys[entry.sites[i].key];
    const uint64_t accesses = entry.sites[i].accesses;
    sites.push_back({&key, accesses, key.reads() ? accesses : 0, key.writes() ? accesses : 0});
  }
  auto same_place = [](const site_key_t* a, const site_key_t* b) {
    return a->offset == b->offset && a->length == b->length && a->pc == b->pc;
  };
  std::sort(sites.begin(), sites.end(), [](const site_t& a, const site_t& b) {
    if (a.key->offset != b.key->offset) return a.key->offset < b.key->offset;
    if (a.key->length != b.key->length) return a.key->length < b.key->length;
    return a.key->pc < b.key->pc;
  });
  size_t kept = 0;
  for (size_t i = 0; i < sites.size(); ++i) {
    if (kept != 0 && same_place(sites[kept - 1].key, sites[i].key)) {
      sites[kept - 1].accesses += sites[i].accesses;
      sites[kept - 1].reads += sites[i].reads;
      sites[kept - 1].writes += sites[i].writes;
    } else {
      sites[kept++] = sites[i];
    }
  }
  sites.resize(kept);
  // Each range's pcs with the most accesses first, then by pc.
  std::sort(sites.begin(), sites.end(), [](const site_t& a, const site_t& b) {
    if (a.key->offset != b.key->offset) return a.key->offset < b.key->offset;
    if (a.key->length != b.key->length) return a.key->length < b.key->length;
    if (a.accesses != b.accesses) return a.accesses > b.accesses;
    return a.key->pc < b.key->pc;
  });
  uint64_t listed_accesses = 0, listed_reads = 0, listed_writes = 0;
  for (const site_t& site : sites) {
    const site_key_t& key = *site.key;
    if (thread.ranges.empty() || thread.ranges.back().offset != key.offset ||
        thread.ranges.back().length != key.length) {
      report_range_t range;
      range.offset = key.offset;
      range.length = key.length;
      thread.ranges.push_back(range);
    }
    report_range_t& range = thread.ranges.back();
    range.accesses += site.accesses;
    range.reads += site.reads;
    range.writes += site.writes;
    report_pc_t pc;
    pc.pc = key.pc;
    if (stats.has_locations) {
      auto found = stats.pc_locations.find(key.pc.value);
      if (found != stats.pc_locations.end()) pc.location = found->second;
    }
    pc.accesses = site.accesses;
    pc.reads = site.reads;
    pc.writes = site.writes;
    range.pcs.push_back(pc);
    listed_accesses += site.accesses;
    listed_reads += site.reads;
    listed_writes += site.writes;
  }
  thread.unlisted_accesses = entry.accesses - listed_accesses;
  thread.unlisted_reads = entry.reads - listed_reads;
  thread.unlisted_writes = entry.writes - listed_writes;
  return thread;
}

report_line_t line_detail(const cache_line_stats_t& stats, line_index_t index,
                          uint64_t all_write_transfers) {
  const cache_line_t& line = stats.lines[index];
  report_line_t report;
  report.line = line_counts(stats, line);
  if (stats.has_locations) report.location = stats.line_locations[index];
  if (all_write_transfers != 0) {
    report.write_transfer_percent =
        100.0 * static_cast<double>(report.line.transfers.with_write()) /
        static_cast<double>(all_write_transfers);
  }
  for_each_line_thread(stats, line, [&](const line_thread_view_t& thread) {
    report.threads.push_back(thread_detail(stats, thread));
  });
  std::sort(report.threads.begin(), report.threads.end(),
            [](const report_thread_t& a, const report_thread_t& b) {
              if (a.other_threads != b.other_threads) return b.other_threads;
              return a.thread < b.thread;
            });
  return report;
}

}  // namespace

resolution_t report_symbol_t::view() const {
  resolution_t r;
  r.role = role;
  r.mapped = mapped;
  r.module = module_id;
  r.module_info = mapped ? &module : nullptr;
  r.offset = offset;
  r.symbol = has_symbol ? &symbol : nullptr;
  r.symbol_offset = symbol_offset;
  return r;
}

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
  // The first options.top lines kept, in a heap whose front ranks last
  // (all of them when top is 0), and how many were kept.
  const cache_line_sort_t sort = options.sort;
  std::vector<ranked_t> best;
  uint64_t kept = 0;
  auto keep = [&](line_index_t index) {
    ++kept;
    const ranked_t r = ranked(stats, index, sort);
    if (options.top == 0 || best.size() < options.top) {
      best.push_back(r);
      if (options.top != 0) std::push_heap(best.begin(), best.end(), ranks_before);
    } else if (ranks_before(r, best.front())) {
      std::pop_heap(best.begin(), best.end(), ranks_before);
      best.back() = r;
      std::push_heap(best.begin(), best.end(), ranks_before);
    }
  };
  if (threshold > 0) {
    // Only lines with a line_more_t have transfers: every other line is
    // below the threshold.
    uint64_t kept_write_transfers = 0;
    for (size_t i = 0; i < stats.more.size(); ++i) {
      const uint64_t with_write = stats.more[i].transfers.with_write();
      if (static_cast<long double>(with_write) * 100 >= threshold) {
        keep(stats.more[i].line);
        kept_write_transfers += with_write;
      }
    }
    report.lines_below_threshold = stats.lines.size() - kept;
    report.write_transfers_below_threshold = all - kept_write_transfers;
  } else {
    for (size_t i = 0; i < stats.lines.size(); ++i) keep(static_cast<line_index_t>(i));
  }

  std::sort(best.begin(), best.end(), ranks_before);
  report.lines_beyond_top = kept - best.size();
  report.has_locations = stats.has_locations;
  for (const ranked_t& r : best) report.lines.push_back(line_detail(stats, r.index, all));
  return report;
}

}}  // namespace velkor::library
