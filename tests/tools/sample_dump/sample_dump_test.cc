// Runs the built sample_dump on small files written with the library's
// writer, and compares its whole output and diagnostics.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "events/qnt_events.h"
#include "flow/flow_file_reader.h"
#include "flow/flow_file_writer.h"
#include "support/recording_flow.h"
#include "support/test_support.h"

using namespace velkor::library;
using velkor::testkit::bin_path;
using velkor::testkit::event_text;
using velkor::testkit::hex;
using velkor::testkit::read_file;
using velkor::testkit::recording_flow_t;
using velkor::testkit::run_options_t;
using velkor::testkit::run_program;
using velkor::testkit::run_result_t;
using velkor::testkit::temp_dir_t;
using velkor::testkit::write_file;

namespace {

// ---- Fixtures ------------------------------------------------------------------

run_result_t dump(const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<std::string> argv{bin_path("sample_dump")};
  argv.insert(argv.end(), args.begin(), args.end());
  run_options_t options;
  options.stdin_data = input;
  return run_program(argv, options);
}

// A sample file holding the events, written by the library's writer.
std::string sample_file(const std::vector<std::unique_ptr<qnt_event_t>>& events,
                        stream_container_compression_t compression) {
  temp_dir_t tmp;
  stream_container_header_t header;
  header.product = product_keldo_internal;
  header.compression = compression;
  {
    flow_file_writer_t writer(tmp.file("f"), header, boost::make_shared<warning_consumer_null_t>());
    EXPECT_EQ(writer.flow().flow_init(0), flow_status_ok);
    for (const auto& e : events) EXPECT_EQ(writer.flow().process_event(*e), flow_status_ok);
    EXPECT_EQ(writer.finish(), stream_status_ok);
  }
  return read_file(tmp.file("f"));
}

template <class T>
T* add(std::vector<std::unique_ptr<qnt_event_t>>* events) {
  T* event = new T;
  events->emplace_back(event);
  return event;
}

// One event of every kind, with small values that are easy to check by eye.
std::vector<std::unique_ptr<qnt_event_t>> every_kind() {
  std::vector<std::unique_ptr<qnt_event_t>> events;
  auto* acq = add<qnt_event_acquisition_begin_t>(&events);
  acq->time = 1339666013000000000;
  acq->architecture = 1;
  acq->argv = {"./app", "-n", "4"};
  acq->user = "bench";
  acq->line_sizes = {6, 255};
  add<qnt_event_sample_period_t>(&events)->sample_period = 50000;
  auto* mmap = add<qnt_event_mmap_t>(&events);
  mmap->address = 0x400000;
  mmap->size = 4096;
  mmap->attr = 5;
  mmap->device = 2049;
  mmap->inode = 77;
  mmap->filename = "/bin/app";
  mmap->offset = 0x1000;
  mmap->time = 3;
  add<qnt_event_contexts_t>(&events)->contexts = {7, 8};
  auto* mapping = add<qnt_event_time_mapping_t>(&events);
  mapping->times.resize(2);
  mapping->times[0].time = 100;
  mapping->times[0].tid = 7;
  mapping->times[1].time = 90;
  mapping->times[1].tid = 8;
  auto* burst = add<qnt_event_burst_begin_t>(&events);
  burst->real_time = 5000;
  burst->time = 100;
  auto* stack = add<qnt_event_stack_t>(&events);
  stack->id = 1;
  stack->return_addresses = {0x401000, 0x401234};
  auto* sample = add<qnt_event_sample_t>(&events);
  sample->begin.pc = 0x400010;
  sample->begin.addr = 0x7000;
  sample->begin.time = 120;
  sample->begin.stack = 1;
  sample->begin.thread = 7;
  sample->begin.size = 8;
  sample->begin.access_type = qnt_access_rd;
  sample->ends.resize(1);
  sample->ends[0].pc = 0x400020;
  sample->ends[0].addr = 0x7008;
  sample->ends[0].time = 130;
  sample->ends[0].stack = 1;
  sample->ends[0].thread = 8;
  sample->ends[0].size = 8;
  sample->ends[0].access_type = qnt_access_wr;
  sample->next_pc = 0x400014;
  sample->stack = 1;
  sample->line_size = 6;
  auto* killed = add<qnt_event_sample_t>(&events);
  killed->begin = sample->begin;
  killed->begin.time = 125;
  killed->next_pc = 0x400014;
  killed->stack = 1;
  killed->line_size = 255;
  killed->flags = qnt_event_sample_t::flag_killed;
  auto* end = add<qnt_event_sample_end_t>(&events);
  end->time = 150;
  end->thread_id = 8;
  end->sample_id = 5;
  end->pc = 0x400030;
  end->addr = 0x7040;
  end->access_type = qnt_access_wr;
  end->access_size = 4;
  end->rdist = 9;
  auto* begin = add<qnt_event_sample_begin_t>(&events);
  begin->time = 140;
  begin->thread_id = 7;
  begin->sample_id = 5;
  begin->pc = 0x400010;
  begin->next_pc = 0x400014;
  begin->addr = 0x7040;
  begin->access_type = qnt_access_rd;
  begin->access_size = 8;
  begin->line_size = 64;
  auto* read = add<qnt_event_read_t>(&events);
  read->pc = 0x400040;
  read->addr = 0x7080;
  read->thread_id = 7;
  read->size = 2;
  auto* write = add<qnt_event_write_t>(&events);
  write->pc = 0x400044;
  write->addr = 0x7088;
  write->thread_id = 8;
  write->size = 4;
  auto* prefetch = add<qnt_event_prefetch_t>(&events);
  prefetch->pc = 0x400048;
  prefetch->addr = 0x70c0;
  prefetch->thread_id = 8;
  prefetch->size = 64;
  auto* local = add<qnt_event_local_time_t>(&events);
  local->tid = 7;
  local->global_time = 160;
  local->local_time = 80;
  auto* burst_end = add<qnt_event_burst_end_t>(&events);
  burst_end->real_time = 9000;
  burst_end->time = 170;
  auto* munmap = add<qnt_event_munmap_t>(&events);
  munmap->address = 0x400000;
  munmap->size = 4096;
  munmap->time = 180;
  add<qnt_event_acquisition_end_t>(&events)->time = 1339666014000000000;
  return events;
}

const char kRawHeader[] =
    "Container:\n"
    "  Version: 1\n"
    "  Product: Keldo Internal(255)\n"
    "  Data type: Binary samples(0)\n"
    "  Compression: None(0)\n";

const char kDeflateHeader[] =
    "Container:\n"
    "  Version: 1\n"
    "  Product: Keldo Internal(255)\n"
    "  Data type: Binary samples(0)\n"
    "  Compression: Deflate(1)\n";

// The dump of every_kind(), after the container block, by kind.
const char kAcq[] =
    "[acq-begin]      time: 1339666013000000000, user: bench, argv: ./app -n 4, line sizes:  64 0\n";
const char kPeriod[] = "[event-smpl-rt]  sample_rate: 50000\n";
const char kMmap[] =
    "[mmap]           address: 0x0000000000400000, size: 4096, attr: 5, device: 2049, inode: 77, "
    "time: 3, offset: 0x0000000000001000, filename: /bin/app\n";
const char kContexts[] = "[contexts]      contexts: 7 8\n";
const char kMapping[] =
    "[time_mapping]\n"
    "  time 100, tid 7\n"
    "  time 90, tid 8\n";
const char kBurstBegin[] = "[burst-begin]    real_time: 5000, time: 100\n";
const char kStack[] = "[stack]          id: 1, return addresses: 0x401000 0x401234\n";
const char kSamples[] =
    "[sample] line_size: 64\n"
    "  begin: [time 120, thread: 7, pc 0x0000000000400010, stack 1, addr 0x0000000000007000, "
    "size 8, type RD]\n"
    "  pc1+: [pc 0x0000000000400014, stack: 1]\n"
    "  flags: 0\n"
    "  end: [time 130, thread: 8, pc 0x0000000000400020, stack 1, addr 0x0000000000007008, "
    "size 8, type WR]\n"
    "[sample] line_size: 0\n"
    "  begin: [time 125, thread: 7, pc 0x0000000000400010, stack 1, addr 0x0000000000007000, "
    "size 8, type RD]\n"
    "  pc1+: [pc 0x0000000000400014, stack: 1]\n"
    "  flags: 1 Killed \n";
const char kEnd[] =
    "[event-smpl-end] pc<0x0000000000400030>, addr<0x0000000000007040>, thread_id: 8, "
    "sample_id: 5, time: 150, kind:WR, access_size: 4, rdist: 9\n";
const char kBegin[] =
    "[event-smpl-bgn] pc<0x0000000000400010>, pc+1<0x0000000000400014>, "
    "addr<0x0000000000007040>, thread_id: 7, sample_id: 5, time: 140, kind: RD, "
    "access_size: 8, line_size: 64\n";
const char kAccesses[] =
    "[event-read]     pc<0x0000000000400040>, addr<0x0000000000007080>, thread_id: 7, size: 2\n"
    "[event-write]    pc<0x0000000000400044>, addr<0x0000000000007088>, thread_id: 8, size: 4\n"
    "[event-prefetch] pc<0x0000000000400048>, addr<0x00000000000070c0>, thread_id: 8, "
    "size: 64\n";
const char kLocal[] = "[local_time]     tid: 7, global time: 160, local time: 80\n";
const char kBurstEnd[] = "[burst-end]      real_time: 9000, time: 170\n";
const char kMunmap[] = "[munmap]         address: 0x0000000000400000, size: 4096, time: 180\n";
const char kAcqEnd[] = "[acq-end]        time: 1339666014000000000\n";

std::string all_events() {
  return std::string(kAcq) + kPeriod + kMmap + kContexts + kMapping + kBurstBegin + kStack +
         kSamples + kEnd + kBegin + kAccesses + kLocal + kBurstEnd + kMunmap + kAcqEnd;
}

// ---- Whole dumps ---------------------------------------------------------------

TEST(SampleDump, PrintsContainerBlockThenEveryEvent) {
  temp_dir_t tmp;
  write_file(tmp.file("raw"), sample_file(every_kind(), compression_none));
  write_file(tmp.file("deflated"), sample_file(every_kind(), compression_deflate));
  const std::string raw = read_file(tmp.file("raw"));
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    std::string out;
  } cases[] = {
      {"file", {"-i", tmp.file("raw")}, "", kRawHeader + all_events()},
      {"long option, deflated", {"--in-file", tmp.file("deflated")}, "",
       kDeflateHeader + all_events()},
      {"standard input", {}, raw, kRawHeader + all_events()},
      {"empty name", {"-i", ""}, raw, kRawHeader + all_events()},
      {"dash", {"-i", "-"}, raw, kRawHeader + all_events()},
      // The header is there, no event follows.
      {"only a header", {}, raw.substr(0, 12), kRawHeader},
      // Too short for a header: read as a legacy stream, which holds nothing.
      {"empty input", {}, "",
       "Container:\n  Version: 1\n  Product: Pacemark(0)\n  Data type: Binary samples(0)\n"
       "  Compression: Deflate(1)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    run_result_t run = dump(c.args, c.input);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out, c.out);
  }
}

TEST(SampleDump, SynthesizedFileDumpsAsTheLibraryReadsIt) {
  temp_dir_t tmp;
  run_result_t synth = run_program({bin_path("sample_synth"), "--samples", "40", "--threads", "2",
                                    "--line-size", "64", "--line-size", "128", "--seed", "3",
                                    "-o", tmp.file("s.smp")});
  ASSERT_EQ(synth.exit_status, 0) << synth.err;

  recording_flow_t read;
  {
    flow_file_reader_t reader(tmp.file("s.smp"), &read,
                              boost::make_shared<warning_consumer_null_t>());
    ASSERT_EQ(reader.dispatch(), stream_status_ok);
  }
  ASSERT_GT(read.events.size(), 40u);
  std::string expected = kDeflateHeader;
  for (const auto& e : read.events) {
    std::string text = event_text(*e);
    expected += text.back() == '\n' ? text : text + "\n";
  }

  run_result_t run = dump({"-i", tmp.file("s.smp")});
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, expected);
}

TEST(SampleDump, KindsSelectEvents) {
  temp_dir_t tmp;
  write_file(tmp.file("f"), sample_file(every_kind(), compression_none));
  const struct {
    std::vector<std::string> kinds;
    std::string out;
  } cases[] = {
      {{"--kind", "sample"}, kSamples},
      {{"--kind", "burst_end", "--kind", "stack"}, std::string(kStack) + kBurstEnd},
      {{"--kind", "read,prefetch,write"}, kAccesses},
      {{"--kind", "sample_end", "--kind", "sample_begin,acquisition_end", "--kind", "sample_end"},
       std::string(kEnd) + kBegin + kAcqEnd},
      {{"--kind", "contexts"}, kContexts},
      {{"--kind", "time_mapping", "--kind", "local_time"}, std::string(kMapping) + kLocal},
      {{"--kind", "mmap,munmap"}, std::string(kMmap) + kMunmap},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kinds[1]);
    std::vector<std::string> args{"-i", tmp.file("f")};
    args.insert(args.end(), c.kinds.begin(), c.kinds.end());
    run_result_t run = dump(args);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out, kRawHeader + c.out);
  }
}

// ---- Damage --------------------------------------------------------------------

TEST(SampleDump, DamagedInputIsDumpedUpToTheDamage) {
  const std::string raw = sample_file(every_kind(), compression_none);
  std::string long_read = raw;
  // The read record: code 0, length 30, then its pc. One byte too long, it
  // swallows the start of the next header, which then does not fit.
  size_t at = long_read.find(hex("00 00 00 00 1e  00 00 00 00 00 00 00 00 00 40 00 40"));
  ASSERT_NE(at, std::string::npos);
  long_read[at + 4] = 0x1f;
  std::string bad_block = sample_file(every_kind(), compression_deflate);
  bad_block[14] = '\xff';  // the first deflate block has the reserved type
  const std::string upto_read = std::string(kAcq) + kPeriod + kMmap + kContexts + kMapping +
                                kBurstBegin + kStack + kSamples + kEnd + kBegin +
                                kAccesses;
  const struct {
    const char* name;
    std::string input;
    std::string out;
    std::string err;
  } cases[] = {
      // The acquisition end record has 13 bytes; 5 are missing.
      {"cut in the last record", raw.substr(0, raw.size() - 5),
       kRawHeader + all_events().substr(0, all_events().size() - strlen(kAcqEnd)),
       "Error: The input ended inside a record; its last 8 bytes were ignored.\n"},
      {"record longer than its fields", long_read,
       kRawHeader + upto_read.substr(0, upto_read.find("[event-write]")),
       "Error: Unexpected number of bytes read.\n"},
      {"corrupt deflate data", bad_block, kDeflateHeader,
       "Error: deflate() returned Z_DATA_ERROR.\nError: Failed to read input file.\n"},
      {"container version 2", "VELKOR" + hex("00 0c 02 ff 00 00") + raw.substr(12),
       "Container:\n  Version: 2\n  Product: Keldo Internal(255)\n"
       "  Data type: Binary samples(0)\n  Compression: None(0)\n",
       "Error: Failed to read input file. Container version 2 is not supported.\n"},
      {"bzip2", "VELKOR" + hex("00 0c 01 ff 00 02") + raw.substr(12),
       "Container:\n  Version: 1\n  Product: Keldo Internal(255)\n"
       "  Data type: Binary samples(0)\n  Compression: bzip2(2)\n",
       "Error: Failed to read input file. Compression bzip2(2) is not supported.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    run_result_t run = dump({}, c.input);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
  }
}

TEST(SampleDump, CutDeflatedFileIsNotTakenForWhole) {
  temp_dir_t tmp;
  ASSERT_EQ(run_program({bin_path("sample_synth"), "--samples", "2000", "-o", tmp.file("s")})
                .exit_status,
            0);
  const std::string whole = read_file(tmp.file("s"));
  run_result_t full = dump({}, whole);
  ASSERT_EQ(full.exit_status, 0);
  ASSERT_EQ(full.err, "");
  const std::string cut_short =
      "Warning: The compressed stream ended before its end; the input was cut short.\n";

  // Cut inside a record: what was printed is the start of the whole dump.
  run_result_t half = dump({}, whole.substr(0, whole.size() / 2));
  EXPECT_EQ(half.exit_status, 1);
  EXPECT_FALSE(half.out.empty());
  EXPECT_EQ(full.out.compare(0, half.out.size(), half.out), 0);
  EXPECT_EQ(half.err.rfind(cut_short + "Error: The input ended inside a record; its last ", 0),
            0u)
      << half.err;

  // Cut inside the checksum: every event is there, but the file is not whole.
  run_result_t checksum = dump({}, whole.substr(0, whole.size() - 2));
  EXPECT_EQ(checksum.exit_status, 1);
  EXPECT_EQ(checksum.out, full.out);
  EXPECT_EQ(checksum.err, cut_short + "Error: The input is incomplete.\n");
}

// ---- Command line and output ---------------------------------------------------

TEST(SampleDump, BadCommandLinesGetOneLineAndStatus1) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--kind", "samples"},
       "Error: unknown event kind 'samples'; the kinds are read, write, prefetch, sample_begin, "
       "sample_end, sample_period, acquisition_begin, acquisition_end, mmap, munmap, stack, "
       "sample, time_mapping, local_time, burst_begin, burst_end, contexts.\n"},
      {{"--kind", "sample,"},
       "Error: unknown event kind ''; the kinds are read, write, prefetch, sample_begin, "
       "sample_end, sample_period, acquisition_begin, acquisition_end, mmap, munmap, stack, "
       "sample, time_mapping, local_time, burst_begin, burst_end, contexts.\n"},
      {{"--frobnicate"}, "Error: unrecognised option '--frobnicate'\n"},
      {{"-i"}, "Error: the required argument for option '--in-file' is missing\n"},
      {{"file.smp"}, "Error: no positional arguments allowed\n"},
      {{"-i", "/nonexistent/f.smp"},
       "Error: Failed to open file /nonexistent/f.smp:  error 2, No such file or directory.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    run_result_t run = dump(c.args);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
}

TEST(SampleDump, HelpGoesToStandardError) {
  run_result_t run = dump({"--help"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("Usage: sample_dump [OPTION]...\n", 0), 0u) << run.err;
  EXPECT_NE(run.err.find("--in-file"), std::string::npos);
  EXPECT_NE(run.err.find("--kind"), std::string::npos);
}

TEST(SampleDump, FailedOutputIsAnError) {
  temp_dir_t tmp;
  write_file(tmp.file("f"), sample_file(every_kind(), compression_none));
  run_result_t run = run_program(
      {"/bin/sh", "-c", "\"$0\" -i \"$1\" > /dev/full", bin_path("sample_dump"), tmp.file("f")});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, "Error: Failed to write standard output: No space left on device.\n");
}

}  // namespace
