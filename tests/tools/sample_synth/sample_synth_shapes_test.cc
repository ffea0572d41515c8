// The shape options of the generator (--pcs, --pc-skew, --end-trail, --ends,
// --complete-only) measured on what it emits: how many program counters,
// how they are weighted, where the ends fall and in what order, which kinds
// of sample record come; and the options' command-line errors.

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "events/qnt_events.h"
#include "flow/quenth_flow.h"
#include "support/recording_flow.h"
#include "support/test_support.h"
#include "synth.h"

using namespace velkor::library;
using velkor::synth::synth_options_t;
using velkor::testkit::bin_path;
using velkor::testkit::read_file;
using velkor::testkit::run_program;
using velkor::testkit::run_result_t;
using velkor::testkit::temp_dir_t;

namespace {

// What the shape tests look at, gathered as the events stream by.
class shape_flow_t : public quenth_flow_t {
 public:
  flow_status_t flow_init(uint64_t) override { return flow_status_ok; }
  flow_status_t process_event(const qnt_event_t& event) override {
    switch (event.get_kind()) {
      case kind_mmap: {
        const auto& m = static_cast<const qnt_event_mmap_t&>(event);
        mapped.emplace_back(m.address, m.address + m.size);
        break;
      }
      case kind_sample: {
        const auto& s = static_cast<const qnt_event_sample_t&>(event);
        ++samples;
        ++begin_pcs[s.begin.pc];
        next_pcs[s.begin.pc].insert(s.next_pc);
        ++end_counts[s.ends.size()];
        killed += (s.flags & qnt_event_sample_t::flag_killed) != 0;
        uint64_t previous = s.begin.time;
        for (const qnt_sample_access_t& end : s.ends) {
          ++end_pcs[end.pc];
          trails.push_back(end.time - s.begin.time);
          ascending &= end.time > previous;
          previous = end.time;
        }
        if (!s.ends.empty()) {
          // The first end of this sample against the latest first end so far.
          out_of_order += s.ends[0].time < latest_first_end;
          latest_first_end = std::max(latest_first_end, s.ends[0].time);
        }
        break;
      }
      case kind_sample_begin: {
        const auto& b = static_cast<const qnt_event_sample_begin_t&>(event);
        ++samples;
        ++separate_begins;
        ++begin_pcs[b.pc];
        begin_times[b.sample_id] = b.time;
        break;
      }
      case kind_sample_end: {
        const auto& e = static_cast<const qnt_event_sample_end_t&>(event);
        ++separate_ends;
        end_times[e.sample_id] = e.time;
        separate_rdist[e.sample_id] = e.rdist;
        break;
      }
      default: break;
    }
    return flow_status_ok;
  }

  bool inside_mappings(uint64_t pc) const {
    for (const auto& m : mapped) {
      if (pc >= m.first && pc < m.second) return true;
    }
    return false;
  }

  std::vector<std::pair<uint64_t, uint64_t>> mapped;
  uint64_t samples = 0, separate_begins = 0, separate_ends = 0, killed = 0, out_of_order = 0;
  uint64_t latest_first_end = 0;
  bool ascending = true;
  std::map<uint64_t, uint64_t> begin_pcs, end_pcs;
  std::map<uint64_t, std::set<uint64_t>> next_pcs;
  std::map<size_t, uint64_t> end_counts;
  std::vector<uint64_t> trails;
  std::map<uint32_t, uint64_t> begin_times, end_times, separate_rdist;
};

void generate(const synth_options_t& options, shape_flow_t* flow) {
  ASSERT_EQ(velkor::synth::check_options(options), "");
  ASSERT_EQ(velkor::synth::synthesize(options, *flow), flow_status_ok);
}

// The counts of the begin pcs, largest first.
std::vector<uint64_t> ranked(const std::map<uint64_t, uint64_t>& counts) {
  std::vector<uint64_t> all;
  for (const auto& c : counts) all.push_back(c.second);
  std::sort(all.rbegin(), all.rend());
  return all;
}

// ---- Program counters --------------------------------------------------------

TEST(SampleSynthShapes, ProgramCountersSpreadOverTheTextWithTheirSkew) {
  const uint64_t text_begin = 0x401000, text_end = 0x42a000;
  const struct {
    const char* name;
    uint32_t pcs;
    double skew;
  } cases[] = {{"flat", 2000, 0}, {"Zipf", 2000, 1}, {"steep", 300, 2}, {"one", 1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    synth_options_t options;
    options.samples = 100000;
    options.threads = 8;
    options.pcs = c.pcs;
    options.pc_skew = c.skew;
    shape_flow_t flow;
    generate(options, &flow);
    ASSERT_EQ(flow.samples, options.samples);

    // All distinct pcs in the executable's text, next pcs after them and
    // before the next pc; ends from the same instructions.
    EXPECT_LE(flow.begin_pcs.size(), c.pcs);
    std::vector<uint64_t> pcs;
    for (const auto& p : flow.begin_pcs) pcs.push_back(p.first);
    for (size_t i = 0; i < pcs.size(); ++i) {
      EXPECT_GE(pcs[i], text_begin);
      EXPECT_LT(pcs[i], text_end);
      const std::set<uint64_t>& next = flow.next_pcs[pcs[i]];
      if (next.empty()) continue;  // only separate records began there
      EXPECT_EQ(next.size(), 1u) << std::hex << pcs[i];
      EXPECT_GT(*next.begin(), pcs[i]);
      if (i + 1 < pcs.size()) {
        EXPECT_LE(*next.begin(), pcs[i + 1]);
      }
    }
    for (const auto& e : flow.end_pcs) {
      EXPECT_GE(e.first, text_begin);
      EXPECT_LT(e.first, text_end);
    }

    // The weights: the k-th busiest is sampled about 1/k^skew as often as
    // the busiest (ranks 1, 4 and 16, with the noise of 100000 draws).
    std::vector<uint64_t> counts = ranked(flow.begin_pcs);
    if (c.pcs == 1) {
      EXPECT_EQ(counts, std::vector<uint64_t>{options.samples});
      continue;
    }
    double harmonic = 0;
    for (uint32_t k = 1; k <= c.pcs; ++k) harmonic += std::pow(k, -c.skew);
    for (uint32_t k : {1u, 4u, 16u}) {
      double expected = options.samples * std::pow(k, -c.skew) / harmonic;
      if (c.skew == 0) {
        // Flat: every pc near the mean, the busiest included.
        EXPECT_LT(counts[0], expected * 1.7);
        EXPECT_GT(counts[counts.size() - 1], expected * 0.35);
        break;
      }
      EXPECT_NEAR(counts[k - 1], expected, 5 * std::sqrt(expected) + expected * 0.05) << k;
    }
  }
}

// ---- Ends --------------------------------------------------------------------

TEST(SampleSynthShapes, EndsTrailTheirBeginsAsAsked) {
  struct ends_case_t {
    const char* name;
    uint64_t trail;
    bool ends_given;
    uint32_t ends_min, ends_max;
    bool complete_only;
  };
  const ends_case_t cases[] = {
      {"the flat shape: 1-2 ends up to 100000 later, complete records", 100000, true, 1, 2, true},
      {"a trail shorter than the ends: each access once", 3, true, 5, 5, true},
      {"ends of the model, trailing", 20000, false, 0, 0, false},
      {"no ends", 0, true, 0, 0, false},
      {"complete records only", 0, false, 0, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    synth_options_t options;
    options.samples = 20000;
    options.threads = 8;
    options.end_trail = c.trail;
    options.ends_given = c.ends_given;
    options.ends_min = c.ends_min;
    options.ends_max = c.ends_max;
    options.complete_only = c.complete_only;
    shape_flow_t flow;
    generate(options, &flow);
    ASSERT_EQ(flow.samples, options.samples);
    EXPECT_TRUE(flow.ascending);

    // Complete records only, or the model's share of separate ones.
    if (c.complete_only) {
      EXPECT_EQ(flow.separate_begins, 0u);
      EXPECT_EQ(flow.separate_ends, 0u);
    } else {
      EXPECT_GT(flow.separate_begins, options.samples / 8);
    }

    // How many ends: the range asked for, every count of it; at most the
    // trail's accesses.
    if (c.ends_given) {
      uint32_t most = static_cast<uint32_t>(
          c.trail == 0 ? c.ends_max : std::min<uint64_t>(c.ends_max, c.trail));
      uint32_t least = std::min(c.ends_min, most);
      for (const auto& n : flow.end_counts) {
        EXPECT_GE(n.first, least);
        EXPECT_LE(n.first, most);
      }
      EXPECT_EQ(flow.end_counts.size(), most - least + 1);
      // Complete records that nothing ended: half of them killed.
      const uint64_t complete = flow.samples - flow.separate_begins;
      if (most == 0) {
        EXPECT_GT(flow.killed, complete * 2 / 5);
        EXPECT_LT(flow.killed, complete * 3 / 5);
      } else {
        EXPECT_EQ(flow.killed, 0u);
      }
    }

    // Where the ends fall: 1 to trail accesses after the begin, uniformly
    // (the mean half the trail); with a trail of two sample periods, one
    // first end in eight or so comes before that of an earlier sample.
    if (c.trail != 0) {
      ASSERT_FALSE(flow.trails.empty());
      uint64_t low = *std::min_element(flow.trails.begin(), flow.trails.end());
      uint64_t high = *std::max_element(flow.trails.begin(), flow.trails.end());
      EXPECT_GE(low, 1u);
      EXPECT_LE(high, c.trail);
      if (c.trail == 3) {
        EXPECT_EQ(flow.end_counts, (std::map<size_t, uint64_t>{{3, options.samples}}));
      } else {
        double mean = 0;
        for (uint64_t t : flow.trails) mean += t;
        mean /= flow.trails.size();
        EXPECT_NEAR(mean, c.trail / 2.0, c.trail * 0.05);
        EXPECT_GT(high, c.trail * 99 / 100);
        EXPECT_LT(low, c.trail / 100);
      }
      for (const auto& end : flow.end_times) {
        auto begin = flow.begin_times.find(end.first);
        ASSERT_NE(begin, flow.begin_times.end());
        EXPECT_GT(end.second, begin->second);
        EXPECT_LE(end.second - begin->second, c.trail);
        EXPECT_EQ(flow.separate_rdist[end.first], end.second - begin->second - 1);
      }
      if (c.trail >= 100000) {
        EXPECT_GT(flow.out_of_order, options.samples / 16);
      }
    }
  }
}

// A trail moves the ends in time and nothing else: with and without it the
// same begins, threads, addresses and end instructions, in the same order.
TEST(SampleSynthShapes, EndTrailChangesOnlyTimes) {
  synth_options_t options;
  options.samples = 5000;
  options.threads = 3;
  options.line_sizes = {64, 128};
  velkor::testkit::recording_flow_t plain, trailing;
  ASSERT_EQ(velkor::synth::synthesize(options, plain), flow_status_ok);
  options.end_trail = 70000;
  ASSERT_EQ(velkor::synth::synthesize(options, trailing), flow_status_ok);
  ASSERT_EQ(plain.events.size(), trailing.events.size());
  size_t samples = 0;
  for (size_t i = 0; i < plain.events.size(); ++i) {
    const qnt_event_t& a = *plain.events[i];
    const qnt_event_t& b = *trailing.events[i];
    ASSERT_EQ(a.get_kind(), b.get_kind()) << i;
    if (a.get_kind() != kind_sample) continue;
    ++samples;
    const auto& x = static_cast<const qnt_event_sample_t&>(a);
    const auto& y = static_cast<const qnt_event_sample_t&>(b);
    EXPECT_EQ(x.begin.pc, y.begin.pc);
    EXPECT_EQ(x.begin.addr, y.begin.addr);
    EXPECT_EQ(x.begin.thread, y.begin.thread);
    ASSERT_EQ(x.ends.size(), y.ends.size());
    for (size_t e = 0; e < x.ends.size(); ++e) {
      EXPECT_EQ(x.ends[e].pc, y.ends[e].pc);
      EXPECT_EQ(x.ends[e].addr, y.ends[e].addr);
      EXPECT_EQ(x.ends[e].thread, y.ends[e].thread);
    }
  }
  EXPECT_GT(samples, 3000u);
}

// ---- Command line --------------------------------------------------------------

run_result_t synth(const std::vector<std::string>& args) {
  std::vector<std::string> argv{bin_path("sample_synth")};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv);
}

TEST(SampleSynthShapes, OptionsReachTheGenerator) {
  // The command line gives the generator's settings: the file decodes to
  // what the generator emits for them, and the same seed to the same bytes.
  temp_dir_t tmp;
  const std::vector<std::string> args{
      "--samples", "3000", "--threads", "8", "--pcs", "500", "--pc-skew", "0.5",
      "--end-trail", "100000", "--ends", "1-2", "--complete-only", "--compression", "none"};
  std::vector<std::string> first = args, second = args;
  first.insert(first.end(), {"-o", tmp.file("a")});
  second.insert(second.end(), {"-o", tmp.file("b")});
  ASSERT_EQ(synth(first).exit_status, 0);
  ASSERT_EQ(synth(second).exit_status, 0);
  EXPECT_EQ(read_file(tmp.file("a")), read_file(tmp.file("b")));

  synth_options_t options;
  options.samples = 3000;
  options.threads = 8;
  options.pcs = 500;
  options.pc_skew = 0.5;
  options.end_trail = 100000;
  options.ends_given = true;
  options.ends_min = 1;
  options.ends_max = 2;
  options.complete_only = true;
  velkor::testkit::recording_flow_t meant;
  ASSERT_EQ(velkor::synth::synthesize(options, meant), flow_status_ok);
  run_result_t dumped = run_program({bin_path("sample_dump"), "-i", tmp.file("a")});
  ASSERT_EQ(dumped.exit_status, 0) << dumped.err;
  std::string expected;
  for (const std::string& text : meant.texts()) {
    expected += text.back() == '\n' ? text : text + "\n";
  }
  ASSERT_GT(dumped.out.size(), expected.size());
  EXPECT_EQ(dumped.out.substr(dumped.out.size() - expected.size()), expected);
}

TEST(SampleSynthShapes, BadValuesGetOneLineAndStatus1) {
  const struct {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"--pcs", "0"}, "Error: the value '0' of --pcs is not a number from 1 to 16384.\n"},
      {{"--pcs", "16385"}, "Error: the value '16385' of --pcs is not a number from 1 to 16384.\n"},
      {{"--pcs", "many"}, "Error: the value 'many' of --pcs is not a number from 1 to 16384.\n"},
      {{"--pc-skew", "1"}, "Error: --pc-skew weighs the program counters of --pcs; give --pcs too.\n"},
      {{"--pcs", "9", "--pc-skew", "10.5"},
       "Error: the value '10.5' of --pc-skew is not a number from 0 to 10.\n"},
      {{"--pcs", "9", "--pc-skew", "-1"},
       "Error: the value '-1' of --pc-skew is not a number from 0 to 10.\n"},
      {{"--pcs", "9", "--pc-skew", ".5"},
       "Error: the value '.5' of --pc-skew is not a number from 0 to 10.\n"},
      {{"--pcs", "9", "--pc-skew", "1e1"},
       "Error: the value '1e1' of --pc-skew is not a number from 0 to 10.\n"},
      {{"--pcs", "9", "--pc-skew", "inf"},
       "Error: the value 'inf' of --pc-skew is not a number from 0 to 10.\n"},
      {{"--end-trail", "0"},
       "Error: the value '0' of --end-trail is not a number from 1 to 4294967295.\n"},
      {{"--end-trail", "4294967296"},
       "Error: the value '4294967296' of --end-trail is not a number from 1 to 4294967295.\n"},
      {{"--ends", "3-2"},
       "Error: the value '3-2' of --ends is not a number or a range MIN-MAX of numbers from 0 "
       "to 255.\n"},
      {{"--ends", "256"},
       "Error: the value '256' of --ends is not a number or a range MIN-MAX of numbers from 0 "
       "to 255.\n"},
      {{"--ends", "1-"},
       "Error: the value '1-' of --ends is not a number or a range MIN-MAX of numbers from 0 "
       "to 255.\n"},
      {{"--ends", "-2"},
       "Error: the value '-2' of --ends is not a number or a range MIN-MAX of numbers from 0 "
       "to 255.\n"},
      {{"--ends", "1-2-3"},
       "Error: the value '1-2-3' of --ends is not a number or a range MIN-MAX of numbers from 0 "
       "to 255.\n"},
      {{"--complete-only=yes"},
       "Error: option '--complete-only' does not take any arguments\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    temp_dir_t tmp;
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", tmp.file("never")});
    run_result_t run = synth(args);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
}

}  // namespace
