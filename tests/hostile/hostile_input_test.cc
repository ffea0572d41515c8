// The programs against damaged and hostile sample files (sample_stats,
// sample_dump, sample_lines): whatever the bytes, each run ends by itself
// within its time limit with status 0 or 1, says why on standard error when
// it fails, and trips no assertion or sanitizer.
// Damaged copies of a valid file (every cut, every bit flipped) also go
// through the programs' own flows in this process, where thousands of them
// cost less than a few program runs.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "analysis/cache_line_report.h"
#include "analysis/cache_lines.h"
#include "dump_flow.h"
#include "event_filter.h"
#include "flow/flow_file_reader.h"
#include "flow/flow_file_writer.h"
#include "lines_json.h"
#include "lines_text.h"
#include "sample_file_stats.h"
#include "stats_report.h"
#include "support/record_bytes.h"
#include "support/test_support.h"
#include "support/zlib_reference.h"

using namespace velkor::library;
using namespace velkor::testkit;
using velkor::testkit::bin_path;
using velkor::testkit::hex;
using velkor::testkit::read_file;
using velkor::testkit::run_result_t;
using velkor::testkit::temp_dir_t;
using velkor::testkit::zlib_deflate;

namespace {

const uint64_t max64 = std::numeric_limits<uint64_t>::max();

// ---- Inputs -----------------------------------------------------------------------

// A small file with every kind of event, written by the encoder.
std::string valid_file(stream_container_compression_t compression) {
  temp_dir_t tmp;
  stream_container_header_t header;
  header.product = product_loomview;
  header.compression = compression;
  {
    flow_file_writer_t writer(tmp.file("f"), header, boost::make_shared<warning_consumer_null_t>());
    quenth_flow_t& flow = writer.flow();
    flow.flow_init(1);
    qnt_event_acquisition_begin_t begin;
    begin.time = 1700000000000000000ull;
    begin.architecture = 1;
    begin.argv = {"./app", "-x"};
    begin.user = "alice";
    begin.line_sizes = {6, 7};
    flow.process_event(begin);
    qnt_event_sample_period_t period;
    period.sample_period = 1000;
    flow.process_event(period);
    qnt_event_mmap_t mmap;
    mmap.address = 0x400000;
    mmap.size = 0x1000;
    mmap.filename = "/usr/bin/app";
    flow.process_event(mmap);
    qnt_event_stack_t stack;
    stack.id = 1;
    stack.return_addresses = {0x401000, 0x402000};
    flow.process_event(stack);
    for (uint32_t i = 0; i < 2; ++i) {  // one pair in each order
      qnt_event_sample_begin_t b;
      b.time = 10 + i;
      b.thread_id = 1 + i % 2;
      b.sample_id = i;
      b.pc = 0x401000 + 4 * i;
      b.addr = 0x7000;
      b.access_type = i % 3;
      b.line_size = 64;
      qnt_event_sample_end_t e;
      e.time = 20 + i;
      e.thread_id = 2;
      e.sample_id = i;
      e.pc = 0x402000;
      if (i % 2) {
        flow.process_event(b);
        flow.process_event(e);
      } else {
        flow.process_event(e);
        flow.process_event(b);
      }
    }
    qnt_event_sample_t sample;
    sample.begin.time = 30;
    sample.begin.thread = 1;
    sample.begin.pc = 0x401010;
    sample.line_size = 7;
    qnt_sample_access_t end = sample.begin;
    end.thread = 2;
    end.time = 31;
    end.access_type = 1;
    sample.ends = {end, end};
    flow.process_event(sample);
    qnt_event_burst_begin_t burst_begin;
    burst_begin.real_time = 1000;
    flow.process_event(burst_begin);
    qnt_event_burst_end_t burst_end;
    burst_end.real_time = 5000;
    flow.process_event(burst_end);
    qnt_event_time_mapping_t mapping;
    mapping.times.push_back({40, 1});
    flow.process_event(mapping);
    qnt_event_local_time_t local;
    local.tid = 1;
    flow.process_event(local);
    qnt_event_contexts_t contexts;
    contexts.contexts = {1, 2};
    flow.process_event(contexts);
    qnt_event_munmap_t munmap;
    flow.process_event(munmap);
    qnt_event_read_t read;
    flow.process_event(read);
    qnt_event_acquisition_end_t acquisition_end;
    acquisition_end.time = 1700000001000000000ull;
    flow.process_event(acquisition_end);
    writer.finish();
  }
  return read_file(tmp.file("f"));
}

struct hostile_case_t {
  std::string name;
  std::string input;
};

std::vector<hostile_case_t> crafted_cases() {
  std::vector<hostile_case_t> cases = {
      {"empty", ""},
      {"one byte", "V"},
      {"eleven bytes of header", "VELKOR" + hex("00 0c 01 ff 00")},
      {"header only, raw", "VELKOR" + hex("00 0c 01 ff 00 00")},
      {"header only, deflate", "VELKOR" + hex("00 0c 01 ff 00 01")},
      {"container version 2", "VELKOR" + hex("00 0c 02 ff 00 00 01 02 03")},
      {"bzip2", "VELKOR" + hex("00 0c 01 ff 00 02 01 02 03")},
      {"compression 7", "VELKOR" + hex("00 0c 01 ff 00 07 01 02 03")},
      {"header length 0", "VELKOR" + hex("00 00 01 ff 00 00") + "abc"},
      {"header length 65535", "VELKOR" + hex("ff ff 01 ff 00 00") + "abc"},
      {"corrupt deflate", "VELKOR" + hex("00 0c 01 ff 00 01 78 9c ff ff ff ff 00 11 22")},
      {"legacy garbage", std::string(5000, '\xa5')},
      {"deflate bomb of zeros", "VELKOR" + hex("00 0c 01 ff 00 01") +
                                    zlib_deflate(std::string(20 << 20, '\0'))},
      {"record above the length limit", v3_file(u8(0) + u32(0xffffffffu) + "xyz")},
      {"record at the length limit, cut short", v3_file(u8(0) + u32(64u << 20) + "xyz")},
      {"stack count beyond payload", v3_file(rec(10, u32(1) + u16(65535) + u64(1)))},
      {"contexts count 2^32-1", v3_file(rec(17, u32(0xffffffffu) + u32(1)))},
      {"sample ends count 2^32-1", v3_file(sample(1, 0, {}).substr(0, 5 + 49) + u32(0xffffffffu))},
      {"argv count 2^32-1", v3_file(acquisition(1, 1, u32(0xffffffffu) + text("x")))},
      {"time mapping count beyond payload", v3_file(rec(13, u16(65535)))},
      {"version record after events", v3_file(begin(1, 1, 0) + rec(9, u32(1)))},
      {"unsupported version", "VELKOR" + hex("00 0c 01 ff 00 00") + u8(9) + u16(4) + u32(77)},
      {"zero-length texts", v3_file(acquisition(1, 1, u32(2) + u16(0) + u16(0) + u16(0)) +
                                    rec(8, u64(1) + u64(2) + u32(3) + u64(4) + u64(5) + u64(6) +
                                               u16(0)))},
      {"architectures 2 and 2^32-1",
       v3_file(acquisition(1, 2, u32(0) + text("")) + acquisition(2, 0xffffffffu, u32(0) + text("")))},
      {"acquisition times at the ends", v3_file(acquisition(max64, 0, u32(0) + text("u")) +
                                                rec(7, u64(max64)) + rec(7, u64(999999999)))},
      {"bursts out of order",
       v3_file(burst_end(5) + burst_begin(10) + burst_begin(20) + burst_end(15) + burst_end(25) +
               burst_begin(30))},
      {"burst end before begin in time", v3_file(burst_begin(100) + burst_end(50))},
      {"only burst begins", v3_file(burst_begin(1) + burst_begin(2))},
      {"ends without begins", v3_file(end(1, 5, 0) + end(2, 6, 1) + end(2, 7, 1))},
      {"times near the largest value",
       v3_file(begin(1, max64, 0) + end(1, max64, 1) + begin(2, max64 - 1, 0) +
               sample(max64, 0, {access(max64, 2, 1)}) + sample(0, 0, {}))},
      {"mmap wrapping around", v3_file(rec(8, u64(max64) + u64(max64) + u32(0) + u64(0) + u64(0) +
                                                   u64(0) + text("%s%n%x") + u64(0)))},
      {"sample period of zero", v3_file(rec(4, u32(0)))},
  };
  // Access types 13 to 255 in every place an access type is read.
  std::string types;
  for (int t = 13; t <= 255; ++t) {
    types += begin(t, t, static_cast<uint8_t>(t)) + end(t, t + 1, static_cast<uint8_t>(t)) +
             sample(t, static_cast<uint8_t>(t), {access(t + 2, 3, static_cast<uint8_t>(t))});
  }
  cases.push_back({"access types 13 to 255", v3_file(types)});
  // Every unknown record code, empty and with a payload.
  std::string unknown;
  for (int code = 20; code <= 255; ++code) unknown += rec(code, "") + rec(code, "abc");
  cases.push_back({"unknown codes", v3_file(unknown + begin(1, 1, 0))});
  return cases;
}

// ---- Checks -----------------------------------------------------------------------

// Each reader: the program and its arguments.
typedef std::vector<std::vector<std::string>> readers_t;
const readers_t text_readers = {{"sample_stats"}, {"sample_dump"}, {"sample_lines"}};
// The JSON form writes texts of any bytes as well; the crafted files hold the
// texts that matter, and the runs of the other inputs are many already.
const readers_t all_readers = {{"sample_stats"},
                               {"sample_dump"},
                               {"sample_dump", "--format", "json"},
                               {"sample_lines"},
                               {"sample_lines", "--format", "json", "--top", "0",
                                "--min-percent", "0"},
                               {"sample_lines", "--symbols"}};

struct named_input_t {
  std::string name;
  std::string input;
};

// Runs every reader on every input (several at a time) and expects each run
// to end by itself with 0 or 1, a reason on stderr for 1, and no assertion or
// sanitizer report.
void expect_orderly(const std::vector<named_input_t>& inputs, const readers_t& readers) {
  // In a sanitizer build every run is checked for memory errors and
  // undefined behaviour; the leak check at exit doubles the cost of each of
  // these thousands of runs and is left to the fuzz targets, which feed the
  // same chain far more inputs with it on.
  const char* asan = getenv("ASAN_OPTIONS");
  std::string asan_options = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") +
                             "detect_leaks=0";
  std::vector<velkor::testkit::program_run_t> runs;
  std::vector<std::string> names;
  for (const auto& reader : readers) {
    for (const named_input_t& in : inputs) {
      velkor::testkit::program_run_t run;
      run.argv = reader;
      run.argv[0] = bin_path(reader[0]);
      run.options.stdin_data = in.input;
      run.options.timeout_seconds = 120;
      run.options.env["TZ"] = "UTC";
      run.options.env["ASAN_OPTIONS"] = asan_options;
      runs.push_back(run);
      std::string program;
      for (const std::string& arg : reader) program += arg + " ";
      names.push_back(program + ": " + in.name);
    }
  }
  std::vector<run_result_t> results = velkor::testkit::run_programs(runs, 4);
  for (size_t i = 0; i < results.size(); ++i) {
    const run_result_t& r = results[i];
    SCOPED_TRACE(names[i]);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0) << r.err;
    EXPECT_TRUE(r.exit_status == 0 || r.exit_status == 1) << r.exit_status << "\n" << r.err;
    if (r.exit_status == 1) {
      EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Assertion"), std::string::npos) << r.err;
  }
}

TEST(HostileInput, CraftedFiles) {
  std::vector<named_input_t> inputs;
  for (const hostile_case_t& c : crafted_cases()) inputs.push_back({c.name, c.input});
  expect_orderly(inputs, all_readers);
}

// ---- In this process ---------------------------------------------------------------

// Standard output goes to /dev/null while it lives: the statistics flow
// prints some lines as their events arrive.
class quiet_stdout_t {
 public:
  quiet_stdout_t() : saved_(dup(STDOUT_FILENO)) {
    std::cout.flush();
    fflush(stdout);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  ~quiet_stdout_t() {
    std::cout.flush();
    fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

// What the programs do with an input, in this process: sample_stats' flow
// and report, sample_dump's flow in both forms, sample_lines' flow and its
// report of every line in both forms. Reading may end in a status or in a
// stream, codec or flow exception; anything else is a fault, and so is any
// sanitizer report.
void read_in_process(const std::string& input) {
  auto run = [&input](quenth_flow_t* flow, velkor::dump::dump_flow_t* dump,
                      bool statistics = true) {
    FILE* file = fmemopen(const_cast<char*>(input.data()), input.size(), "rb");
    if (file == NULL) file = fopen("/dev/null", "rb");  // fmemopen refuses nothing
    ASSERT_NE(file, nullptr);
    try {
      flow_file_reader_t reader(file, flow, boost::make_shared<warning_consumer_null_t>());
      if (dump != nullptr) dump->set_header(&reader.get_header());
      stream_status_t status = reader.dispatch();
      if (dump != nullptr) dump->write_header();
      if (dump == nullptr && statistics && status != stream_status_error) {
        auto* stats = static_cast<velkor::sample_stats::sample_file_stats_t*>(flow);
        std::cout << reader.get_header();
        stats->count_all_danglings();
        velkor::sample_stats::print_stats_report(*stats);
      }
    } catch (const stream_exception_t&) {
    } catch (const codec_exception_t&) {
    } catch (const flow_exception_t&) {
    }
    fclose(file);
  };
  {
    velkor::sample_stats::sample_file_stats_t stats;
    run(&stats, nullptr);
  }
  for (auto format : {velkor::dump::format_text, velkor::dump::format_json}) {
    std::ostringstream out;
    velkor::dump::dump_flow_t dump(out, format, velkor::dump::event_filter_t());
    run(&dump, &dump);
  }
  {
    cache_lines_flow_t lines;
    run(&lines, nullptr, false);
    cache_line_report_options_t options;
    options.top = 0;
    options.min_percent = 0;
    const cache_line_report_t report = build_cache_line_report(lines.result(), options);
    std::ostringstream out;
    velkor::sample_lines::render_lines_text(report, out);
    velkor::sample_lines::render_lines_json(report, out);
  }
}

// Every length of a valid file, and every single bit of it flipped: in this
// process, all of them; through the programs, a spread of them.
std::vector<named_input_t> damaged_copies(bool cuts) {
  std::vector<named_input_t> inputs;
  for (auto compression : {compression_none, compression_deflate}) {
    const std::string whole = valid_file(compression);
    const std::string prefix = "compression " + std::to_string(compression);
    if (cuts) {
      for (size_t n = 0; n <= whole.size(); ++n) {
        inputs.push_back({prefix + ", first " + std::to_string(n) + " bytes", whole.substr(0, n)});
      }
    } else {
      for (size_t bit = 0; bit < whole.size() * 8; ++bit) {
        std::string flipped = whole;
        flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
        inputs.push_back({prefix + ", bit " + std::to_string(bit), flipped});
      }
    }
  }
  return inputs;
}

// Each `step`th input, the first and the last few: what the program runs
// see of a long list.
std::vector<named_input_t> spread(const std::vector<named_input_t>& all, size_t step) {
  std::vector<named_input_t> some;
  for (size_t i = 0; i < all.size(); ++i) {
    if (i % step == 0 || i < 16 || i + 16 >= all.size()) some.push_back(all[i]);
  }
  return some;
}

TEST(HostileInput, ValidFileCutAtEveryLength) {
  const std::vector<named_input_t> inputs = damaged_copies(/*cuts=*/true);
  {
    quiet_stdout_t quiet;
    for (const named_input_t& in : inputs) {
      SCOPED_TRACE(in.name);
      read_in_process(in.input);
    }
  }
  expect_orderly(spread(inputs, 7), text_readers);
}

TEST(HostileInput, ValidFileWithSingleBitFlips) {
  const std::vector<named_input_t> inputs = damaged_copies(/*cuts=*/false);
  {
    quiet_stdout_t quiet;
    for (const named_input_t& in : inputs) {
      SCOPED_TRACE(in.name);
      read_in_process(in.input);
    }
  }
  // A prime step spreads the runs over every bit position of the bytes.
  expect_orderly(spread(inputs, 53), text_readers);
}

}  // namespace
