// Runs the built sample_synth and decodes what it wrote with the library;
// checks the generator's model against what a recording looks like.

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>
#include <zlib.h>

#include "events/qnt_events.h"
#include "flow/flow_file_reader.h"
#include "support/recording_flow.h"
#include "support/test_support.h"
#include "synth.h"

using namespace velkor::library;
using velkor::synth::synth_options_t;
using velkor::testkit::bin_path;
using velkor::testkit::read_file;
using velkor::testkit::recording_flow_t;
using velkor::testkit::run_program;
using velkor::testkit::run_result_t;
using velkor::testkit::temp_dir_t;

namespace {

// ---- Fixtures ------------------------------------------------------------------

run_result_t synth(const std::vector<std::string>& args) {
  std::vector<std::string> argv{bin_path("sample_synth")};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv);
}

// What the generator emits for these settings.
void generate(const synth_options_t& options, recording_flow_t* flow) {
  ASSERT_EQ(velkor::synth::synthesize(options, *flow), flow_status_ok);
}

// Decodes a whole file; the container header goes to *header.
void decode(const std::string& path, recording_flow_t* flow, stream_container_header_t* header) {
  flow_file_reader_t reader(path, flow, boost::make_shared<warning_consumer_null_t>());
  ASSERT_EQ(reader.dispatch(), stream_status_ok);
  EXPECT_EQ(reader.pending_bytes(), 0u);
  *header = reader.get_header();
}

template <class T>
const T& as(const std::unique_ptr<qnt_event_t>& event) {
  return static_cast<const T&>(*event);
}

// ---- The program writes what the generator meant -------------------------------

TEST(SampleSynth, FileDecodesToWhatTheGeneratorMeant) {
  synth_options_t two_sizes;
  two_sizes.samples = 700;
  two_sizes.threads = 1;
  two_sizes.line_sizes = {64, 4096};
  two_sizes.seed = 7;
  synth_options_t none;
  none.samples = 0;
  synth_options_t small;
  small.samples = 2500;  // two bursts at least
  const struct {
    const char* name;
    std::vector<std::string> args;
    synth_options_t options;
    stream_container_compression_t compression;
  } cases[] = {
      {"defaults but fewer samples", {"--samples", "2500"}, small, compression_deflate},
      {"two line sizes, one thread, raw",
       {"--samples", "700", "--threads", "1", "--line-size", "64", "--line-size", "4096",
        "--seed", "7", "--compression", "none"},
       two_sizes, compression_none},
      {"no samples", {"--samples", "0", "--compression", "deflate"}, none, compression_deflate},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    temp_dir_t tmp;
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", tmp.file("out.smp")});
    run_result_t run = synth(args);
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");

    recording_flow_t meant;
    generate(c.options, &meant);
    recording_flow_t got;
    stream_container_header_t header;
    decode(tmp.file("out.smp"), &got, &header);

    EXPECT_EQ(header.version, 1);
    EXPECT_EQ(header.product, product_keldo_internal);
    EXPECT_EQ(header.data_type, data_type_binary_samples);
    EXPECT_EQ(header.compression, c.compression);
    EXPECT_EQ(got.inits, std::vector<uint64_t>{0});
    EXPECT_EQ(meant.inits, std::vector<uint64_t>{0});
    ASSERT_EQ(got.texts(), meant.texts());
    // Equality also covers the fields that the texts leave out.
    for (size_t i = 0; i < got.events.size(); ++i) {
      EXPECT_TRUE(*got.events[i] == *meant.events[i]) << "event " << i;
    }
  }
}

TEST(SampleSynth, SameSeedGivesSameBytes) {
  temp_dir_t tmp;
  const std::vector<std::string> base{"--samples", "3000", "--threads", "3"};
  auto write = [&](const std::string& name, std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"-o", tmp.file(name)});
    run_result_t run = synth(args);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    return read_file(tmp.file(name));
  };
  std::string first = write("a", {"--seed", "42"});
  EXPECT_EQ(write("b", {"--seed", "42"}), first);
  EXPECT_NE(write("c", {"--seed", "43"}), first);

  // Standard output, by default or as "-", gets the same bytes as a file.
  std::vector<std::string> to_stdout = base;
  to_stdout.insert(to_stdout.end(), {"--seed", "42"});
  run_result_t by_default = synth(to_stdout);
  EXPECT_EQ(by_default.exit_status, 0);
  EXPECT_EQ(by_default.out, first);
  to_stdout.insert(to_stdout.end(), {"--output", "-"});
  EXPECT_EQ(synth(to_stdout).out, first);
}

// Runs without the options that came later keep the bytes they had: sizes
// and CRC-32s (zlib's) of raw files written before those options existed.
TEST(SampleSynth, EarlierRunsKeepTheirBytes) {
  const struct {
    std::vector<std::string> args;
    size_t size;
    uint32_t crc;
  } cases[] = {
      {{}, 1008963, 0xa04d5aa0},
      {{"--samples", "30000", "--threads", "8", "--line-size", "64", "--line-size", "128",
        "--seed", "20121"},
       3016441, 0xd1c509a8},
      {{"--samples", "20000", "--threads", "3", "--false-sharing", "--line-size", "128",
        "--line-size", "64", "--seed", "5"},
       2348560, 0x6b9a61c1},
      {{"--samples", "5000", "--threads", "1", "--line-size", "4096", "--seed",
        "18446744073709551615"},
       506188, 0x7d38b2fc},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    SCOPED_TRACE(args.empty() ? "defaults" : args[1]);
    temp_dir_t tmp;
    args.insert(args.end(), {"--compression", "none", "-o", tmp.file("raw.smp")});
    run_result_t run = synth(args);
    ASSERT_EQ(run.exit_status, 0) << run.err;
    std::string bytes = read_file(tmp.file("raw.smp"));
    EXPECT_EQ(bytes.size(), c.size);
    uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()),
                      static_cast<uInt>(bytes.size()));
    EXPECT_EQ(crc, c.crc);
  }
}

// ---- Command line --------------------------------------------------------------

TEST(SampleSynth, BadCommandLinesGetOneLineAndStatus1) {
  const struct {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"--samples", "ten"},
       "Error: the value 'ten' of --samples is not a number from 0 to 4294967295.\n"},
      {{"--samples", "4294967296"},
       "Error: the value '4294967296' of --samples is not a number from 0 to 4294967295.\n"},
      {{"--samples", "-1"},
       "Error: the value '-1' of --samples is not a number from 0 to 4294967295.\n"},
      {{"--seed", "18446744073709551616"},
       "Error: the value '18446744073709551616' of --seed is not a number from 0 to "
       "18446744073709551615.\n"},
      {{"--threads", "0"}, "Error: the number of threads must be from 1 to 1024.\n"},
      {{"--threads", "1025"}, "Error: the number of threads must be from 1 to 1024.\n"},
      {{"--line-size", "48"}, "Error: line size 48 is not a power of two.\n"},
      {{"--line-size", "0"}, "Error: line size 0 is not a power of two.\n"},
      {{"--line-size", "64", "--line-size", "128", "--line-size", "64"},
       "Error: line size 64 is given twice.\n"},
      {{"--compression", "bzip2"}, "Error: unknown compression 'bzip2'; use none or deflate.\n"},
      {{"--frobnicate"}, "Error: unrecognised option '--frobnicate'\n"},
      {{"--samples"}, "Error: the required argument for option '--samples' is missing\n"},
      {{"out.smp"}, "Error: no positional arguments allowed\n"},
      {{"-o", "/nonexistent/dir/f"},
       "Error: Failed to open file /nonexistent/dir/f:  error 2, No such file or directory.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    run_result_t run = synth(c.args);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
}

TEST(SampleSynth, FullDeviceIsAnError) {
  run_result_t run = synth({"--samples", "100", "-o", "/dev/full"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, "Error: failed to write /dev/full.\n");
}

TEST(SampleSynth, HelpGoesToStandardError) {
  run_result_t run = synth({"-h", "ignored"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("Usage: sample_synth [OPTION]...\n", 0), 0u) << run.err;
  for (const char* option : {"--samples", "--threads", "--line-size", "--compression", "--seed",
                             "--false-sharing", "--pcs", "--pc-skew", "--end-trail", "--ends",
                             "--complete-only", "--binary", "--output"}) {
    EXPECT_NE(run.err.find(option), std::string::npos) << option;
  }
}

TEST(SampleSynth, VersionGoesToStandardOutput) {
  // Nothing is written, no other value is looked at.
  run_result_t run = synth({"--version", "--samples", "x", "-o", "/dev/full"});
  EXPECT_EQ(run.exit_status, 0);
  std::string why;
  EXPECT_TRUE(velkor::testkit::is_version_line(run.out, "sample_synth", &why)) << why;
  EXPECT_EQ(run.err, "");
}

// ---- The model -----------------------------------------------------------------

// What a recording of a multi-threaded program looks like, checked on a run
// of the generator: the frame of the acquisition, bursts, samples in both
// forms, stacks before use, shared lines and a hot spot.
TEST(SampleSynth, ModelLooksLikeARecording) {
  synth_options_t options;
  options.samples = 6000;
  options.threads = 4;
  options.line_sizes = {64, 128};
  recording_flow_t flow;
  generate(options, &flow);
  const auto& events = flow.events;
  ASSERT_GT(events.size(), 2u);

  // Frame: acquisition begin first, end last, sample period, mappings, threads.
  ASSERT_EQ(events.front()->get_kind(), kind_acquisition_begin);
  const auto& begin = as<qnt_event_acquisition_begin_t>(events.front());
  EXPECT_EQ(begin.time, velkor::synth::acquisition_start_ns);
  EXPECT_EQ(begin.architecture, 1u);
  EXPECT_EQ(begin.line_sizes, (std::vector<uint8_t>{6, 7}));
  EXPECT_FALSE(begin.argv.empty());
  EXPECT_FALSE(begin.user.empty());
  ASSERT_EQ(events.back()->get_kind(), kind_acquisition_end);
  EXPECT_GT(as<qnt_event_acquisition_end_t>(events.back()).time, begin.time);

  std::map<int, int> kinds;
  std::vector<std::pair<uint64_t, uint64_t>> mapped;  // [from, to)
  std::set<uint32_t> threads;
  std::set<uint32_t> stacks;
  std::map<uint32_t, int> begins, ends;  // by sample id: position in file
  std::map<uint32_t, uint64_t> begin_times;
  std::map<uint64_t, int> begin_pcs;
  size_t max_ends = 0;
  int shared = 0;  // ends by another thread than the begin
  bool in_burst = false;
  uint64_t burst_time = 0, burst_real_time = 0, last_complete_time = 0;
  uint64_t samples = 0;

  auto check_access = [&](const qnt_sample_access_t& a) {
    EXPECT_TRUE(threads.count(a.thread)) << a.thread;
    EXPECT_TRUE(stacks.count(a.stack)) << "stack " << a.stack << " used before it was written";
    bool inside = false;
    for (const auto& m : mapped) inside = inside || (a.pc >= m.first && a.pc < m.second);
    EXPECT_TRUE(inside) << "pc " << a.pc << " outside every mapping";
    EXPECT_TRUE(in_burst);
    EXPECT_GE(a.time, burst_time);
  };

  for (size_t i = 0; i < events.size(); ++i) {
    const auto& e = events[i];
    ++kinds[e->get_kind()];
    switch (e->get_kind()) {
      case kind_mmap: {
        const auto& m = as<qnt_event_mmap_t>(e);
        mapped.emplace_back(m.address, m.address + m.size);
        break;
      }
      case kind_contexts:
        for (uint32_t t : as<qnt_event_contexts_t>(e).contexts) threads.insert(t);
        break;
      case kind_stack: {
        const auto& s = as<qnt_event_stack_t>(e);
        EXPECT_TRUE(stacks.insert(s.id).second) << "stack " << s.id << " written twice";
        EXPECT_FALSE(s.return_addresses.empty());
        break;
      }
      case kind_burst_begin: {
        const auto& b = as<qnt_event_burst_begin_t>(e);
        EXPECT_FALSE(in_burst);
        EXPECT_GT(b.time, burst_time);
        EXPECT_GT(b.real_time, burst_real_time);
        in_burst = true;
        burst_time = b.time;
        burst_real_time = b.real_time;
        break;
      }
      case kind_burst_end: {
        const auto& b = as<qnt_event_burst_end_t>(e);
        EXPECT_TRUE(in_burst);
        EXPECT_GT(b.time, burst_time);
        EXPECT_GT(b.real_time, burst_real_time);
        in_burst = false;
        burst_time = b.time;
        burst_real_time = b.real_time;
        break;
      }
      case kind_sample: {
        const auto& s = as<qnt_event_sample_t>(e);
        ++samples;
        check_access(s.begin);
        EXPECT_GE(s.begin.time, last_complete_time);  // begins in time order
        last_complete_time = s.begin.time;
        ++begin_pcs[s.begin.pc];
        EXPECT_EQ(s.stack, s.begin.stack);
        EXPECT_GT(s.next_pc, s.begin.pc);
        qnt_line_size_t line = qnt_line_size_from_log(s.line_size);
        EXPECT_TRUE(line == 64 || line == 128) << line;
        uint64_t previous = s.begin.time;
        for (const auto& end : s.ends) {
          check_access(end);
          EXPECT_GT(end.time, previous);
          previous = end.time;
          EXPECT_EQ(end.addr / line, s.begin.addr / line) << "end outside the sampled line";
          shared += end.thread != s.begin.thread;
        }
        max_ends = std::max(max_ends, s.ends.size());
        if (s.flags != 0) {
          EXPECT_EQ(s.flags, qnt_event_sample_t::flag_killed);
          EXPECT_TRUE(s.ends.empty());
        }
        break;
      }
      case kind_sample_begin: {
        const auto& b = as<qnt_event_sample_begin_t>(e);
        ++samples;
        ++begin_pcs[b.pc];
        EXPECT_TRUE(threads.count(b.thread_id));
        EXPECT_TRUE(b.line_size == 64 || b.line_size == 128) << b.line_size;
        EXPECT_TRUE(in_burst);
        EXPECT_TRUE(begins.emplace(b.sample_id, int(i)).second) << "id " << b.sample_id;
        begin_times[b.sample_id] = b.time;
        break;
      }
      case kind_sample_end: {
        const auto& end = as<qnt_event_sample_end_t>(e);
        EXPECT_TRUE(in_burst);
        EXPECT_TRUE(ends.emplace(end.sample_id, int(i)).second) << "id " << end.sample_id;
        break;
      }
      default: break;
    }
  }
  EXPECT_FALSE(in_burst);
  EXPECT_EQ(samples, options.samples);
  EXPECT_EQ(kinds[kind_sample_period], 1);
  EXPECT_GE(kinds[kind_mmap], 3);
  EXPECT_EQ(kinds[kind_munmap], 1);
  EXPECT_EQ(threads.size(), 4u);
  EXPECT_GE(kinds[kind_burst_begin], 2);
  EXPECT_EQ(kinds[kind_time_mapping], kinds[kind_burst_begin]);
  EXPECT_EQ(kinds[kind_local_time], 4 * kinds[kind_burst_begin]);
  EXPECT_GE(max_ends, 3u);
  EXPECT_GT(shared, 0);

  // Separate records: every end meets its begin, in either order; some
  // begins dangle.
  int end_first = 0;
  for (const auto& end : ends) {
    auto b = begins.find(end.first);
    ASSERT_NE(b, begins.end()) << "end of sample " << end.first << " without a begin";
    end_first += end.second < b->second;
    EXPECT_GT(as<qnt_event_sample_end_t>(events[end.second]).time, begin_times[end.first]);
  }
  EXPECT_GT(end_first, 0);
  EXPECT_LT(end_first, int(ends.size()));
  EXPECT_GT(begins.size(), ends.size());

  // A hot spot: the busiest instruction takes a large share of the samples.
  int top = 0;
  for (const auto& pc : begin_pcs) top = std::max(top, pc.second);
  EXPECT_GE(begin_pcs.size(), 10u);
  EXPECT_GT(top, int(options.samples / 8));
}

}  // namespace

// ---- sample_stats agrees with the generator ------------------------------------

// The value after `label` on the first line that starts with it, at or after
// `from`; -1 when there is none.
long long report_value(const std::string& report, const std::string& label, size_t from = 0) {
  size_t at = report.find("\n" + label, from == 0 ? 0 : from - 1);
  if (at == std::string::npos) return -1;
  return std::stoll(report.substr(at + 1 + label.size()));
}

TEST(SampleSynth, SampleStatsCountsWhatTheGeneratorWrote) {
  synth_options_t options;
  options.samples = 5000;
  options.threads = 3;
  options.line_sizes = {64, 256};
  options.seed = 11;
  recording_flow_t flow;
  generate(options, &flow);

  struct counts_t {
    long long begins = 0, ends = 0, danglings = 0;
    std::set<uint64_t> begin_times, end_times;
  };
  std::map<qnt_line_size_t, counts_t> expected;
  std::map<uint32_t, const qnt_event_sample_begin_t*> open;  // separate begins by id
  std::map<uint32_t, const qnt_event_sample_end_t*> early;   // ends before their begin
  long long stacks = 0, bursts = 0;
  auto count_end = [&](qnt_line_size_t line, uint64_t time) {
    ++expected[line].ends;
    expected[line].end_times.insert(time);
  };
  for (const auto& e : flow.events) {
    switch (e->get_kind()) {
      case kind_stack: ++stacks; break;
      case kind_burst_begin: ++bursts; break;
      case kind_sample: {
        const auto& s = as<qnt_event_sample_t>(e);
        qnt_line_size_t line = qnt_line_size_from_log(s.line_size);
        ++expected[line].begins;
        expected[line].begin_times.insert(s.begin.time);
        if (!s.ends.empty()) count_end(line, s.ends[0].time);
        break;
      }
      case kind_sample_begin: {
        const auto& b = as<qnt_event_sample_begin_t>(e);
        ++expected[b.line_size].begins;
        expected[b.line_size].begin_times.insert(b.time);
        auto end = early.find(b.sample_id);
        if (end != early.end()) {
          count_end(b.line_size, end->second->time);
          early.erase(end);
        } else {
          open[b.sample_id] = &b;
        }
        break;
      }
      case kind_sample_end: {
        const auto& end = as<qnt_event_sample_end_t>(e);
        auto begin = open.find(end.sample_id);
        if (begin != open.end()) {
          count_end(begin->second->line_size, end.time);
          open.erase(begin);
        } else {
          early[end.sample_id] = &end;
        }
        break;
      }
      default: break;
    }
  }
  ASSERT_TRUE(early.empty());
  for (const auto& b : open) ++expected[b.second->line_size].danglings;
  ASSERT_EQ(expected.size(), 2u);

  temp_dir_t tmp;
  ASSERT_EQ(synth({"--samples", "5000", "--threads", "3", "--line-size", "64", "--line-size",
                   "256", "--seed", "11", "-o", tmp.file("s.smp")})
                .exit_status,
            0);
  run_result_t stats = run_program({bin_path("sample_stats"), "-i", tmp.file("s.smp")});
  ASSERT_EQ(stats.exit_status, 0) << stats.err;
  EXPECT_EQ(stats.err, "");
  const std::string& report = stats.out;
  EXPECT_EQ(report_value(report, "Stacks: "), stacks);
  for (const auto& line : expected) {
    SCOPED_TRACE(line.first);
    size_t section = report.find("Statitistics for line size " + std::to_string(line.first) + ":");
    ASSERT_NE(section, std::string::npos) << report;
    const counts_t& c = line.second;
    EXPECT_GT(c.danglings, 0);
    EXPECT_EQ(report_value(report, "  Sample begin events:  ", section), c.begins);
    EXPECT_EQ(report_value(report, "  Sample end events:    ", section), c.ends);
    EXPECT_EQ(report_value(report, "  Sample begin times:   ", section),
              static_cast<long long>(c.begin_times.size()));
    EXPECT_EQ(report_value(report, "  Sample end times:     ", section),
              static_cast<long long>(c.end_times.size()));
    EXPECT_EQ(report_value(report, "  Dangling samples:     ", section), c.danglings);
    EXPECT_EQ(report_value(report, "  Burst begin events: ", section), bursts);
    EXPECT_EQ(report_value(report, "  Burst end events: ", section), bursts);
  }
}

// ---- Planted sharing -----------------------------------------------------------

// With --false-sharing the run is the run without it plus the planted
// samples (and the stacks of their function): every other event the same, in
// the same order. The planted samples increment a thread's own counter of
// the packed line, ended by other threads' increments of theirs, or the one
// shared counter beside it.
TEST(SampleSynth, FalseSharingAddsOnlyThePlantedSamples) {
  using velkor::synth::planted_counters;
  synth_options_t options;
  options.samples = 4000;
  options.threads = 3;
  options.line_sizes = {128, 64};
  recording_flow_t plain, planted;
  generate(options, &plain);
  options.false_sharing = true;
  generate(options, &planted);

  // Stacks 15 and 16: the planted function's, of the main and a worker thread.
  std::vector<std::string> rest;
  int packed = 0, shared = 0;
  for (const auto& event : planted.events) {
    if (event->get_kind() == kind_stack && as<qnt_event_stack_t>(event).id >= 15) continue;
    if (event->get_kind() == kind_sample) {
      const auto& s = as<qnt_event_sample_t>(event);
      if (s.begin.pc == velkor::synth::planted_counter_pc) {
        ++packed;
        EXPECT_EQ(s.line_size, 7);  // the first line size
        const qnt_sample_access_t* previous = &s.begin;
        EXPECT_FALSE(s.ends.empty());
        for (const qnt_sample_access_t& end : s.ends) {
          EXPECT_NE(end.thread, previous->thread);
          previous = &end;
        }
        std::vector<qnt_sample_access_t> all{s.begin};
        all.insert(all.end(), s.ends.begin(), s.ends.end());
        for (const qnt_sample_access_t& a : all) {
          EXPECT_EQ(a.addr, planted_counters + 8 * (a.thread - velkor::synth::main_thread_id));
          EXPECT_EQ(a.access_type, qnt_access_rdwr);
          EXPECT_EQ(a.pc, velkor::synth::planted_counter_pc);
        }
        continue;
      }
      if (s.begin.pc == velkor::synth::planted_shared_pc) {
        ++shared;
        for (const qnt_sample_access_t& end : s.ends) EXPECT_EQ(end.addr, planted_counters + 128);
        EXPECT_EQ(s.begin.addr, planted_counters + 128);
        continue;
      }
    }
    rest.push_back(velkor::testkit::event_text(*event));
  }
  EXPECT_EQ(rest, plain.texts());
  // About one sample in eight, two in three of them on the packed line.
  EXPECT_GT(packed, 200);
  EXPECT_GT(shared, 100);
  EXPECT_LT(packed + shared, 800);
}
