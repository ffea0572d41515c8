// The cache-line analysis fed with events built here: planted lines of each
// verdict in complete samples and in separate begins and ends (either
// first), the ranking of the report, and the edge cases: samples without a
// line size, mixed line sizes, accesses past the end of their line, unknown
// access types, a sample with hundreds of ends, pairs across lines, the
// bounds of threads and sites per line, and long lines cut into granules.
#include "analysis/cache_lines.h"

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/cache_line_report.h"
#include "events/qnt_events.h"
#include "symbols/address_space.h"

namespace {

using namespace velkor::library;

// ---- Events --------------------------------------------------------------------

struct access_t {
  uint32_t thread;
  uint64_t addr;
  qnt_access_type_t type;
  uint16_t size;
  uint64_t pc;
};

qnt_sample_access_t sampled(const access_t& a) {
  qnt_sample_access_t s;
  s.thread = a.thread;
  s.addr = a.addr;
  s.access_type = a.type;
  s.size = a.size;
  s.pc = a.pc;
  return s;
}

// A complete sample; line size given as its logarithm (255: none).
qnt_event_sample_t sample(const std::vector<access_t>& accesses, uint8_t line_size_log = 6) {
  qnt_event_sample_t e;
  e.begin = sampled(accesses.front());
  for (size_t i = 1; i < accesses.size(); ++i) e.ends.push_back(sampled(accesses[i]));
  e.line_size = line_size_log;
  return e;
}

qnt_event_sample_begin_t begin(uint32_t id, const access_t& a, qnt_line_size_t line_size = 64) {
  qnt_event_sample_begin_t e;
  e.sample_id = id;
  e.thread_id = a.thread;
  e.addr = a.addr;
  e.access_type = a.type;
  e.access_size = a.size;
  e.pc = a.pc;
  e.line_size = line_size;
  return e;
}

qnt_event_sample_end_t end(uint32_t id, const access_t& a) {
  qnt_event_sample_end_t e;
  e.sample_id = id;
  e.thread_id = a.thread;
  e.addr = a.addr;
  e.access_type = a.type;
  e.access_size = a.size;
  e.pc = a.pc;
  return e;
}

void feed(cache_lines_flow_t& flow, const qnt_event_t& event) {
  ASSERT_EQ(flow.process_event(event), flow_status_ok);
}

// ---- Reading the result ------------------------------------------------------------

// The counts of a line as one comparable tuple.
struct line_row_t {
  uint64_t address, line_size, accesses, reads, writes, pairs, transfers, write_read,
      write_write, read_write, read_read;
  uint32_t threads, writers;
  std::string verdict;

  auto key() const {
    return std::tie(address, line_size, accesses, reads, writes, pairs, transfers, write_read,
                    write_write, read_write, read_read, threads, writers, verdict);
  }
  bool operator==(const line_row_t& o) const { return key() == o.key(); }
};

std::ostream& operator<<(std::ostream& os, const line_row_t& r) {
  return os << std::hex << "0x" << r.address << std::dec << "/" << r.line_size << " acc "
            << r.accesses << " r " << r.reads << " w " << r.writes << " pairs " << r.pairs
            << " xfer " << r.transfers << " (" << r.write_read << " " << r.write_write << " "
            << r.read_write << " " << r.read_read << ") threads " << r.threads << " writers "
            << r.writers << " " << r.verdict;
}

line_row_t row(const cache_line_counts_t& c) {
  return {c.address,
          c.line_size,
          c.accesses,
          c.reads,
          c.writes,
          c.pairs,
          c.transfers.transfers,
          c.transfers.write_read,
          c.transfers.write_write,
          c.transfers.read_write,
          c.transfers.read_read,
          c.threads,
          c.writer_threads,
          cache_line_verdict_name(c.verdict)};
}

// Every line, in the order of the result.
std::vector<line_row_t> rows(const cache_line_stats_t& stats) {
  std::vector<line_row_t> all;
  for (size_t i = 0; i < stats.lines.size(); ++i) all.push_back(row(line_counts(stats, stats.lines[i])));
  return all;
}

// "thread:first-last:pc:accesses/reads/writes" for every site of a report
// line, in the report's order.
std::vector<std::string> sites(const report_line_t& line) {
  std::vector<std::string> all;
  for (const report_thread_t& thread : line.threads) {
    for (const report_range_t& range : thread.ranges) {
      for (const report_pc_t& pc : range.pcs) {
        all.push_back(std::to_string(thread.thread) + ":" + std::to_string(range.offset) + "-" +
                      std::to_string(range.offset + range.length - 1) + ":" +
                      std::to_string(pc.pc.value) + ":" + std::to_string(pc.accesses) + "/" +
                      std::to_string(pc.reads) + "/" + std::to_string(pc.writes));
      }
    }
  }
  return all;
}

// ---- The four verdicts ---------------------------------------------------------------

const qnt_access_type_t RD = qnt_access_rd, WR = qnt_access_wr, RW = qnt_access_rdwr;

// Four lines of 64 bytes and the samples that touch them, in order.
const std::vector<std::vector<access_t>> planted = {
    // 0x1000, false sharing: thread 1 owns bytes 0-7, thread 2 bytes 8-15.
    {{1, 0x1000, WR, 8, 0x4001}, {2, 0x1008, WR, 8, 0x4002}},
    {{2, 0x1008, WR, 8, 0x4002}, {1, 0x1000, RD, 8, 0x4003}},
    // 0x2000, true sharing: both threads update bytes 0-7.
    {{1, 0x2000, RW, 8, 0x4011}, {2, 0x2000, RW, 8, 0x4011}},
    {{2, 0x2004, RD, 4, 0x4012}, {1, 0x2000, WR, 8, 0x4013}},
    // 0x3000, read-shared.
    {{1, 0x3000, RD, 8, 0x4021}, {3, 0x3010, RD, 8, 0x4022}},
    // 0x4000, private.
    {{1, 0x4000, WR, 8, 0x4031}, {1, 0x4008, RD, 8, 0x4032}},
};

const std::vector<line_row_t> planted_rows = {
    {0x1000, 64, 4, 1, 3, 2, 2, 1, 1, 0, 0, 2, 2, "false-sharing"},
    {0x2000, 64, 4, 3, 3, 2, 2, 0, 1, 1, 0, 2, 2, "true-sharing"},
    {0x3000, 64, 2, 2, 0, 1, 1, 0, 0, 0, 1, 2, 0, "read-shared"},
    {0x4000, 64, 2, 1, 1, 1, 0, 0, 0, 0, 0, 1, 1, "private"},
};

enum form_t { complete, begin_first, end_first };

void feed_planted(cache_lines_flow_t& flow, form_t form) {
  uint32_t id = 100;
  for (const auto& s : planted) {
    ++id;
    switch (form) {
      case complete: feed(flow, sample(s)); break;
      case begin_first:
        feed(flow, begin(id, s[0]));
        feed(flow, end(id, s[1]));
        break;
      case end_first:
        feed(flow, end(id, s[1]));
        feed(flow, begin(id, s[0]));
        break;
    }
  }
}

TEST(CacheLines, PlantedLinesGetTheirVerdictsInEveryForm) {
  const struct {
    const char* name;
    form_t form;
  } cases[] = {{"complete samples", complete},
               {"begin, then end", begin_first},
               {"end, then begin", end_first}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    cache_lines_flow_t flow;
    feed_planted(flow, c.form);
    const cache_line_stats_t& stats = flow.result();
    EXPECT_EQ(rows(stats), planted_rows);

    const cache_line_summary_t& s = stats.summary;
    EXPECT_EQ(s.lines, 4u);
    EXPECT_EQ(s.shared_lines, 3u);
    EXPECT_EQ(s.lines_by_verdict[verdict_false_sharing], 1u);
    EXPECT_EQ(s.lines_by_verdict[verdict_true_sharing], 1u);
    EXPECT_EQ(s.lines_by_verdict[verdict_read_shared], 1u);
    EXPECT_EQ(s.lines_by_verdict[verdict_private], 1u);
    EXPECT_EQ(s.accesses, 12u);
    EXPECT_EQ(s.reads, 7u);
    EXPECT_EQ(s.writes, 7u);
    EXPECT_EQ(s.pairs, 6u);
    EXPECT_EQ(s.transfers.transfers, 5u);
    EXPECT_EQ(s.transfers.with_write(), 4u);
    EXPECT_EQ(s.samples, c.form == complete ? 6u : 0u);
    EXPECT_EQ(s.matched_pairs, c.form == complete ? 0u : 6u);
    EXPECT_EQ(s.unmatched_begins + s.unmatched_ends, 0u);

    // Ranked by transfers involving a write: the two lines with 2 tie and
    // go by address; the other two are below 0.1 % of the 4.
    cache_line_report_t report = build_cache_line_report(stats, cache_line_report_options_t());
    ASSERT_EQ(report.lines.size(), 2u);
    EXPECT_EQ(row(report.lines[0].line), planted_rows[0]);
    EXPECT_EQ(row(report.lines[1].line), planted_rows[1]);
    EXPECT_DOUBLE_EQ(report.lines[0].write_transfer_percent, 50);
    EXPECT_EQ(report.lines_below_threshold, 2u);
    EXPECT_EQ(report.write_transfers_below_threshold, 0u);
    EXPECT_EQ(report.lines_beyond_top, 0u);
    // Threads by id; each thread's ranges with their pcs, most accesses
    // first, then by pc.
    EXPECT_EQ(sites(report.lines[0]),
              (std::vector<std::string>{"1:0-7:16385:1/0/1", "1:0-7:16387:1/1/0",
                                        "2:8-15:16386:2/0/2"}));
    EXPECT_EQ(sites(report.lines[1]),
              (std::vector<std::string>{"1:0-7:16401:1/1/1", "1:0-7:16403:1/0/1",
                                        "2:0-7:16401:1/1/1", "2:4-7:16402:1/1/0"}));
  }
}

TEST(CacheLines, ReportRanksByTheChosenKey) {
  cache_lines_flow_t flow;
  feed_planted(flow, complete);
  const cache_line_stats_t& stats = flow.result();
  const struct {
    cache_line_sort_t sort;
    double min_percent;
    uint64_t top;
    std::vector<uint64_t> addresses;
    uint64_t below, beyond;
  } cases[] = {
      {sort_accesses, 0, 0, {0x1000, 0x2000, 0x3000, 0x4000}, 0, 0},
      {sort_writes, 0, 0, {0x1000, 0x2000, 0x4000, 0x3000}, 0, 0},
      {sort_threads, 0, 3, {0x1000, 0x2000, 0x3000}, 0, 1},
      {sort_transfers, 0, 1, {0x1000}, 0, 3},
      // 50 % each: neither is below 50, both are below 50.5.
      {sort_write_transfers, 50, 0, {0x1000, 0x2000}, 2, 0},
      {sort_write_transfers, 50.5, 0, {}, 4, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(cache_line_sort_name(c.sort)) + " " + std::to_string(c.min_percent));
    cache_line_report_options_t options;
    options.sort = c.sort;
    options.min_percent = c.min_percent;
    options.top = c.top;
    cache_line_report_t report = build_cache_line_report(stats, options);
    std::vector<uint64_t> addresses;
    for (const report_line_t& line : report.lines) addresses.push_back(line.line.address);
    EXPECT_EQ(addresses, c.addresses);
    EXPECT_EQ(report.lines_below_threshold, c.below);
    EXPECT_EQ(report.lines_beyond_top, c.beyond);
  }
}

// ---- Edge cases ------------------------------------------------------------------------

// Every line after feeding the events to a flow with the given default line
// size, and the summary.
struct fed_t {
  std::vector<line_row_t> lines;
  cache_line_summary_t summary;
};

template <class... Events>
fed_t fed(qnt_line_size_t default_line_size, const Events&... events) {
  cache_lines_flow_t flow(default_line_size);
  (feed(flow, events), ...);
  fed_t result;
  result.lines = rows(flow.result());
  result.summary = flow.result().summary;
  return result;
}

TEST(CacheLines, SamplesWithoutLineSizeCountUnderTheDefault) {
  fed_t got = fed(128, sample({{1, 0x50f0, WR, 8, 1}, {2, 0x5008, RD, 8, 2}}, 255),
                  begin(7, {1, 0x5040, RD, 8, 3}, 0), end(7, {1, 0x5048, RD, 8, 4}));
  EXPECT_EQ(got.lines, (std::vector<line_row_t>{
                           {0x5080, 128, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1, 1, "private"},
                           {0x5000, 128, 3, 3, 0, 1, 0, 0, 0, 0, 0, 2, 0, "read-shared"}}));
  EXPECT_EQ(got.summary.samples_without_line_size, 2u);
  // The begin and end of a sample in two lines: a pair of neither.
  EXPECT_EQ(got.summary.pairs_across_lines, 1u);
}

TEST(CacheLines, LineSizesMakeDistinctLines) {
  // The same bytes in a 64-byte and in a 128-byte sample are two lines;
  // lines of one size that hold the same 128 bytes stay apart too.
  fed_t got = fed(64, sample({{1, 0x6010, WR, 8, 1}}, 6), sample({{2, 0x6010, WR, 8, 1}}, 7),
                  sample({{3, 0x6050, RD, 8, 1}}, 6), sample({{4, 0x6050, RD, 8, 1}}, 7));
  EXPECT_EQ(got.lines, (std::vector<line_row_t>{
                           {0x6000, 64, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1, 1, "private"},
                           {0x6000, 128, 2, 1, 1, 0, 0, 0, 0, 0, 0, 2, 1, "false-sharing"},
                           {0x6040, 64, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, "private"}}));
}

TEST(CacheLines, AnAccessPastItsLineCountsWhereItStarts) {
  // 8 bytes from offset 60: bytes 60-63 of line 0x7000, nothing of 0x7040,
  // whose thread then writes bytes that the cut access did not reach.
  cache_lines_flow_t flow;
  feed(flow, sample({{1, 0x703c, WR, 8, 1}, {2, 0x7000, WR, 4, 2}}));
  feed(flow, sample({{3, 0x7040, WR, 4, 3}}));
  const cache_line_stats_t& stats = flow.result();
  EXPECT_EQ(rows(stats), (std::vector<line_row_t>{
                             {0x7000, 64, 2, 0, 2, 1, 1, 0, 1, 0, 0, 2, 2, "false-sharing"},
                             {0x7040, 64, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1, 1, "private"}}));
  EXPECT_EQ(stats.summary.straddling_accesses, 1u);
  cache_line_report_t report = build_cache_line_report(stats, cache_line_report_options_t());
  ASSERT_EQ(report.lines.size(), 1u);
  EXPECT_EQ(sites(report.lines[0]), (std::vector<std::string>{"1:60-63:1:1/0/1", "2:0-3:2:1/0/1"}));
}

TEST(CacheLines, UnknownAccessTypesNeitherReadNorWrite) {
  // Type 13 and 255 have no class; the transfers with them are of no kind.
  fed_t got = fed(64, sample({{1, 0x8000, 13, 8, 1}, {2, 0x8000, WR, 8, 2}, {1, 0x8000, 255, 8, 3},
                              {2, 0x8000, RD, 8, 4}}));
  EXPECT_EQ(got.lines, (std::vector<line_row_t>{
                           {0x8000, 64, 4, 1, 1, 3, 3, 0, 0, 0, 0, 2, 1, "true-sharing"}}));
  EXPECT_EQ(got.summary.unknown_type_accesses, 2u);
}

TEST(CacheLines, EveryEndOfALongSampleCounts) {
  // Thread 1 writes, thread 2 reads the same bytes, 300 ends by turns: one
  // writer of two threads.
  std::vector<access_t> accesses{{1, 0x9000, WR, 8, 1}};
  for (int i = 0; i < 300; ++i) {
    accesses.push_back(i % 2 == 0 ? access_t{2, 0x9000, RD, 8, 2} : access_t{1, 0x9000, WR, 8, 1});
  }
  fed_t got = fed(64, sample(accesses));
  EXPECT_EQ(got.lines, (std::vector<line_row_t>{
                           {0x9000, 64, 301, 150, 151, 300, 300, 150, 0, 150, 0, 2, 1, "true-sharing"}}));
}

TEST(CacheLines, SeparateBeginsAndEndsWaitByIdAndReplaceTheirKind) {
  // Two begins of sample 5: the second waits, the first counts as
  // unmatched. An end of sample 6 that never meets its begin, a begin of 8
  // that never meets its end. A zero size covers one byte.
  fed_t got = fed(64, begin(5, {1, 0xa000, RD, 8, 1}), begin(5, {2, 0xa040, RD, 0, 2}),
                  end(6, {3, 0xa080, WR, 8, 3}), end(5, {3, 0xa041, WR, 1, 4}),
                  begin(8, {4, 0xa0c0, WR, 8, 5}));
  EXPECT_EQ(got.lines, (std::vector<line_row_t>{
                           {0xa040, 64, 2, 1, 1, 1, 1, 0, 0, 1, 0, 2, 1, "false-sharing"}}));
  EXPECT_EQ(got.summary.matched_pairs, 1u);
  EXPECT_EQ(got.summary.unmatched_begins, 2u);
  EXPECT_EQ(got.summary.unmatched_ends, 1u);
}

TEST(CacheLines, ManyWaitingSamplesMeetTheirPartners) {
  // Thousands waiting at once, ends first for every third: the table grows
  // and takes entries out from the middle of its runs.
  cache_lines_flow_t flow;
  const uint32_t count = 5000;
  for (uint32_t id = 0; id < count; ++id) {
    const access_t a{1, 0x100000 + 64 * uint64_t(id), RD, 8, 1};
    if (id % 3 == 0) {
      feed(flow, end(id, a));
    } else {
      feed(flow, begin(id, a));
    }
  }
  for (uint32_t id = count; id-- > 0;) {
    const access_t a{2, 0x100000 + 64 * uint64_t(id), WR, 8, 2};
    if (id % 3 == 0) {
      feed(flow, begin(id, a));
    } else {
      feed(flow, end(id, a));
    }
  }
  const cache_line_stats_t& stats = flow.result();
  EXPECT_EQ(stats.summary.matched_pairs, count);
  EXPECT_EQ(stats.summary.unmatched_begins + stats.summary.unmatched_ends, 0u);
  EXPECT_EQ(stats.summary.lines, count);
  EXPECT_EQ(stats.summary.transfers.transfers, count);
  EXPECT_EQ(stats.summary.transfers.read_write, count / 3 * 2 + (count % 3 == 2 ? 1 : 0));
  EXPECT_EQ(stats.summary.transfers.write_read, count - stats.summary.transfers.read_write);
}

TEST(CacheLines, LongLinesAreToldApartByGranule) {
  // A 4096-byte line is 128 granules of 32 bytes: bytes 0-7 and 16-23 share
  // one, 0-7 and 64-71 do not. A 128-byte line is told apart by the byte.
  fed_t got = fed(64, sample({{1, 0xb000, WR, 8, 1}, {2, 0xb010, WR, 8, 2}}, 12),
                  sample({{1, 0x10000, WR, 8, 1}, {2, 0x10040, WR, 8, 2}}, 12),
                  sample({{1, 0x20000, WR, 1, 1}, {2, 0x20001, WR, 1, 2}}, 7));
  ASSERT_EQ(got.lines.size(), 3u);
  EXPECT_EQ(got.lines[0].verdict, "true-sharing");
  EXPECT_EQ(got.lines[1].verdict, "false-sharing");
  EXPECT_EQ(got.lines[2].verdict, "false-sharing");
}

TEST(CacheLines, DetailIsBoundedPerLine) {
  // One thread at 20 offsets keeps 16 sites; 300 threads on one line keep
  // 256 entries and one for the rest.
  cache_lines_flow_t flow;
  for (uint64_t i = 0; i < 20; ++i) feed(flow, sample({{1, 0xc000 + 2 * i, RD, 2, 0x40 + i}}));
  for (uint32_t t = 0; t < 300; ++t) feed(flow, sample({{1000 + t, 0xd000, WR, 8, 7}}));
  const cache_line_stats_t& stats = flow.result();
  cache_line_report_options_t options;
  options.sort = sort_threads;
  options.min_percent = 0;
  cache_line_report_t report = build_cache_line_report(stats, options);
  ASSERT_EQ(report.lines.size(), 2u);

  const report_line_t& crowded = report.lines[0];
  EXPECT_EQ(crowded.line.threads, max_threads_per_line);
  EXPECT_EQ(crowded.line.accesses, 300u);
  ASSERT_EQ(crowded.threads.size(), max_threads_per_line + 1);
  EXPECT_TRUE(crowded.threads.back().other_threads);
  EXPECT_EQ(crowded.threads.back().accesses, 300 - max_threads_per_line);
  EXPECT_TRUE(crowded.threads.back().ranges.empty());
  EXPECT_EQ(crowded.line.verdict, verdict_true_sharing);

  const report_line_t& busy = report.lines[1];
  ASSERT_EQ(busy.threads.size(), 1u);
  const report_thread_t& thread = busy.threads[0];
  EXPECT_EQ(thread.accesses, 20u);
  EXPECT_EQ(thread.ranges.size(), max_sites_per_thread);
  EXPECT_EQ(thread.unlisted_accesses, 20 - max_sites_per_thread);
  EXPECT_EQ(thread.unlisted_reads, 20 - max_sites_per_thread);
  EXPECT_EQ(thread.ranges.front().offset, 0u);
  EXPECT_EQ(thread.ranges.back().offset, 2 * (max_sites_per_thread - 1));
}

TEST(CacheLines, BytesPastTheSitesBoundStillDecideTheVerdict) {
  // Thread 1 alone reads 16 single bytes, then byte 40, which no site keeps;
  // thread 2 then writes byte 40: the threads share that byte.
  cache_lines_flow_t flow;
  for (uint64_t i = 0; i < 16; ++i) feed(flow, sample({{1, 0xe000 + i, RD, 1, 1}}));
  feed(flow, sample({{1, 0xe028, RD, 1, 1}}));
  feed(flow, sample({{2, 0xe028, WR, 1, 2}}));
  EXPECT_EQ(rows(flow.result()), (std::vector<line_row_t>{
                                     {0xe000, 64, 18, 17, 1, 0, 0, 0, 0, 0, 0, 2, 1, "true-sharing"}}));
}

TEST(CacheLines, OwnSitesMoveToTheirThreadWhenASecondThreadComes) {
  // Thread 1 alone at n single bytes (in the line's record up to four, in a
  // block of 8 or 16 beyond), then thread 2 writes byte 40 and byte n - 1:
  // every site of thread 1 is kept, and its last byte is shared.
  for (unsigned n : {1u, 3u, 4u, 5u, 8u, 9u, 16u}) {
    SCOPED_TRACE(n);
    cache_lines_flow_t flow;
    for (unsigned i = 0; i < n; ++i) feed(flow, sample({{1, 0xf000 + i, RD, 1, 0x100 + i}}));
    feed(flow, sample({{2, 0xf028, WR, 1, 0x200}, {2, 0xf000 + n - 1, WR, 1, 0x201}}));
    cache_line_report_options_t options;
    options.min_percent = 0;
    cache_line_report_t report = build_cache_line_report(flow.result(), options);
    ASSERT_EQ(report.lines.size(), 1u);
    std::vector<std::string> expected;
    for (unsigned i = 0; i < n; ++i) {
      expected.push_back("1:" + std::to_string(i) + "-" + std::to_string(i) + ":" +
                         std::to_string(0x100 + i) + ":1/1/0");
    }
    const std::string last = std::to_string(n - 1) + "-" + std::to_string(n - 1);
    expected.push_back("2:" + last + ":513:1/0/1");
    expected.push_back("2:40-40:512:1/0/1");
    EXPECT_EQ(sites(report.lines[0]), expected);
    EXPECT_EQ(row(report.lines[0].line),
              (line_row_t{0xf000, 64, n + 2, n, 2, 1, 0, 0, 0, 0, 0, 2, 1, "true-sharing"}));
  }
}

TEST(CacheLines, APcThatReadAndWroteTheSameBytesShowsOnce) {
  // One thread reads, writes and updates bytes 0-7 from one pc: a site for
  // each kind of access, one pc in the report with all three.
  cache_lines_flow_t flow;
  feed(flow, sample({{1, 0x11000, RD, 8, 0x500}, {1, 0x11000, WR, 8, 0x500},
                     {1, 0x11000, RW, 8, 0x500}, {1, 0x11000, RD, 8, 0x500}}));
  cache_line_report_options_t options;
  options.min_percent = 0;
  cache_line_report_t report = build_cache_line_report(flow.result(), options);
  ASSERT_EQ(report.lines.size(), 1u);
  EXPECT_EQ(sites(report.lines[0]), (std::vector<std::string>{"1:0-7:1280:4/3/2"}));
  ASSERT_EQ(report.lines[0].threads.size(), 1u);
  EXPECT_EQ(report.lines[0].threads[0].unlisted_accesses, 0u);
}

TEST(CacheLines, LocationsAreThoseOfTheMappingsAtFirstCount) {
  // pc 0x401000 and line 0x402000 are first counted in /a, mapped from file
  // offset 0x1000; /b then replaces /a. They keep /a; pc 0x401010 and line
  // 0x402040, first counted after, lie in /b; an address outside every
  // mapping is outside. The samples waiting in the flow's queue are counted
  // before the mapping changes.
  address_space_t space;
  cache_lines_flow_t flow;
  flow.follow_mappings(&space);
  qnt_event_mmap_t a;
  a.address = 0x400000;
  a.size = 0x10000;
  a.offset = 0x1000;
  a.filename = "/a";
  feed(flow, a);
  feed(flow, sample({{1, 0x402000, RD, 8, 0x401000}}));
  qnt_event_mmap_t b = a;
  b.offset = 0;
  b.filename = "/b";
  feed(flow, b);
  feed(flow, sample({{1, 0x402000, RD, 8, 0x401000}, {1, 0x402008, RD, 8, 0x401010}}));
  feed(flow, sample({{1, 0x402040, RD, 8, 0x401010}}));
  feed(flow, sample({{1, 0x900000, RD, 8, 0x900000}}));
  const cache_line_stats_t& stats = flow.result();
  ASSERT_TRUE(stats.has_locations);
  auto text = [&space](const mapped_location_t& l) {
    return l.mapped ? space.module(l.module).path + "+" + std::to_string(l.offset) : "outside";
  };
  ASSERT_EQ(stats.line_locations.size(), 3u);
  EXPECT_EQ(text(stats.line_locations[0]), "/a+" + std::to_string(0x3000));
  EXPECT_EQ(text(stats.line_locations[1]), "/b+" + std::to_string(0x2040));
  EXPECT_EQ(text(stats.line_locations[2]), "outside");
  EXPECT_EQ(text(stats.pc_locations.at(0x401000)), "/a+" + std::to_string(0x2000));
  EXPECT_EQ(text(stats.pc_locations.at(0x401010)), "/b+" + std::to_string(0x1010));
  EXPECT_EQ(text(stats.pc_locations.at(0x900000)), "outside");

  // The report carries them to its lines and pcs.
  cache_line_report_options_t options;
  options.min_percent = 0;
  options.sort = sort_accesses;
  cache_line_report_t report = build_cache_line_report(stats, options);
  ASSERT_TRUE(report.has_locations);
  ASSERT_EQ(report.lines.size(), 3u);
  EXPECT_EQ(text(report.lines[0].location), "/a+" + std::to_string(0x3000));
  const report_range_t& range = report.lines[0].threads.at(0).ranges.at(0);
  EXPECT_EQ(text(range.pcs.at(0).location), "/a+" + std::to_string(0x2000));
}

TEST(CacheLines, ResultCanBeTakenBetweenEvents) {
  cache_lines_flow_t flow;
  feed(flow, sample(planted[0]));
  EXPECT_EQ(flow.result().summary.accesses, 2u);
  feed(flow, sample(planted[1]));
  EXPECT_EQ(rows(flow.result()).front(), planted_rows[0]);
  EXPECT_EQ(flow.result().summary.accesses, 4u);
}

TEST(CacheLines, ManyLinesAreFoundAgain) {
  // The table of lines grows many times; every line is found when it comes
  // back, whichever high bits its address has.
  cache_lines_flow_t flow;
  const uint64_t count = 20000;
  for (int round = 0; round < 2; ++round) {
    for (uint64_t i = 0; i < count; ++i) {
      feed(flow, sample({{1, (i << 40) | (i * 64), RD, 8, 1}}));
    }
  }
  const cache_line_stats_t& stats = flow.result();
  ASSERT_EQ(stats.lines.size(), count);
  for (size_t i = 0; i < count; ++i) EXPECT_EQ(stats.lines[i].accesses, 2u) << i;
}

}  // namespace
