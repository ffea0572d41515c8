// Runs the built sample_dump on small files written with the library's
// writer, and compares its whole output and diagnostics.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "dump_fixtures.h"
#include "events/qnt_events.h"
#include "flow/flow_file_reader.h"
#include "support/recording_flow.h"
#include "support/test_support.h"

using namespace velkor::library;
using velkor::dump_fixtures::dump;
using velkor::dump_fixtures::every_kind;
using velkor::dump_fixtures::sample_file;
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

const char kRawHeader[] =
    "Container:\n"
    "  Version: 1\n"
    "  Product: Keldo Internal(255)\n"
    "  Data type: Binary samples(0)\n"
    "  Compression: None(0)\n";

// What a reader holds for an input without a container header.
const char kDefaultHeader[] =
    "Container:\n"
    "  Version: 1\n"
    "  Product: Pacemark(0)\n"
    "  Data type: Binary samples(0)\n"
    "  Compression: Deflate(1)\n";

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
const char kSample[] =
    "[sample] line_size: 64\n"
    "  begin: [time 120, thread: 7, pc 0x0000000000400010, stack 1, addr 0x0000000000007000, "
    "size 8, type RD]\n"
    "  pc1+: [pc 0x0000000000400014, stack: 1]\n"
    "  flags: 0\n"
    "  end: [time 130, thread: 8, pc 0x0000000000400020, stack 1, addr 0x0000000000007008, "
    "size 8, type WR]\n";
const char kKilled[] =
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
const char kRead[] =
    "[event-read]     pc<0x0000000000400040>, addr<0x0000000000007080>, thread_id: 7, size: 2\n";
const char kWrite[] =
    "[event-write]    pc<0x0000000000400044>, addr<0x0000000000007088>, thread_id: 8, size: 4\n";
const char kPrefetch[] =
    "[event-prefetch] pc<0x0000000000400048>, addr<0x00000000000070c0>, thread_id: 8, "
    "size: 64\n";
const std::string kAccesses = std::string(kRead) + kWrite + kPrefetch;
const char kLocal[] = "[local_time]     tid: 7, global time: 160, local time: 80\n";
const char kBurstEnd[] = "[burst-end]      real_time: 9000, time: 170\n";
const char kMunmap[] = "[munmap]         address: 0x0000000000400000, size: 4096, time: 180\n";
const char kAcqEnd[] = "[acq-end]        time: 1339666014000000000\n";

// The texts above in the order of every_kind().
const char* const kTexts[] = {kAcq, kPeriod, kMmap, kContexts, kMapping, kBurstBegin,
                              kStack, kSample, kKilled, kEnd, kBegin, kRead,
                              kWrite, kPrefetch, kLocal, kBurstEnd, kMunmap, kAcqEnd};

// The lines of a text.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start + 1));
    start = end + 1;
  }
  return lines;
}

std::string all_events() {
  return std::string(kAcq) + kPeriod + kMmap + kContexts + kMapping + kBurstBegin + kStack +
         kSample + kKilled + kEnd + kBegin + kAccesses + kLocal + kBurstEnd + kMunmap + kAcqEnd;
}

// ---- Whole dumps ---------------------------------------------------------------

const char kNoEvents[] = "Warning: The input holds no events.\n";

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
    std::string err;
  } cases[] = {
      {"file", {"-i", tmp.file("raw")}, "", kRawHeader + all_events(), ""},
      {"long option, deflated", {"--in-file", tmp.file("deflated")}, "",
       kDeflateHeader + all_events(), ""},
      {"standard input", {}, raw, kRawHeader + all_events(), ""},
      {"empty name", {"-i", ""}, raw, kRawHeader + all_events(), ""},
      {"dash", {"-i", "-"}, raw, kRawHeader + all_events(), ""},
      // The header is there, no event follows.
      {"only a header", {}, raw.substr(0, 12), kRawHeader, kNoEvents},
      // Too short for a header: read as a legacy stream, which holds nothing.
      {"empty input", {}, "",
       "Container:\n  Version: 1\n  Product: Pacemark(0)\n  Data type: Binary samples(0)\n"
       "  Compression: Deflate(1)\n",
       kNoEvents},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    run_result_t run = dump(c.args, c.input);
    EXPECT_EQ(run.err, c.err);
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
      {{"--kind", "sample"}, std::string(kSample) + kKilled},
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

// Kinds, threads and times combine; the header is printed whatever they
// select. Each JSON line stands for one event, so a filtered JSON dump is the
// header line and the selected lines of the whole one.
TEST(SampleDump, FiltersSelectEventsInBothFormats) {
  temp_dir_t tmp;
  write_file(tmp.file("f"), sample_file(every_kind(), compression_none));
  run_result_t whole_json = dump({"-i", tmp.file("f"), "--format", "json"});
  ASSERT_EQ(whole_json.exit_status, 0) << whole_json.err;
  const std::vector<std::string> json_lines = lines_of(whole_json.out);
  ASSERT_EQ(json_lines.size(), 1 + sizeof(kTexts) / sizeof(kTexts[0]));

  const std::vector<int> timed = {0, 2, 4, 5, 7, 8, 9, 10, 14, 15, 16, 17};
  const struct {
    std::vector<std::string> args;
    std::vector<int> events;  // indexes into every_kind()
  } cases[] = {
      {{"--thread", "8"}, {3, 4, 7, 9, 12, 13}},
      {{"--thread", "7"}, {3, 4, 7, 8, 10, 11, 14}},
      {{"--thread", "7,8"}, {3, 4, 7, 8, 9, 10, 11, 12, 13, 14}},
      {{"--thread", "8", "--thread", "7", "--thread", "8"}, {3, 4, 7, 8, 9, 10, 11, 12, 13, 14}},
      {{"--thread", "9"}, {}},
      {{"--thread", "4294967295"}, {}},
      {{"--time-from", "120", "--time-to", "150"}, {7, 8, 9, 10}},
      // Time mapping by any entry, burst begin by time.
      {{"--time-from", "100", "--time-to", "100"}, {4, 5}},
      // Mmap at 3, the mapping's entry at 90.
      {{"--time-to", "99"}, {2, 4}},
      // Local time by its global time.
      {{"--time-from", "160", "--time-to", "160"}, {14}},
      {{"--time-from", "1339666013000000000"}, {0, 17}},
      {{"--time-from", "0"}, timed},
      {{"--time-to", "18446744073709551615"}, timed},
      {{"--thread", "8", "--time-from", "100"}, {4, 7, 9}},
      {{"--kind", "sample,read", "--thread", "7"}, {7, 8, 11}},
      {{"--kind", "local_time", "--time-from", "161"}, {}},
  };
  for (const auto& c : cases) {
    std::string name;
    for (const std::string& arg : c.args) name += arg + " ";
    SCOPED_TRACE(name);
    std::string text = kRawHeader;
    std::string json = json_lines[0];
    for (int i : c.events) {
      text += kTexts[i];
      json += json_lines[1 + i];
    }
    std::vector<std::string> args{"-i", tmp.file("f")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    run_result_t run = dump(args);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out, text);

    args.insert(args.end(), {"--format", "json"});
    run = dump(args);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out, json);
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
  const std::string deflated = sample_file(every_kind(), compression_deflate);
  std::string bad_block = deflated;
  bad_block[14] = '\xff';  // the first deflate block has the reserved type
  const std::string upto_read = std::string(kAcq) + kPeriod + kMmap + kContexts + kMapping +
                                kBurstBegin + kStack + kSample + kKilled + kEnd + kBegin +
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
       "Error: Unexpected number of bytes read.\n"
       "Error: In record 13 (code 0) at byte " + std::to_string(at - 12) +
           " of the event stream.\n"},
      {"bytes after the compressed stream", deflated + "garbage", kDeflateHeader + all_events(),
       "Error: 7 bytes after the end of the compressed stream were ignored.\n"},
      {"a second compressed stream", deflated + deflated.substr(12),
       kDeflateHeader + all_events(),
       "Error: " + std::to_string(deflated.size() - 12) +
           " bytes after the end of the compressed stream were ignored.\n"},
      {"not a sample file", "Just some text, long enough for a header.\n", kDefaultHeader,
       "Error: deflate() returned Z_DATA_ERROR.\n"
       "Error: The input is not a sample file: it starts with neither a container header nor "
       "a zlib header.\n"
       "Error: Failed to read input file.\n"},
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

// The reasons a file cannot be read, and texts of the file that hold control
// characters (a file name holding a newline and an escape sequence).
TEST(SampleDump, ReasonsAndControlCharacters) {
  temp_dir_t tmp;
  run_result_t directory = dump({"-i", tmp.path()});
  EXPECT_EQ(directory.exit_status, 1);
  EXPECT_EQ(directory.err,
            "Error: Failed to read input file. Failed to read " + tmp.path() + ": Is a directory.\n");

  std::vector<std::unique_ptr<qnt_event_t>> events;
  auto mmap = std::make_unique<qnt_event_mmap_t>();
  mmap->address = 0x400000;
  mmap->size = 0x1000;
  mmap->filename = "/bin/app\n[mmap]           forged\x1b[2J\x7f";
  events.push_back(std::move(mmap));
  run_result_t forged = dump({}, sample_file(events, compression_none));
  EXPECT_EQ(forged.exit_status, 0);
  EXPECT_EQ(forged.out, kRawHeader + std::string(
                            "[mmap]           address: 0x0000000000400000, size: 4096, attr: 0, "
                            "device: 0, inode: 0, time: 0, offset: 0x0000000000000000, filename: "
                            "/bin/app\\x0a[mmap]           forged\\x1b[2J\\x7f\n"));
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
      {{"--format", "xml"}, "Error: unknown format 'xml'; the formats are text and json.\n"},
      {{"--format", "JSON"}, "Error: unknown format 'JSON'; the formats are text and json.\n"},
      {{"--thread", "x"},
       "Error: the value 'x' of --thread is not a thread id from 0 to 4294967295.\n"},
      {{"--thread", "4294967296"},
       "Error: the value '4294967296' of --thread is not a thread id from 0 to 4294967295.\n"},
      {{"--thread", "-1"},
       "Error: the value '-1' of --thread is not a thread id from 0 to 4294967295.\n"},
      {{"--thread", "7,"},
       "Error: the value '' of --thread is not a thread id from 0 to 4294967295.\n"},
      {{"--time-from", "1e3"},
       "Error: the value '1e3' of --time-from is not a time from 0 to "
       "18446744073709551615.\n"},
      {{"--time-to", "18446744073709551616"},
       "Error: the value '18446744073709551616' of --time-to is not a time from 0 to "
       "18446744073709551615.\n"},
      {{"--time-from", "5", "--time-to", "4"},
       "Error: the time range is empty: --time-from 5 is after --time-to 4.\n"},
      {{"--time-from", "1", "--time-from", "2"},
       "Error: option '--time-from' cannot be specified more than once\n"},
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

TEST(SampleDump, VersionGoesToStandardOutput) {
  const std::vector<std::vector<std::string>> command_lines = {
      {"--version"},
      // Nothing is read, no other value is looked at.
      {"--version", "-i", "/nonexistent/f.smp", "--kind", "reads", "--format", "xml"},
  };
  for (const auto& args : command_lines) {
    SCOPED_TRACE(args.size());
    run_result_t run = dump(args);
    EXPECT_EQ(run.exit_status, 0);
    std::string why;
    EXPECT_TRUE(velkor::testkit::is_version_line(run.out, "sample_dump", &why)) << why;
    EXPECT_EQ(run.err, "");
  }
  // Help wins.
  run_result_t both = dump({"--version", "--help"});
  EXPECT_EQ(both.exit_status, 0);
  EXPECT_EQ(both.out, "");
  EXPECT_EQ(both.err.rfind("Usage: sample_dump [OPTION]...\n", 0), 0u) << both.err;
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
