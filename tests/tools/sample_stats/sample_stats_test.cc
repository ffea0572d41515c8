// Runs the built sample_stats on small sample files written here byte by
// byte and compares its whole standard output and standard error, and its
// exit status, with texts written by hand. Times are shown in UTC.
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "events/qnt_events.h"
#include "flow/flow_file_writer.h"
#include "stream/stream_container.h"
#include "support/sample_files.h"
#include "support/test_support.h"
#include "support/zlib_reference.h"

namespace {

using namespace velkor::library;
using velkor::testkit::bin_path;
using velkor::testkit::hex;
using velkor::testkit::run_options_t;
using velkor::testkit::run_program;
using velkor::testkit::run_result_t;
using velkor::testkit::add_event;
using velkor::testkit::event_list_t;
using velkor::testkit::sample_file;
using velkor::testkit::temp_dir_t;
using velkor::testkit::write_file;
using velkor::testkit::zlib_deflate;

// ---- Files -------------------------------------------------------------------

// "VELKOR", header length 12, version 1, then product, data type 0 and the
// compression.
std::string container(unsigned product, unsigned compression, const std::string& payload) {
  std::string header = hex("56 45 4c 4b 4f 52 | 00 0c | 01");
  header += static_cast<char>(product);
  header += '\0';
  header += static_cast<char>(compression);
  return header + payload;
}

std::string raw(const std::string& payload) { return container(255, 0, payload); }
std::string deflated(const std::string& payload) { return container(1, 1, zlib_deflate(payload)); }

// Version record: version 3, minor 1, empty revision, flow parameter 0.
// Later record headers are 5 bytes: code, 32-bit length.
const std::string v3 = hex("09 00 13 | 00 00 00 03 | 00 00 00 01 | 00 01 00 | 00 00 00 00 00 00 00 00");
// Version record for version 1: 3-byte headers, every record code known.
const std::string v1 = hex("09 00 04 | 00 00 00 01");

// A file with a line of every kind and every section of the report.
const std::string all_sections = v3 + hex(
    // acquisition begin
    "06 00 00 00 28"
    "  11 22 10 f4 7d e9 81 15"    // time 1234567890123456789 ns
    "  00 00 00 01"                // architecture x86_64
    "  00 00 00 02"                // 2 arguments
    "  00 07 2e 2f 70 72 6f 67 00" // "./prog"
    "  00 03 2d 6e 00"             // "-n"
    "  00 06 61 6c 69 63 65 00"    // user "alice"
    "  01 06"                      // 1 line size: 2^6
    // sample period 1000
    "04 00 00 00 04  00 00 03 e8"
    // mmap
    "08 00 00 00 44"
    "  00 00 00 00 00 40 00 00"    // address
    "  00 00 00 00 00 01 a0 00"    // size
    "  00 00 00 05"                // attr
    "  00 00 00 00 00 00 08 01"    // device
    "  00 00 00 00 00 00 04 d2"    // inode
    "  00 00 00 00 00 00 00 00"    // offset
    "  00 0e 2f 75 73 72 2f 62 69 6e 2f 70 72 6f 67 00"  // "/usr/bin/prog"
    "  00 00 00 00 00 00 00 07"    // time
    // stack 1 with two return addresses
    "0a 00 00 00 16  00 00 00 01  00 02"
    "  00 00 00 00 00 40 10 00  00 00 00 00 00 40 20 00"
    // sample end of sample 7, before its begin
    "03 00 00 00 37"
    "  00 00 00 00 00 00 00 00 00 40 10 a0"  // pc
    "  00 00 00 00 00 00 00 00 00 60 10 00"  // addr
    "  00 00 00 00 00 00 00 28"              // time 40
    "  00 00 00 02"                          // thread 2
    "  00 00 00 00 00 00 00 07"              // sample id 7
    "  01  00 08"                            // WR, size 8
    "  00 00 00 00 00 00 00 03"              // rdist
    // sample begin of sample 7
    "02 00 00 00 3c"
    "  00 00 00 00 00 00 00 00 00 40 10 00"  // pc
    "  00 00 00 00 00 00 00 00 00 60 10 00"  // addr
    "  00 00 00 00 00 00 00 1e"              // time 30
    "  00 00 00 01"                          // thread 1
    "  00 00 00 00 00 00 00 07"              // sample id 7
    "  00  00 08  06"                        // RD, size 8, line size 2^6
    "  00 00 00 00 00 00 00 00 00 40 10 04"  // next pc
    // sample begin of sample 8, never ended
    "02 00 00 00 3c"
    "  00 00 00 00 00 00 00 00 00 40 10 00"  // pc
    "  00 00 00 00 00 00 00 00 00 60 10 40"  // addr
    "  00 00 00 00 00 00 00 23"              // time 35
    "  00 00 00 01"                          // thread 1
    "  00 00 00 00 00 00 00 08"              // sample id 8
    "  00  00 08  06"                        // RD, size 8, line size 2^6
    "  00 00 00 00 00 00 00 00 00 40 10 04"  // next pc
    // sample with two ends; accesses: pc | addr | time | stack | thread | size | type
    "10 00 00 00 7b"
    "  00 00 00 00 00 40 11 00 | 00 00 00 00 00 60 20 00 | 00 00 00 00 00 00 00 0a |"
    "  00 00 00 01 | 00 00 00 01 | 00 04 | 00"   // begin: time 10, thread 1, RD
    "  00 00 00 00 00 40 11 04"                  // next pc
    "  00 00 00 01  06  00"                      // stack 1, line size 2^6, flags
    "  00 00 00 02"                              // 2 ends
    "  00 00 00 00 00 40 12 00 | 00 00 00 00 00 60 20 00 | 00 00 00 00 00 00 00 32 |"
    "  00 00 00 01 | 00 00 00 02 | 00 04 | 01"   // time 50, thread 2, WR
    "  00 00 00 00 00 40 13 00 | 00 00 00 00 00 60 20 00 | 00 00 00 00 00 00 00 3c |"
    "  00 00 00 01 | 00 00 00 03 | 00 04 | 00"   // time 60, thread 3, RD
    // sample without end and without line size
    "10 00 00 00 35"
    "  00 00 00 00 00 50 00 00 | 00 00 00 00 00 60 30 00 | 00 00 00 00 00 00 00 14 |"
    "  00 00 00 01 | 00 00 00 04 | 00 08 | 04"   // begin: time 20, thread 4, PF_AMD
    "  00 00 00 00 00 50 00 04"                  // next pc
    "  00 00 00 01  ff  01"                      // stack 1, no line size, killed
    "  00 00 00 00"                              // no ends
    // burst from 2 s to 4.5 s
    "0e 00 00 00 20  00 00 00 00 77 35 94 00  00 00 00 00 00 00 00 05"
    "  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00"
    "0f 00 00 00 10  00 00 00 01 0c 38 8d 00  00 00 00 00 00 00 00 46"
    // acquisition end, 100 s after the begin
    "07 00 00 00 08  11 22 11 0b bf 04 9c 00");

const char all_sections_report[] =
    "Acquisition begin: Fri Feb 13 23:31:30 2009\n"
    "Architecture: x86_64\n"
    "Command line: ./prog -n\n"
    "User: alice\n"
    "Nominal sample period: 1000\n"
    "Mmap: 400000-41a000 /usr/bin/prog\n"
    "Acquisition end: Fri Feb 13 23:33:10 2009\n"
    "Container:\n"
    "  Version: 1\n"
    "  Product: Loomview(1)\n"
    "  Data type: Binary samples(0)\n"
    "  Compression: Deflate(1)\n"
    "Stacks: 1\n"
    "Statitistics for line size 0:\n"
    "  Sample begin events:  1\n"
    "  Sample end events:    0\n"
    "  Sample begin times:   1\n"
    "  Sample end times:     0\n"
    "  Acquisition accesses: 50\n"
    "  Real sample period:   50\n"
    "  Dangling samples:     0\n"
    "  Top sample begin pcs:\n"
    "    0x500000, 1 samples\n"
    "  Top sample end pcs:\n"
    "  Burst begin events: 1\n"
    "  Burst end events: 1\n"
    "  Average burst length: 2.5 s\n"
    "  Access type counts:\n"
    "    PF_AMD: 1\n"
    "Statitistics for line size 64:\n"
    "  Sample begin events:  3\n"
    "  Sample end events:    2\n"
    "  Sample begin times:   3\n"
    "  Sample end times:     2\n"
    "  Acquisition accesses: 50\n"
    "  Real sample period:   16.6667\n"
    "  Dangling samples:     1\n"
    "  Top sample begin pcs:\n"
    "    0x401000, 2 samples\n"
    "    0x401100, 1 samples\n"
    "  Top sample end pcs:\n"
    "    0x401200, 1 samples\n"
    "    0x4010a0, 1 samples\n"
    "  Burst begin events: 1\n"
    "  Burst end events: 1\n"
    "  Average burst length: 2.5 s\n"
    "  Access type counts:\n"
    "    RD: 2\n"
    "    WR: 1\n"
    "Sample distribution over time (2 accesses per bucket):\n"
    "0\n0\n0\n0\n0\n1\n0\n0\n0\n0\n1\n0\n0\n0\n0\n1\n0\n1\n0\n0\n"
    "\n"
    "Communication patterns:\n"
    "1 -> 2  RD-WR   : 1  (50%)\n"
    "2 -> 3  WR-RD   : 1  (50%)\n";

// The header as the reader holds it before any byte arrived, which is also
// what a headerless (legacy) file is taken to have.
const std::string container_default =
    "Container:\n"
    "  Version: 1\n"
    "  Product: Pacemark(0)\n"
    "  Data type: Binary samples(0)\n"
    "  Compression: Deflate(1)\n";

// The header of raw().
const std::string raw_container =
    "Container:\n"
    "  Version: 1\n"
    "  Product: Keldo Internal(255)\n"
    "  Data type: Binary samples(0)\n"
    "  Compression: None(0)\n";

// What follows the container block when nothing was counted.
const std::string empty_stats =
    "Stacks: 0\n"
    "Sample distribution over time (1 accesses per bucket):\n"
    "0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n"
    "\n"
    "Communication patterns:\n";

const std::string no_events = "Warning: The input holds no events.\n";

const std::string help =
    "Options:\n"
    "  -h [ --help ]         Print this help message.\n"
    "  -i [ --in-file ] arg  Specifies the input file. If no file is specified stdin\n"
    "                        is used.\n"
    "\n";

// ---- Running -----------------------------------------------------------------

struct expected_t {
  int status;
  std::string out;
  std::string err;
};

run_result_t run_stats(const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<std::string> argv{bin_path("sample_stats")};
  argv.insert(argv.end(), args.begin(), args.end());
  run_options_t options;
  options.stdin_data = input;
  options.env["TZ"] = "UTC";
  return run_program(argv, options);
}

void expect_run(const run_result_t& r, const expected_t& e) {
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_status, e.status);
  EXPECT_EQ(r.out, e.out);
  EXPECT_EQ(r.err, e.err);
}

// ---- Command line --------------------------------------------------------------

TEST(SampleStats, CommandLine) {
  struct {
    const char* name;
    std::vector<std::string> args;
    expected_t expected;
  } cases[] = {
      // Empty input, as from an empty standard input: the container header
      // as held before any byte arrived and no statistics.
      {"empty command line", {}, {0, container_default + empty_stats, no_events}},
      {"empty input file name", {"-i", ""}, {0, container_default + empty_stats, no_events}},
      {"help", {"--help"}, {0, "", help}},
      {"short help", {"-h"}, {0, "", help}},
      {"help wins over positional arguments", {"-h", "x", "y"}, {0, "", help}},
      {"help wins over version", {"--version", "-h"}, {0, "", help}},
      {"a positional argument", {"x"}, {1, "", "Error: no positional arguments allowed\n"}},
      {"two positional arguments", {"-i", "", "x", "y"}, {1, "", "Error: no positional arguments allowed\n"}},
      {"unknown option", {"--bogus"}, {1, "", "Error: unrecognised option '--bogus'\n" + help}},
      {"missing value", {"-i"},
       {1, "", "Error: the required argument for option '--in-file' is missing\n" + help}},
      {"input file twice", {"-i", "a", "--in-file", "b"},
       {1, "", "Error: option '--in-file' cannot be specified more than once\n" + help}},
      {"input file that does not exist", {"-i", "/nonexistent/in.smp"},
       {1, "", "Error: Failed to open file /nonexistent/in.smp:  error 2, No such file or directory.\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expect_run(run_stats(c.args), c.expected);
  }
}

// ---- Reports -------------------------------------------------------------------

TEST(SampleStats, ReportsEverySectionOfACompressedFile) {
  temp_dir_t dir;
  const std::string path = dir.file("all.smp");
  write_file(path, deflated(all_sections));
  expect_run(run_stats({"-i", path}), {0, all_sections_report, ""});
  expect_run(run_stats({"--in-file", path}), {0, all_sections_report, ""});
  // The same bytes from standard input.
  expect_run(run_stats({}, deflated(all_sections)), {0, all_sections_report, ""});
}

// ---- A larger file, written by the encoder ---------------------------------------

// Events of several thousand records, so that the input spans many blocks:
// 1200 complete samples of line size 64, 300 pairs of separate begins and
// ends of line size 32 (half of them end first) and 10 begins that never
// end, one pair of line size 128, stacks, bursts and mappings in between.
void write_large_file(const std::string& path) {
  stream_container_header_t header;
  header.product = product_glintly;
  flow_file_writer_t writer(path, header, boost::make_shared<warning_consumer_stderr_t>());
  quenth_flow_t& flow = writer.flow();
  ASSERT_EQ(flow.flow_init(0), flow_status_ok);
  auto put = [&flow](const qnt_event_t& e) { ASSERT_EQ(flow.process_event(e), flow_status_ok); };

  qnt_event_acquisition_begin_t acquisition;
  acquisition.time = 1300000000000000000ull;
  acquisition.argv = {"/opt/app/bin/solver", "--threads=3"};
  acquisition.user = "perf";
  acquisition.line_sizes = {5, 6, 7};
  put(acquisition);
  qnt_event_mmap_t mapping;
  mapping.address = 0x7f0000000000ull;
  mapping.size = 0x200000;
  mapping.filename = "/lib/libc.so.6";
  put(mapping);

  for (uint32_t stack_id = 0; stack_id < 5; ++stack_id) {
    qnt_event_stack_t stack;
    stack.id = stack_id;
    stack.return_addresses = {0x1000, 0x2000};
    put(stack);
  }

  // Thread t hands over to thread t + 1 (3 to 1); twelve pcs, round robin.
  for (uint32_t i = 0; i < 1200; ++i) {
    qnt_event_sample_t sample;
    sample.line_size = 6;
    sample.begin.time = 100 * i;
    sample.begin.pc = 0x1000 + 4 * (i % 12);
    sample.begin.thread = 1 + i % 3;
    sample.begin.access_type = qnt_access_rd;
    qnt_sample_access_t end;
    end.time = 100 * i + 50;
    end.pc = 0x2000;
    end.thread = 1 + (i + 1) % 3;
    end.access_type = qnt_access_wr;
    sample.ends.push_back(end);
    put(sample);
    if (i == 600) {
      mapping.address = 0x400000;
      mapping.size = 0x1000;
      mapping.filename = "/opt/app/bin/solver";
      put(mapping);
    }
  }

  for (uint32_t j = 0; j < 300; ++j) {
    qnt_event_sample_begin_t begin;
    begin.sample_id = j;
    begin.time = 200000 + j;
    begin.pc = 0x3000;
    begin.line_size = 32;
    begin.access_type = qnt_access_wr;
    qnt_event_sample_end_t end;
    end.sample_id = j;
    end.time = 300000 + j;
    end.pc = j < 150 ? 0x4000 : 0x4004;
    end.access_type = qnt_access_rdwr;
    if (j < 150) {
      put(begin);
      put(end);
    } else {
      put(end);
      put(begin);
    }
  }
  for (uint32_t k = 0; k < 10; ++k) {
    qnt_event_sample_begin_t begin;
    begin.sample_id = 1000 + k;
    begin.time = 260000 + k;
    begin.pc = 0x3000;
    begin.line_size = 32;
    begin.access_type = qnt_access_wr;
    put(begin);
  }

  qnt_event_sample_begin_t begin;
  begin.sample_id = 5000;
  begin.time = 5;
  begin.pc = 0x5000;
  begin.line_size = 128;
  put(begin);
  qnt_event_sample_end_t end;
  end.sample_id = 5000;
  end.time = 6;
  end.pc = 0x5004;
  put(end);

  // Bursts of 1 s, 2 s and 3 s.
  const uint64_t burst_times[][2] = {{1000000000, 2000000000},
                                     {3000000000, 5000000000},
                                     {6000000000, 9000000000}};
  for (const auto& times : burst_times) {
    qnt_event_burst_begin_t burst_begin;
    burst_begin.real_time = times[0];
    put(burst_begin);
    qnt_event_burst_end_t burst_end;
    burst_end.real_time = times[1];
    put(burst_end);
  }

  qnt_event_acquisition_end_t acquisition_end;
  acquisition_end.time = 1300000060000000000ull;
  put(acquisition_end);
  ASSERT_EQ(writer.finish(), stream_status_ok);
}

// The twelve begin pcs of line size 64 are counted round robin. In round r
// (r >= 2) the pc that reaches count r while its successor still has r - 1
// moves behind all others; a pc whose successor already has r stays. So each
// round one more pc settles at the front, in falling order, and from round 12
// on the count index reads 0x102c, 0x1028, ..., 0x1000: the top list starts
// with 0x1000.
TEST(SampleStats, ReportsALargeFileWrittenByTheEncoder) {
  temp_dir_t dir;
  const std::string path = dir.file("large.smp");
  write_large_file(path);
  const std::string bursts =
      "  Burst begin events: 3\n"
      "  Burst end events: 3\n"
      "  Average burst length: 2 s\n";
  expect_run(run_stats({"-i", path}),
             {0,
              "Acquisition begin: Sun Mar 13 07:06:40 2011\n"
              "Architecture: i386\n"
              "Command line: /opt/app/bin/solver --threads=3\n"
              "User: perf\n"
              "Mmap: 7f0000000000-7f0000200000 /lib/libc.so.6\n"
              "Mmap: 400000-401000 /opt/app/bin/solver\n"
              "Acquisition end: Sun Mar 13 07:07:40 2011\n"
              "Container:\n"
              "  Version: 1\n"
              "  Product: Glintly(2)\n"
              "  Data type: Binary samples(0)\n"
              "  Compression: Deflate(1)\n"
              "Stacks: 5\n"
              "Statitistics for line size 32:\n"
              "  Sample begin events:  310\n"
              "  Sample end events:    300\n"
              "  Sample begin times:   310\n"
              "  Sample end times:     300\n"
              "  Acquisition accesses: 300299\n"
              "  Real sample period:   968.706\n"
              "  Dangling samples:     10\n"
              "  Top sample begin pcs:\n"
              "    0x3000, 310 samples\n"
              "  Top sample end pcs:\n"
              "    0x4000, 150 samples\n"
              "    0x4004, 150 samples\n" +
                  bursts +
                  "  Access type counts:\n"
                  "Statitistics for line size 64:\n"
                  "  Sample begin events:  1200\n"
                  "  Sample end events:    1200\n"
                  "  Sample begin times:   1200\n"
                  "  Sample end times:     1200\n"
                  "  Acquisition accesses: 300299\n"
                  "  Real sample period:   250.249\n"
                  "  Dangling samples:     0\n"
                  "  Top sample begin pcs:\n"
                  "    0x1000, 100 samples\n"
                  "    0x1004, 100 samples\n"
                  "    0x1008, 100 samples\n"
                  "    0x100c, 100 samples\n"
                  "    0x1010, 100 samples\n"
                  "    0x1014, 100 samples\n"
                  "    0x1018, 100 samples\n"
                  "    0x101c, 100 samples\n"
                  "    0x1020, 100 samples\n"
                  "    0x1024, 100 samples\n"
                  "  Top sample end pcs:\n"
                  "    0x2000, 1200 samples\n" +
                  bursts +
                  "  Access type counts:\n"
                  "    RD: 1200\n"
                  "    WR: 1200\n"
                  "Statitistics for line size 128:\n"
                  "  Sample begin events:  1\n"
                  "  Sample end events:    1\n"
                  "  Sample begin times:   1\n"
                  "  Sample end times:     1\n"
                  "  Acquisition accesses: 300299\n"
                  "  Real sample period:   300299\n"
                  "  Dangling samples:     0\n"
                  "  Top sample begin pcs:\n"
                  "    0x5000, 1 samples\n"
                  "  Top sample end pcs:\n"
                  "    0x5004, 1 samples\n" +
                  bursts +
                  "  Access type counts:\n"
                  "Sample distribution over time (16384 accesses per bucket):\n"
                  "165\n164\n164\n164\n164\n164\n163\n53\n0\n0\n0\n0\n300\n0\n0\n10\n0\n0\n0\n0\n"
                  "\n"
                  "Communication patterns:\n"
                  "1 -> 2  RD-WR   : 400  (33.3333%)\n"
                  "2 -> 3  RD-WR   : 400  (33.3333%)\n"
                  "3 -> 1  RD-WR   : 400  (33.3333%)\n",
              ""});
}

TEST(SampleStats, Reports) {
  struct {
    const char* name;
    std::string input;
    expected_t expected;
  } cases[] = {
      // No version record: version 0, 3-byte headers.
      {"acquisition times below one second",
       raw(hex("06 00 13  00 00 00 00 1d cd 65 00  00 00 00 00  00 00 00 00  00 01 00"
               "07 00 08  00 00 00 00 3b 9a c9 ff")),
       {0,
        "Acquisition begin: ?\n"
        "Architecture: i386\n"
        "Command line:\n"
        "User: \n"
        "Acquisition end: ?\n" +
            raw_container + empty_stats,
        ""}},
      {"unknown architecture",
       raw(hex("06 00 18  00 00 00 00 3b 9a ca 00  00 00 00 05  00 00 00 01  00 02 78 00"
               "  00 02 79 00")),
       {0,
        "Acquisition begin: Thu Jan  1 00:00:01 1970\n"
        "Architecture: unknown (5)\n"
        "Command line: x\n"
        "User: y\n" +
            raw_container + empty_stats,
        ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expect_run(run_stats({}, c.input), c.expected);
  }
}

// A sample period record, 1000.
const std::string period = hex("04 00 04  00 00 03 e8");

// A complete sample (version 1 header) whose begin has the given time, of
// thread 1, type RD, at pc 0x1000, line size 2^6, without ends.
std::string sample_at(const std::string& time_hex) {
  return hex("10 00 35  00 00 00 00 00 00 10 00 | 00 00 00 00 00 00 20 00 |" + time_hex +
             " | 00 00 00 00 | 00 00 00 01 | 00 08 | 00"
             "  00 00 00 00 00 00 10 04  00 00 00 00  06  00  00 00 00 00");
}

TEST(SampleStats, DamagedAndUnusualInput) {
  const std::string one_line_size_head =
      "Statitistics for line size 64:\n"
      "  Sample begin events:  1\n"
      "  Sample end events:    0\n"
      "  Sample begin times:   1\n"
      "  Sample end times:     0\n"
      "  Acquisition accesses: 0\n"
      "  Real sample period:   0\n"
      "  Dangling samples:     0\n"
      "  Top sample begin pcs:\n"
      "    0x1000, 1 samples\n"
      "  Top sample end pcs:\n";
  struct {
    const char* name;
    std::string input;
    expected_t expected;
  } cases[] = {
      // ---- Refused by the container or the inflate stage: no report.
      {"container version 2", hex("56 45 4c 4b 4f 52 00 0c 02 01 00 00") + v1 + period,
       {1, "", "Error: Container version 2 is not supported.\nFailed to read input file.\n"}},
      {"bzip2 compression", container(1, 2, v1 + period),
       {1, "", "Error: Compression bzip2(2) is not supported.\nFailed to read input file.\n"}},
      {"text instead of a sample file", "This is not a recording at all.\n",
       {1, "",
        "Error: deflate() returned Z_DATA_ERROR.\n"
        "Error: The input is not a sample file: it starts with neither a container header nor "
        "a zlib header.\n"
        "Failed to read input file.\n"}},
      {"corrupt deflate data", container(1, 1, hex("ff ff ff ff 00 01 02 03")),
       {1, "", "Error: deflate() returned Z_DATA_ERROR.\nFailed to read input file.\n"}},

      // ---- Refused by the decoder: what was printed stays, no report.
      {"unsupported format version", raw(hex("09 00 04  00 00 00 04")),
       {1, "",
        "Error: Unsupport sample file version.\n"
        "Error: In record 1 (code 9) at byte 0 of the event stream.\n"}},
      {"record longer than its fields", raw(v1 + hex("04 00 05  00 00 03 e8 00") + period),
       {1, "Nominal sample period: 1000\n",
        "Error: Unexpected number of bytes read.\n"
        "Error: In record 2 (code 4) at byte 7 of the event stream.\n"}},
      {"record shorter than its fields", raw(v1 + hex("04 00 02  00 00")),
       {1, "",
        "Error: Unexpected number of bytes read.\n"
        "Error: In record 2 (code 4) at byte 7 of the event stream.\n"}},

      // ---- Read to the end, with a warning.
      {"input ends inside a record",
       raw(v1 + period + hex("02 00 3c  00 00 00 00 00 00 00 00 00 40")),
       {0, "Nominal sample period: 1000\n" + raw_container + empty_stats,
        "Warning: The input ended inside a record; its last 13 bytes were ignored.\n"}},
      {"input ends inside a record header", raw(v1 + period + hex("02 00")),
       {0, "Nominal sample period: 1000\n" + raw_container + empty_stats,
        "Warning: The input ended inside a record; its last 2 bytes were ignored.\n"}},
      {"sample ends without their begin",
       raw(v1 + hex("03 00 37  00 00 00 00 00 00 00 00 00 40 10 a0  00 00 00 00 00 00 00 00 00 60 10 00"
                    "  00 00 00 00 00 00 00 28  00 00 00 02  00 00 00 00 00 00 00 05  01  00 08"
                    "  00 00 00 00 00 00 00 03"
                    "03 00 37  00 00 00 00 00 00 00 00 00 40 10 a0  00 00 00 00 00 00 00 00 00 60 10 00"
                    "  00 00 00 00 00 00 00 28  00 00 00 02  00 00 00 00 00 00 00 06  01  00 08"
                    "  00 00 00 00 00 00 00 03")),
       {0, raw_container + empty_stats,
        "Warning: Sample ends that never met their begin were not counted: 2\n"}},

      {"compressed stream cut short at a record boundary",
       [&] {
         std::string whole = container(1, 1, zlib_deflate(v1 + period));
         return whole.substr(0, whole.size() - 4);  // without its checksum
       }(),
       {0,
        "Nominal sample period: 1000\n"
        "Container:\n"
        "  Version: 1\n"
        "  Product: Loomview(1)\n"
        "  Data type: Binary samples(0)\n"
        "  Compression: Deflate(1)\n" +
            empty_stats,
        "Warning: The compressed stream ended before its end; the input was cut short.\n"}},

      // ---- Unusual but whole.
      {"legacy file without container header", zlib_deflate(v1 + period),
       {0, "Nominal sample period: 1000\n" + container_default + empty_stats, ""}},
      // The histogram widens up to 2^60 for the largest time; no count is lost.
      {"largest sample time",
       raw(v1 + sample_at("ff ff ff ff ff ff ff ff") + sample_at("00 00 00 00 00 00 00 00")),
       {0,
        raw_container +
            "Stacks: 0\n"
            "Statitistics for line size 64:\n"
            "  Sample begin events:  2\n"
            "  Sample end events:    0\n"
            "  Sample begin times:   2\n"
            "  Sample end times:     0\n"
            "  Acquisition accesses: 0\n"
            "  Real sample period:   0\n"
            "  Dangling samples:     0\n"
            "  Top sample begin pcs:\n"
            "    0x1000, 2 samples\n"
            "  Top sample end pcs:\n"
            "  Access type counts:\n"
            "    RD: 2\n"
            "Sample distribution over time (1152921504606846976 accesses per bucket):\n"
            "1\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n1\n0\n0\n0\n0\n"
            "\n"
            "Communication patterns:\n",
        ""}},
      // Burst 1 has no end, burst 2 (from 2 s to 5 s) has: 3 s on average.
      {"burst without end followed by a whole one",
       raw(v1 + sample_at("00 00 00 00 00 00 00 03") +
           hex("0e 00 20  00 00 00 00 3b 9a ca 00  00 00 00 00 00 00 00 00"
               "  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00"
               "0e 00 20  00 00 00 00 77 35 94 00  00 00 00 00 00 00 00 00"
               "  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00"
               "0f 00 10  00 00 00 01 2a 05 f2 00  00 00 00 00 00 00 00 00")),
       {0,
        raw_container + "Stacks: 0\n" + one_line_size_head +
            "  Burst begin events: 2\n"
            "  Burst end events: 1\n"
            "  Average burst length: 3 s\n"
            "  Access type counts:\n"
            "    RD: 1\n"
            "Sample distribution over time (1 accesses per bucket):\n"
            "0\n0\n0\n1\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n"
            "\n"
            "Communication patterns:\n",
        ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expect_run(run_stats({}, c.input), c.expected);
  }
}

TEST(SampleStats, AReportThatCannotBeWrittenFails) {
  temp_dir_t dir;
  const std::string path = dir.file("all.smp");
  write_file(path, deflated(all_sections));
  run_options_t options;
  options.env["TZ"] = "UTC";
  const run_result_t r =
      run_program({"/bin/sh", "-c", "exec \"$0\" -i \"$1\" > /dev/full", bin_path("sample_stats"), path},
                  options);
  expect_run(r, {1, "",
                 "Error: Failed to write standard output: No space left on device.\n"
                 "Error: the report could not be written.\n"});
}

// ---- Hostile and unlucky recordings ------------------------------------------------

// The line of the report that starts with `label`, or "" when there is none.
std::string report_line(const std::string& report, const std::string& label) {
  size_t at = report.find("\n" + label);
  if (at == std::string::npos) return "";
  size_t end = report.find('\n', at + 1);
  return report.substr(at + 1, end - at - 1);
}

void add_burst(event_list_t* events, bool begin, uint64_t real_time) {
  if (begin) {
    add_event<qnt_event_burst_begin_t>(events)->real_time = real_time;
  } else {
    add_event<qnt_event_burst_end_t>(events)->real_time = real_time;
  }
}

// The average is over every burst that has both a begin and an end, wherever
// the bursts without one are.
TEST(SampleStats, BurstAverageOverEveryWholeBurst) {
  const uint64_t s = 1000000000;
  const struct {
    const char* name;
    std::vector<std::pair<bool, uint64_t>> bursts;  // (begin?, real time)
    const char* average;
  } cases[] = {
      {"begins 1, 2, 3, end 5: burst 3", {{true, 1 * s}, {true, 2 * s}, {true, 3 * s}, {false, 5 * s}},
       "  Average burst length: 2 s"},
      {"begins 1, 2, end 2.5, begin 3, end 4: bursts 2 and 3",
       {{true, 1 * s}, {true, 2 * s}, {false, 2 * s + s / 2}, {true, 3 * s}, {false, 4 * s}},
       "  Average burst length: 0.75 s"},
      {"all whole: as ever", {{true, 1 * s}, {false, 2 * s}, {true, 3 * s}, {false, 6 * s}},
       "  Average burst length: 2 s"},
      {"an end before any begin has none", {{false, 1 * s}, {true, 2 * s}, {false, 3 * s}},
       "  Average burst length: 1 s"},
      {"no end at all", {{true, 1 * s}, {true, 2 * s}}, "  Average burst length: 0 s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    event_list_t events;
    add_event<qnt_event_sample_t>(&events)->line_size = 6;
    for (const auto& b : c.bursts) add_burst(&events, b.first, b.second);
    run_result_t r = run_stats({}, sample_file(events, compression_none));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(report_line(r.out, "  Average burst length:"), c.average);
  }
}

// An end replaced by a later end of the same id counted nothing, and says so.
TEST(SampleStats, ReplacedSampleEndsAreCountedAsNotCounted) {
  auto end = [](event_list_t* events, uint64_t time) {
    qnt_event_sample_end_t* e = add_event<qnt_event_sample_end_t>(events);
    e->sample_id = 7;
    e->time = time;
    e->pc = 0x2000;
  };
  event_list_t without_begin;
  for (uint64_t t : {10, 11, 12}) end(&without_begin, t);
  run_result_t r = run_stats({}, sample_file(without_begin, compression_none));
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "Warning: Sample ends that never met their begin were not counted: 3\n");

  event_list_t then_begin;
  for (uint64_t t : {10, 11, 12}) end(&then_begin, t);
  qnt_event_sample_begin_t* begin = add_event<qnt_event_sample_begin_t>(&then_begin);
  begin->sample_id = 7;
  begin->line_size = 64;
  r = run_stats({}, sample_file(then_begin, compression_none));
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "Warning: Sample ends that never met their begin were not counted: 2\n");
  EXPECT_EQ(report_line(r.out, "  Sample end events:"), "  Sample end events:    1");
  EXPECT_EQ(report_line(r.out, "  Sample end times:"), "  Sample end times:     1");
}

// What follows the end of the compressed stream is reported, not hidden; the
// report is still printed.
TEST(SampleStats, BytesAfterTheCompressedStreamAreReported) {
  event_list_t events;
  add_event<qnt_event_sample_period_t>(&events)->sample_period = 1000;
  const std::string file = sample_file(events, compression_deflate);
  const std::string report =
      "Nominal sample period: 1000\n"
      "Container:\n"
      "  Version: 1\n"
      "  Product: Keldo Internal(255)\n"
      "  Data type: Binary samples(0)\n"
      "  Compression: Deflate(1)\n" +
      empty_stats;
  expect_run(run_stats({}, file), {0, report, ""});
  expect_run(run_stats({}, file + "garbage"),
             {0, report, "Warning: 7 bytes after the end of the compressed stream were ignored.\n"});
  expect_run(run_stats({}, file + file.substr(12)),
             {0, report,
              "Warning: " + std::to_string(file.size() - 12) +
                  " bytes after the end of the compressed stream were ignored.\n"});
}

// Texts from the file show control characters as \xNN: a file name cannot
// forge report lines nor send escape sequences to the terminal.
TEST(SampleStats, TextsFromTheFileCannotForgeLines) {
  event_list_t events;
  qnt_event_acquisition_begin_t* acquisition = add_event<qnt_event_acquisition_begin_t>(&events);
  acquisition->time = 1000000000;
  acquisition->architecture = 1;
  acquisition->argv = {"./app", "-x\nUser: root"};
  acquisition->user = "\x1b]0;owned\x07" "eve";
  qnt_event_mmap_t* mmap = add_event<qnt_event_mmap_t>(&events);
  mmap->address = 0x400000;
  mmap->size = 0x1000;
  mmap->filename = "/bin/app\nStacks: 999\nStatitistics for line size 8:\x7f" + std::string(1, '\0') +
                   "tail";
  run_result_t r = run_stats({}, sample_file(events, compression_none));
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out.substr(0, r.out.find("Container:")),
            "Acquisition begin: Thu Jan  1 00:00:01 1970\n"
            "Architecture: x86_64\n"
            "Command line: ./app -x\\x0aUser: root\n"
            "User: \\x1b]0;owned\\x07eve\n"
            "Mmap: 400000-401000 /bin/app\\x0aStacks: 999\\x0aStatitistics for line size "
            "8:\\x7f\\x00tail\n");
  EXPECT_EQ(r.out.find("\nStacks: 999"), std::string::npos);
}

// Every refusal says why.
TEST(SampleStats, ReadFailuresSayWhy) {
  temp_dir_t dir;
  expect_run(run_stats({"-i", dir.path()}),
             {1, "",
              "Error: Failed to read " + dir.path() + ": Is a directory.\n"
              "Failed to read input file.\n"});
  // A bare header and an input of version records only: a report, and a
  // warning that nothing was in it.
  expect_run(run_stats({}, raw("")), {0, raw_container + empty_stats, no_events});
  expect_run(run_stats({}, raw(v3)), {0, raw_container + empty_stats, no_events});
}

// --help keeps the text it always had; --help-all prints it and then the
// options that came later.
TEST(SampleStats, HelpOfEveryOption) {
  run_result_t r = run_stats({"--help-all"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(r.err.compare(0, help.size() - 1, help, 0, help.size() - 1), 0) << r.err;
  EXPECT_EQ(r.err.compare(help.size() - 1, 18, "\nFurther options:\n"), 0) << r.err;
  for (const char* option : {"--help-all", "--format arg (=text)", "--top arg (=10)", "--reuse",
                             "--symbols", "--symfs arg", "--version"}) {
    EXPECT_NE(r.err.find("\n  " + std::string(option) + " "), std::string::npos) << option;
  }
}

// --version names the program, the release and the source revision, and
// reads nothing.
TEST(SampleStats, Version) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--version"},
        std::vector<std::string>{"--version", "-i", "/nonexistent/in.smp"}}) {
    run_result_t r = run_stats(args);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    std::string why;
    EXPECT_TRUE(velkor::testkit::is_version_line(r.out, "sample_stats", &why)) << why;
  }
}

}  // namespace
