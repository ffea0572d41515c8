// The statistics flow fed with events directly: pairing of separate begins
// and ends, complete samples, the program-counter counters, the histogram,
// bursts, and the text it prints (captured from standard output).
#include "sample_file_stats.h"

#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "events/quenth.h"
#include "stats_report.h"

namespace {

using namespace velkor::library;
using namespace velkor::sample_stats;

// ---- Event builders --------------------------------------------------------

qnt_event_sample_begin_t begin_event(uint32_t id, uint64_t time, uint64_t pc,
                                     qnt_line_size_t line_size = 64,
                                     qnt_access_type_t type = qnt_access_rd) {
  qnt_event_sample_begin_t e;
  e.sample_id = id;
  e.time = time;
  e.pc = pc;
  e.line_size = line_size;
  e.access_type = type;
  return e;
}

qnt_event_sample_end_t end_event(uint32_t id, uint64_t time, uint64_t pc,
                                 qnt_access_type_t type = qnt_access_wr) {
  qnt_event_sample_end_t e;
  e.sample_id = id;
  e.time = time;
  e.pc = pc;
  e.access_type = type;
  return e;
}

qnt_sample_access_t access(uint64_t time, uint32_t thread, qnt_access_type_t type,
                           uint64_t pc = 0x100) {
  qnt_sample_access_t a;
  a.time = time;
  a.thread = thread;
  a.access_type = type;
  a.pc = pc;
  return a;
}

qnt_event_sample_t sample_event(const qnt_sample_access_t& begin,
                                const std::vector<qnt_sample_access_t>& ends,
                                uint8_t line_size_log = 6) {
  qnt_event_sample_t e;
  e.begin = begin;
  e.ends = ends;
  e.line_size = line_size_log;
  return e;
}

qnt_event_burst_begin_t burst_begin_event(uint64_t real_time) {
  qnt_event_burst_begin_t e;
  e.real_time = real_time;
  return e;
}

qnt_event_burst_end_t burst_end_event(uint64_t real_time) {
  qnt_event_burst_end_t e;
  e.real_time = real_time;
  return e;
}

// ---- Observing the flow ----------------------------------------------------

// Standard output written by f: printf and std::cout alike, in their order.
template <class F>
std::string captured_stdout(F f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

std::string kind_counts_text(const line_size_stat_t& stat, qnt_event_kind_t kind) {
  std::ostringstream os;
  auto counts = stat.kind_counts.find(kind);
  if (counts == stat.kind_counts.end()) return "- ";
  for (const auto& c : counts->second) os << get_access_type_str(c.first) << ":" << c.second << " ";
  return os.str();
}

std::string top_pcs(const pc_counters_t& counters) {
  std::ostringstream os;
  const auto& index = counters.by_count_order();
  for (auto it = index.rbegin(); it != index.rend(); ++it) os << it->pc << "=" << it->count << " ";
  return os.str();
}

// One line per line size and one for the whole flow, after the danglings
// have been counted.
std::string summary(sample_file_stats_t& stats) {
  stats.count_all_danglings();
  std::ostringstream os;
  for (const auto& entry : stats.line_stats()) {
    const line_size_stat_t& s = entry.second;
    os << entry.first << ": begins " << kind_counts_text(s, kind_sample_begin) << "ends "
       << kind_counts_text(s, kind_sample_end) << "times " << s.begin_times.size() << "/"
       << s.end_times.size() << " pcs " << top_pcs(s.begin_pcs) << "/ " << top_pcs(s.end_pcs)
       << "dangling " << s.danglings << "\n";
  }
  os << "unmatched ends " << stats.unmatched_end_count() << ", max time " << stats.max_time();
  return os.str();
}

std::vector<uint64_t> buckets(std::initializer_list<uint64_t> head) {
  std::vector<uint64_t> all(head);
  all.resize(sample_file_stats_t::bucket_count, 0);
  return all;
}

// ---- Program-counter counters ----------------------------------------------

TEST(PcCounters, EqualCountsListTheEntryPlacedLastFirst) {
  struct {
    const char* name;
    std::vector<uint64_t> increments;
    std::string top;
  } cases[] = {
      {"new entries go after their equals", {1, 2, 3}, "0x3=1 0x2=1 0x1=1 "},
      {"a grown entry moves after all of its new count", {1, 2, 3, 1}, "0x1=2 0x3=1 0x2=1 "},
      {"and the next one after it", {1, 2, 3, 1, 2}, "0x2=2 0x1=2 0x3=1 "},
      // 3 grows to 2 while its successor 0x1 already has 2: it stays put,
      // before 0x1 and 0x2, and so comes last among the equal counts.
      {"a grown entry still in order stays", {1, 2, 3, 1, 2, 3}, "0x2=2 0x1=2 0x3=2 "},
      {"largest first", {5, 6, 6, 6, 5, 7}, "0x6=3 0x5=2 0x7=1 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pc_counters_t counters;
    for (uint64_t pc : c.increments) inc_pc_counter(counters, pc);
    EXPECT_EQ(top_pcs(counters), c.top);
  }
}

// ---- Pairing of separate begins and ends ----------------------------------

TEST(SampleFileStats, PairsBeginsAndEndsBySampleIdInEitherOrder) {
  const qnt_event_sample_begin_t b1 = begin_event(1, 10, 0xa0);
  const qnt_event_sample_begin_t b1_again = begin_event(1, 11, 0xa1);
  const qnt_event_sample_begin_t b2_32 = begin_event(2, 12, 0xa2, 32, qnt_access_pf);
  const qnt_event_sample_end_t e1 = end_event(1, 20, 0xe0);
  const qnt_event_sample_end_t e1_rdwr = end_event(1, 30, 0xe1, qnt_access_rdwr);
  const qnt_event_sample_end_t e2 = end_event(2, 25, 0xe2);
  const qnt_event_sample_end_t e9 = end_event(9, 99, 0xe9);

  struct {
    const char* name;
    std::vector<const qnt_event_t*> events;
    std::string summary;
  } table[] = {
      {"begin then end", {&b1, &e1},
       "64: begins RD:1 ends WR:1 times 1/1 pcs 0xa0=1 / 0xe0=1 dangling 0\n"
       "unmatched ends 0, max time 20"},
      // The end waits and is counted, under the begin's line size, when the
      // begin arrives.
      {"end then begin", {&e2, &b2_32},
       "32: begins PF:1 ends WR:1 times 1/1 pcs 0xa2=1 / 0xe2=1 dangling 0\n"
       "unmatched ends 0, max time 25"},
      {"begin without end is dangling", {&b1},
       "64: begins RD:1 ends - times 1/0 pcs 0xa0=1 / dangling 1\n"
       "unmatched ends 0, max time 10"},
      // Both begins count; only the second waits, so one dangles.
      {"repeated begin id", {&b1, &b1_again},
       "64: begins RD:2 ends - times 2/0 pcs 0xa1=1 0xa0=1 / dangling 1\n"
       "unmatched ends 0, max time 11"},
      {"repeated begin id, then its end", {&b1, &b1_again, &e1},
       "64: begins RD:2 ends WR:1 times 2/1 pcs 0xa1=1 0xa0=1 / 0xe0=1 dangling 0\n"
       "unmatched ends 0, max time 20"},
      // A later end of the same id replaces the waiting one, which thus
      // counted nothing.
      {"repeated end id", {&e1, &e1_rdwr, &b1},
       "64: begins RD:1 ends RDWR:1 times 1/1 pcs 0xa0=1 / 0xe1=1 dangling 0\n"
       "unmatched ends 1, max time 30"},
      {"an end that never meets its begin counts nothing", {&e9},
       "unmatched ends 1, max time 0"},
      {"danglings by line size", {&b1, &b2_32, &e9},
       "32: begins PF:1 ends - times 1/0 pcs 0xa2=1 / dangling 1\n"
       "64: begins RD:1 ends - times 1/0 pcs 0xa0=1 / dangling 1\n"
       "unmatched ends 1, max time 12"},
  };
  for (const auto& c : table) {
    SCOPED_TRACE(c.name);
    sample_file_stats_t stats;
    for (const qnt_event_t* e : c.events) EXPECT_EQ(stats.process_event(*e), flow_status_ok);
    EXPECT_EQ(summary(stats), c.summary);
  }
}

// ---- Complete samples ------------------------------------------------------

TEST(SampleFileStats, CountsCompleteSamples) {
  struct {
    const char* name;
    qnt_event_sample_t event;
    std::string summary;
    std::string access_types;
    std::string communication;
  } cases[] = {
      {"no end", sample_event(access(7, 1, qnt_access_rd, 0x10), {}),
       "64: begins RD:1 ends - times 1/0 pcs 0x10=1 / dangling 0\n"
       "unmatched ends 0, max time 0",
       "RD:1 ", ""},
      // The begin's time does not raise the maximum; the first end's does.
      {"one end", sample_event(access(7, 1, qnt_access_rd, 0x10), {access(9, 2, qnt_access_wr, 0x20)}),
       "64: begins RD:1 ends WR:1 times 1/1 pcs 0x10=1 / 0x20=1 dangling 0\n"
       "unmatched ends 0, max time 9",
       "RD:1 WR:1 ", "1>2 RD-WR 1; "},
      // Only the first end counts as the sample's end; every access counts
      // its type; each consecutive pair is one communication.
      {"several ends",
       sample_event(access(7, 1, qnt_access_rd, 0x10),
                    {access(9, 1, qnt_access_wr, 0x20), access(50, 2, qnt_access_wr, 0x30),
                     access(60, 2, qnt_access_nta_rd, 0x40)}),
       "64: begins RD:1 ends WR:1 times 1/1 pcs 0x10=1 / 0x20=1 dangling 0\n"
       "unmatched ends 0, max time 9",
       "RD:1 WR:2 NTA_RD:1 ", "1>1 RD-WR 1; 1>2 WR-WR 1; 2>2 WR-NTA_RD 1; "},
      {"line size 255 counts under 0",
       sample_event(access(3, 1, qnt_access_clflush, 0x10), {}, 255),
       "0: begins CLFLUSH:1 ends - times 1/0 pcs 0x10=1 / dangling 0\n"
       "unmatched ends 0, max time 0",
       "CLFLUSH:1 ", ""},
      {"line size logarithm taken modulo 64", sample_event(access(3, 1, qnt_access_rd), {}, 70),
       "64: begins RD:1 ends - times 1/0 pcs 0x100=1 / dangling 0\n"
       "unmatched ends 0, max time 0",
       "RD:1 ", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sample_file_stats_t stats;
    EXPECT_EQ(stats.process_event(c.event), flow_status_ok);
    EXPECT_EQ(summary(stats), c.summary);
    std::ostringstream types;
    for (const auto& entry : stats.line_stats().begin()->second.access_type_counts) {
      types << get_access_type_str(entry.first) << ":" << entry.second << " ";
    }
    EXPECT_EQ(types.str(), c.access_types);
    std::ostringstream comm;
    for (const auto& entry : stats.communication()) {
      comm << entry.first.from_thread << ">" << entry.first.to_thread << " "
           << get_access_type_str(entry.first.from_type) << "-"
           << get_access_type_str(entry.first.to_type) << " " << entry.second << "; ";
    }
    EXPECT_EQ(comm.str(), c.communication);
  }
}

TEST(SampleFileStats, CommunicationEntriesAddUpAndSortByThreadsThenTypes) {
  sample_file_stats_t stats;
  // Keys that differ in one field each, given out of order.
  stats.sample(sample_event(access(1, 2, qnt_access_rd), {access(2, 1, qnt_access_rd)}));
  stats.sample(sample_event(access(1, 1, qnt_access_wr), {access(2, 2, qnt_access_rd)}));
  stats.sample(sample_event(access(1, 1, qnt_access_rd), {access(2, 2, qnt_access_wr)}));
  stats.sample(sample_event(access(1, 1, qnt_access_rd), {access(2, 2, qnt_access_rd)}));
  stats.sample(sample_event(access(1, 1, qnt_access_rd), {access(2, 2, qnt_access_rd)}));
  stats.sample(sample_event(access(1, 300, qnt_access_rd), {access(2, 1, qnt_access_rd)}));
  std::ostringstream comm;
  for (const auto& entry : stats.communication()) {
    comm << entry.first.from_thread << ">" << entry.first.to_thread << " "
         << get_access_type_str(entry.first.from_type) << "-"
         << get_access_type_str(entry.first.to_type) << " " << entry.second << "; ";
  }
  EXPECT_EQ(comm.str(),
            "1>2 RD-RD 2; 1>2 RD-WR 1; 1>2 WR-RD 1; 2>1 RD-RD 1; 300>1 RD-RD 1; ");
}

// ---- Histogram -------------------------------------------------------------

TEST(SampleFileStats, HistogramMergesNeighboursWhenATimeFallsOutside) {
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  const uint64_t edge = 20 * (uint64_t(1) << 59);  // 20 * w overflows from here on
  struct {
    const char* name;
    std::vector<uint64_t> times;
    uint64_t width;
    std::vector<uint64_t> buckets;
  } cases[] = {
      {"nothing", {}, 1, buckets({})},
      {"times 0, 0 and 5", {0, 0, 5}, 1, buckets({2, 0, 0, 0, 0, 1})},
      {"times 0 to 19 fill width 1", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19},
       1, buckets({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1})},
      {"time 20 merges into ten buckets of width 2",
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, 2,
       buckets({2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1})},
      {"one large time merges as often as needed", {3, 0, 41}, 4, buckets({2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})},
      {"below the overflow edge", {1, edge - 1}, uint64_t(1) << 59, buckets({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})},
      {"at the overflow edge", {1, edge}, uint64_t(1) << 60, buckets({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})},
      {"the largest time", {max, 0, max}, uint64_t(1) << 60, buckets({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sample_file_stats_t stats;
    for (uint64_t t : c.times) stats.time_bucket_add(t);
    EXPECT_EQ(stats.bucket_width(), c.width);
    EXPECT_EQ(stats.time_buckets(), c.buckets);
  }
}

TEST(SampleFileStats, OnlyBeginsEnterTheHistogram) {
  sample_file_stats_t stats;
  stats.sample_begin(begin_event(1, 3, 0xa0));
  stats.sample_end(end_event(1, 500, 0xe0));
  stats.sample(sample_event(access(4, 1, qnt_access_rd), {access(900, 1, qnt_access_wr)}));
  EXPECT_EQ(stats.bucket_width(), 1u);
  EXPECT_EQ(stats.time_buckets(), buckets({0, 0, 0, 1, 1}));
  EXPECT_EQ(stats.max_time(), 900u);
}

// ---- Bursts ----------------------------------------------------------------

TEST(SampleFileStats, AveragesBurstsThatHaveBothEnds) {
  const qnt_event_burst_begin_t b0 = burst_begin_event(1000000000);
  const qnt_event_burst_begin_t b1 = burst_begin_event(5000000000);
  const qnt_event_burst_begin_t b2 = burst_begin_event(9000000000);
  const qnt_event_burst_end_t e0 = burst_end_event(3000000000);  // 2 s after b0
  const qnt_event_burst_end_t e1 = burst_end_event(6000000000);  // 1 s after b1
  const qnt_event_burst_end_t e1_late = burst_end_event(9000000000);
  const qnt_event_burst_end_t early = burst_end_event(7);
  const qnt_event_burst_end_t e4 = burst_end_event(4000000000);    // 1 s before b1
  const qnt_event_burst_end_t e12 = burst_end_event(12000000000);  // 3 s after b2
  struct {
    const char* name;
    std::vector<const qnt_event_t*> events;
    size_t begins, ends;
    double average;
  } cases[] = {
      {"none", {}, 0, 0, 0.0},
      {"one", {&b0, &e0}, 1, 1, 2.0},
      {"two", {&b0, &e0, &b1, &e1}, 2, 2, 1.5},
      {"begins without ends", {&b0, &b1}, 2, 0, 0.0},
      {"a second end replaces the first", {&b1, &e1, &e1_late}, 1, 1, 4.0},
      // Burst 1 has no end; burst 2 has both and is the average.
      {"a burst without end followed by a complete one", {&b0, &b1, &e1}, 2, 1, 1.0},
      // The end stored under 0 belongs to no burst; burst 2 has no end: only
      // burst 1 counts.
      {"an end before the first begin", {&early, &b0, &e0, &b1}, 2, 2, 2.0},
      // An end before its begin: the differences add up modulo 2^64, so a
      // total that is not negative comes out right.
      {"an end before its begin", {&b1, &e4, &b2, &e12}, 2, 2, 1.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sample_file_stats_t stats;
    for (const qnt_event_t* e : c.events) EXPECT_EQ(stats.process_event(*e), flow_status_ok);
    EXPECT_EQ(stats.burst_begins().size(), c.begins);
    EXPECT_EQ(stats.burst_ends().size(), c.ends);
    EXPECT_DOUBLE_EQ(average_burst_length(stats.burst_begins(), stats.burst_ends()), c.average);
  }
}

// ---- Text ------------------------------------------------------------------

// Sets TZ for the lifetime of the object, restoring the old value after.
class scoped_tz_t {
 public:
  explicit scoped_tz_t(const char* tz) {
    const char* old = getenv("TZ");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~scoped_tz_t() {
    if (had_old_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_old_;
  std::string old_;
};

TEST(StatsReport, TimeStringInThePosixDateFormat) {
  scoped_tz_t utc("UTC");
  struct {
    uint64_t t;
    const char* text;
  } cases[] = {
      {0, "?"},
      {999999999, "?"},  // below one second
      {1000000000, "Thu Jan  1 00:00:01 1970"},
      {1234567890123456789ull, "Fri Feb 13 23:31:30 2009"},
      {std::numeric_limits<uint64_t>::max(), "Sun Jul 21 23:34:33 2554"},
  };
  for (const auto& c : cases) EXPECT_EQ(qnt_time_string(c.t), c.text) << c.t;
}

TEST(StatsReport, EventLinesArePrintedAsTheEventsArriveInTheirOrder) {
  scoped_tz_t utc("UTC");
  qnt_event_acquisition_begin_t x86_64;
  x86_64.time = 1234567890123456789ull;
  x86_64.architecture = 1;
  x86_64.argv = {"./prog", "-x", "a b"};
  x86_64.user = "alice";
  qnt_event_acquisition_begin_t i386;  // time 0, no arguments, no user
  qnt_event_acquisition_begin_t other;
  other.time = 1000000000;
  other.architecture = 7;
  other.argv = {""};
  other.user = "bob";
  qnt_event_mmap_t mapping;
  mapping.address = 0x400000;
  mapping.size = 0x1a000;
  mapping.filename = "/usr/bin/prog";
  qnt_event_mmap_t wrapping;  // the end wraps around; the line shows it so
  wrapping.address = 0xfffffffffffff000ull;
  wrapping.size = 0x2000;
  qnt_event_sample_period_t period;
  period.sample_period = 4294967296ull;
  qnt_event_acquisition_end_t end;
  end.time = 1234567990000000000ull;

  sample_file_stats_t stats;
  const std::vector<const qnt_event_t*> events = {&x86_64, &mapping, &period, &i386,
                                                  &wrapping, &other, &end};
  const std::string out = captured_stdout([&] {
    for (const qnt_event_t* e : events) EXPECT_EQ(stats.process_event(*e), flow_status_ok);
  });
  EXPECT_EQ(out,
            "Acquisition begin: Fri Feb 13 23:31:30 2009\n"
            "Architecture: x86_64\n"
            "Command line: ./prog -x a b\n"
            "User: alice\n"
            "Mmap: 400000-41a000 /usr/bin/prog\n"
            "Nominal sample period: 4294967296\n"
            "Acquisition begin: ?\n"
            "Architecture: i386\n"
            "Command line:\n"
            "User: \n"
            "Mmap: fffffffffffff000-1000 \n"
            "Acquisition begin: Thu Jan  1 00:00:01 1970\n"
            "Architecture: unknown (7)\n"
            "Command line: \n"
            "User: bob\n"
            "Acquisition end: Fri Feb 13 23:33:10 2009\n");
}

TEST(StatsReport, EmptyReport) {
  sample_file_stats_t stats;
  stats.count_all_danglings();
  EXPECT_EQ(captured_stdout([&] { print_stats_report(stats); }),
            "Stacks: 0\n"
            "Sample distribution over time (1 accesses per bucket):\n"
            "0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n"
            "\n"
            "Communication patterns:\n");
}

TEST(StatsReport, EverySection) {
  sample_file_stats_t stats;
  qnt_event_stack_t stack;
  stats.process_event(stack);
  stats.process_event(stack);

  // Line size 32: fourteen separate begins at one time, twelve distinct pcs
  // (0x3005 three times), ends for two of them.
  for (uint32_t id = 1; id <= 14; ++id) {
    const uint64_t pc = id <= 12 ? 0x3000 + id : 0x3005;
    stats.process_event(begin_event(id, 1234567, pc, 32, id <= 12 ? qnt_access_rd : qnt_access_pf));
  }
  stats.process_event(end_event(1, 20, 0x4000));
  stats.process_event(end_event(2, 30, 0x4000));

  // Line size 64: four complete samples.
  stats.process_event(sample_event(access(0, 1, qnt_access_rd, 0x1000), {access(4, 2, qnt_access_wr, 0x2000)}));
  stats.process_event(sample_event(access(0, 1, qnt_access_rd, 0x1000), {access(6, 2, qnt_access_wr, 0x2000)}));
  stats.process_event(sample_event(access(5, 1, qnt_access_rd, 0x1000), {access(10, 2, qnt_access_wr, 0x2000)}));
  stats.process_event(sample_event(access(5, 1, qnt_access_wr, 0x1004), {access(7, 1, qnt_access_rd, 0x2000)}));

  // Bursts of 2 s and 3 s.
  stats.process_event(burst_begin_event(1000000000));
  stats.process_event(burst_end_event(3000000000));
  stats.process_event(burst_begin_event(10000000000));
  stats.process_event(burst_end_event(13000000000));

  stats.count_all_danglings();
  const char* bursts =
      "  Burst begin events: 2\n"
      "  Burst end events: 2\n"
      "  Average burst length: 2.5 s\n";
  EXPECT_EQ(captured_stdout([&] { print_stats_report(stats); }),
            std::string("Stacks: 2\n"
                        "Statitistics for line size 32:\n"
                        "  Sample begin events:  14\n"
                        "  Sample end events:    2\n"
                        "  Sample begin times:   1\n"
                        "  Sample end times:     2\n"
                        "  Acquisition accesses: 1234567\n"
                        "  Real sample period:   1.23457e+06\n"
                        "  Dangling samples:     12\n"
                        "  Top sample begin pcs:\n"
                        "    0x3005, 3 samples\n"
                        "    0x300c, 1 samples\n"
                        "    0x300b, 1 samples\n"
                        "    0x300a, 1 samples\n"
                        "    0x3009, 1 samples\n"
                        "    0x3008, 1 samples\n"
                        "    0x3007, 1 samples\n"
                        "    0x3006, 1 samples\n"
                        "    0x3004, 1 samples\n"
                        "    0x3003, 1 samples\n"
                        "  Top sample end pcs:\n"
                        "    0x4000, 2 samples\n") +
                bursts +
                "  Access type counts:\n"
                "Statitistics for line size 64:\n"
                "  Sample begin events:  4\n"
                "  Sample end events:    4\n"
                "  Sample begin times:   2\n"
                "  Sample end times:     4\n"
                "  Acquisition accesses: 1234567\n"
                "  Real sample period:   617284\n"
                "  Dangling samples:     0\n"
                "  Top sample begin pcs:\n"
                "    0x1000, 3 samples\n"
                "    0x1004, 1 samples\n"
                "  Top sample end pcs:\n"
                "    0x2000, 4 samples\n" +
                bursts +
                "  Access type counts:\n"
                "    RD: 4\n"
                "    WR: 4\n"
                "Sample distribution over time (65536 accesses per bucket):\n"
                "4\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n14\n0\n"
                "\n"
                "Communication patterns:\n"
                "1 -> 1  WR-RD   : 1  (25%)\n"
                "1 -> 2  RD-WR   : 3  (75%)\n");
}

TEST(StatsReport, BurstAverageWithoutAnyCompleteBurstShowsZero) {
  sample_file_stats_t stats;
  stats.process_event(sample_event(access(1, 1, qnt_access_rd, 0x10), {}));
  stats.process_event(burst_end_event(5));  // before any begin
  stats.process_event(burst_begin_event(10));
  stats.count_all_danglings();
  const std::string out = captured_stdout([&] { print_stats_report(stats); });
  EXPECT_NE(out.find("  Top sample end pcs:\n"
                     "  Burst begin events: 1\n"
                     "  Burst end events: 1\n"
                     "  Average burst length: 0 s\n"
                     "  Access type counts:\n"),
            std::string::npos)
      << out;
}

}  // namespace
