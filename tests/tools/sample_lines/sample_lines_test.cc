// Runs the built sample_lines: on a small file written here through the
// encoder (whole output compared with a text written by hand, the JSON read
// back by Python's json module and checked against the text), on a file of
// sample_synth --false-sharing (the planted line first, with its threads,
// offsets and pcs), and on bad command lines and damaged input.
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "events/qnt_events.h"
#include "flow/flow_file_writer.h"
#include "stream/stream_container.h"
#include "support/test_support.h"

namespace {

using namespace velkor::library;
using velkor::testkit::bin_path;
using velkor::testkit::hex;
using velkor::testkit::read_file;
using velkor::testkit::run_options_t;
using velkor::testkit::run_program;
using velkor::testkit::run_result_t;
using velkor::testkit::temp_dir_t;
using velkor::testkit::write_file;

run_result_t lines(std::vector<std::string> args) {
  args.insert(args.begin(), bin_path("sample_lines"));
  return run_program(args);
}

// ---- A file written here -------------------------------------------------------------

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

class recording_t {
 public:
  explicit recording_t(const std::string& path)
      : writer_(path, stream_container_header_t(), boost::make_shared<warning_consumer_null_t>()) {
    EXPECT_EQ(writer_.flow().flow_init(0), flow_status_ok);
    qnt_event_acquisition_begin_t begin;
    begin.line_sizes = {6};
    add(begin);
  }
  ~recording_t() { EXPECT_EQ(writer_.finish(), stream_status_ok); }

  void add(const qnt_event_t& event) { EXPECT_EQ(writer_.flow().process_event(event), flow_status_ok); }
  void sample(const access_t& first, const access_t& second) {
    qnt_event_sample_t e;
    e.begin = sampled(first);
    e.ends.push_back(sampled(second));
    e.line_size = 6;
    add(e);
  }
  void begin(uint32_t id, const access_t& a) {
    qnt_event_sample_begin_t e;
    e.sample_id = id;
    e.thread_id = a.thread;
    e.addr = a.addr;
    e.access_type = a.type;
    e.access_size = a.size;
    e.pc = a.pc;
    e.line_size = 64;
    add(e);
  }
  void end(uint32_t id, const access_t& a) {
    qnt_event_sample_end_t e;
    e.sample_id = id;
    e.thread_id = a.thread;
    e.addr = a.addr;
    e.access_type = a.type;
    e.access_size = a.size;
    e.pc = a.pc;
    add(e);
  }

 private:
  flow_file_writer_t writer_;
};

const qnt_access_type_t RD = qnt_access_rd, WR = qnt_access_wr, RW = qnt_access_rdwr;

// A false-sharing line, a true-sharing one beside it (in separate begins
// and ends, one pair end first), a read-shared and a private line, and a
// begin that never meets its end.
void write_planted(const std::string& path) {
  recording_t r(path);
  r.sample({101, 0x601000, WR, 8, 0x401001}, {102, 0x601008, WR, 8, 0x401002});
  r.sample({102, 0x601008, WR, 8, 0x401002}, {101, 0x601000, RD, 8, 0x401003});
  r.begin(1, {101, 0x601040, RW, 8, 0x401011});
  r.end(1, {102, 0x601040, RW, 8, 0x401011});
  r.end(2, {101, 0x601040, WR, 8, 0x401013});
  r.begin(2, {102, 0x601044, RD, 4, 0x401012});
  r.sample({101, 0x602000, RD, 8, 0x401021}, {103, 0x602010, RD, 8, 0x401022});
  r.sample({101, 0x603000, WR, 8, 0x401031}, {101, 0x603008, RD, 8, 0x401032});
  r.begin(3, {103, 0x604000, WR, 8, 0x401041});
}

const char planted_text[] =
    "Cache lines: 4 touched, 3 shared by several threads (1 false-sharing, 1 true-sharing, 1 "
    "read-shared), 1 private\n"
    "Accesses: 12 (7 reads, 7 writes) in 4 samples and 2 separate begin/end pairs\n"
    "Transfers between threads: 5 of 6 pairs of consecutive accesses\n"
    "  involving a write: 4 (write->read 1, write->write 2, read->write 1)\n"
    "  read->read: 1\n"
    "Separate sample begins that met no end: 1; ends that met no begin: 0\n"
    "\n"
    "Lines by transfers involving a write, those with at least 0.1% of the transfers "
    "involving a write, the first 20:\n"
    "  #  address   size  accesses  reads  writes  threads  writers  transfers  with-write  "
    "w->r  w->w  r->w  r->r   share  verdict\n"
    "  1  0x601000    64         4      1       3        2        2          2           2  "
    "   1     1     0     0  50.00%  false-sharing\n"
    "  2  0x601040    64         4      3       3        2        2          2           2  "
    "   0     1     1     0  50.00%  true-sharing\n"
    "2 lines under 0.1% of the transfers involving a write left out (0 such transfers)\n"
    "\n"
    "Line 1: 0x601000, 64 bytes, false-sharing, 2 threads, 2 writers\n"
    "  thread  bytes  accesses  reads  writes  pc\n"
    "     101  0-7           1      0       1  0x401001\n"
    "                        1      1       0  0x401003\n"
    "     102  8-15          2      0       2  0x401002\n"
    "\n"
    "Line 2: 0x601040, 64 bytes, true-sharing, 2 threads, 2 writers\n"
    "  thread  bytes  accesses  reads  writes  pc\n"
    "     101  0-7           1      1       1  0x401011\n"
    "                        1      0       1  0x401013\n"
    "     102  0-7           1      1       1  0x401011\n"
    "          4-7           1      1       0  0x401012\n";

TEST(SampleLines, ReportsPlantedLinesExactly) {
  temp_dir_t tmp;
  write_planted(tmp.file("planted.smp"));
  run_result_t run = lines({"-i", tmp.file("planted.smp")});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, planted_text);

  // Standard input, and "-" for it, give the same.
  run_options_t from_stdin;
  from_stdin.stdin_data = read_file(tmp.file("planted.smp"));
  EXPECT_EQ(run_program({bin_path("sample_lines")}, from_stdin).out, planted_text);
  EXPECT_EQ(run_program({bin_path("sample_lines"), "-i", "-"}, from_stdin).out, planted_text);
}

// ---- JSON against the text -----------------------------------------------------------

// argv[1]: the JSON document, argv[2]: the text of the same run. Rebuilds
// from the JSON every row of the ranking and of each line's detail as the
// text shows them, compares, and prints "ok".
const char kJsonAgainstText[] = R"PY(
import json, re, sys

def unique(pairs):
    keys = [k for k, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError('duplicate key in %r' % keys)
    return dict(pairs)

raw = open(sys.argv[1], 'rb').read()
assert raw.endswith(b'\n') and raw.count(b'\n') == 1, 'one line'
doc = json.loads(raw.decode('utf-8'), object_pairs_hook=unique)
assert doc['format'] == 'sample_lines-json' and doc['format_version'] == 1
text = open(sys.argv[2]).read().split('\n')

def n(v):
    assert isinstance(v, int) and not isinstance(v, bool), v
    return str(v)

at = next(i for i, l in enumerate(text) if l.startswith('  #  address'))
shown = []
for l in text[at + 1:]:
    if not re.match(r'^ +\d+  0x', l):
        break
    shown.append(l.split())
rebuilt = []
for e in doc['lines']:
    assert e['address_hex'] == '0x%x' % e['address']
    assert e['transfers_with_write'] == (e['transfers_write_read'] + e['transfers_write_write'] +
                                         e['transfers_read_write'])
    threads = n(e['threads']) + ('' if e['other_threads'] is None else '+')
    rebuilt.append([n(e['rank']), e['address_hex'], n(e['line_size']), n(e['accesses']),
                    n(e['reads']), n(e['writes']), threads, n(e['writer_threads']),
                    n(e['transfers']), n(e['transfers_with_write']), n(e['transfers_write_read']),
                    n(e['transfers_write_write']), n(e['transfers_read_write']),
                    n(e['transfers_read_read']), '%.2f%%' % e['write_transfer_percent'],
                    e['verdict']])
assert shown == rebuilt, (shown, rebuilt)

for e in doc['lines']:
    title = 'Line %d: %s, %d bytes, %s, %s thread%s, %d writer%s' % (
        e['rank'], e['address_hex'], e['line_size'], e['verdict'],
        n(e['threads']) + ('' if e['other_threads'] is None else '+'),
        '' if e['threads'] == 1 else 's', e['writer_threads'],
        '' if e['writer_threads'] == 1 else 's')
    at = text.index(title) + 2
    shown = []
    thread = bytes_ = ''
    while text[at].strip():
        cells = text[at].split()
        if cells[0] == 'others':
            thread, bytes_, cells = 'others', cells[1], cells[2:]
        elif len(cells) > 1 and re.match(r'^(\d+-\d+|other)$', cells[1]):
            thread, bytes_, cells = cells[0], cells[1], cells[2:]
        elif re.match(r'^(\d+-\d+|other)$', cells[0]):
            bytes_, cells = cells[0], cells[1:]
        shown.append([thread, bytes_] + cells[:4])
        at += 1
    rebuilt = []
    for t in e['by_thread']:
        for o in e['offsets']:
            if o['thread'] != t['thread']:
                continue
            for p in o['pcs']:
                rebuilt.append([n(t['thread']), '%d-%d' % (o['offset'], o['offset'] + o['length'] - 1),
                                n(p['accesses']), n(p['reads']), n(p['writes']), p['pc_hex']])
        if t['unlisted_accesses']:
            rebuilt.append([n(t['thread']), 'other', n(t['unlisted_accesses']),
                            n(t['unlisted_reads']), n(t['unlisted_writes']), '(past'])
    if e['other_threads'] is not None:
        o = e['other_threads']
        rebuilt.append(['others', '-', n(o['accesses']), n(o['reads']), n(o['writes']),
                        '(threads'])
    assert shown == rebuilt, (shown, rebuilt)
print('ok')
)PY";

TEST(SampleLines, JsonSaysWhatTheTextSays) {
  temp_dir_t tmp;
  write_planted(tmp.file("planted.smp"));
  // 300 threads: the shared counter has more threads than a line keeps.
  ASSERT_EQ(run_program({bin_path("sample_synth"), "--samples", "20000", "--threads", "300",
                         "--false-sharing", "-o", tmp.file("crowded.smp")})
                .exit_status,
            0);
  const struct {
    const char* file;
    std::vector<std::string> options;
  } cases[] = {
      {"planted.smp", {}},
      {"planted.smp", {"--sort", "accesses", "--min-percent", "0"}},
      {"planted.smp", {"--top", "1"}},
      {"crowded.smp", {"--top", "5"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + (c.options.empty() ? "" : " " + c.options[0]));
    std::vector<std::string> args{"-i", tmp.file(c.file)};
    args.insert(args.end(), c.options.begin(), c.options.end());
    run_result_t text = lines(args);
    args.insert(args.end(), {"--format", "json"});
    run_result_t json = lines(args);
    ASSERT_EQ(text.exit_status, 0);
    ASSERT_EQ(json.exit_status, 0);
    EXPECT_EQ(json.err, "");
    write_file(tmp.file("out.json"), json.out);
    write_file(tmp.file("out.txt"), text.out);
    run_result_t check = run_program(
        {"/usr/bin/python3", "-c", kJsonAgainstText, tmp.file("out.json"), tmp.file("out.txt")});
    EXPECT_EQ(check.exit_status, 0) << check.err;
    EXPECT_EQ(check.out, "ok\n");
  }
  EXPECT_NE(lines({"-i", tmp.file("crowded.smp")}).out.find("  others  -"), std::string::npos);
}

// ---- The planted lines of sample_synth ---------------------------------------------------

// The first two lines of the JSON document on standard input, one fact per
// line: address, size, verdict, threads, then per offset thread, range and
// pcs.
const char kFirstLines[] = R"PY(
import json, sys
doc = json.load(sys.stdin)
for e in doc['lines'][:2]:
    print(e['address_hex'], e['line_size'], e['verdict'], e['threads'], e['writer_threads'])
    for o in e['offsets']:
        print(' ', o['thread'], o['offset'], o['length'], ','.join(p['pc_hex'] for p in o['pcs']))
)PY";

TEST(SampleLines, FindsThePlantedFalseSharingFirst) {
  temp_dir_t tmp;
  run_result_t synth = run_program({bin_path("sample_synth"), "--samples", "20000", "--threads",
                                    "4", "--line-size", "64", "--line-size", "128",
                                    "--false-sharing", "-o", tmp.file("fs.smp")});
  ASSERT_EQ(synth.exit_status, 0) << synth.err;
  run_result_t json = lines({"-i", tmp.file("fs.smp"), "--format", "json"});
  ASSERT_EQ(json.exit_status, 0) << json.err;
  run_options_t options;
  options.stdin_data = json.out;
  run_result_t facts = run_program({"/usr/bin/python3", "-c", kFirstLines}, options);
  EXPECT_EQ(facts.err, "");
  // Each of the four threads at its own 8 bytes of line 0x62b000, from the
  // counter's increment; all four at the same bytes of the next line.
  EXPECT_EQ(facts.out,
            "0x62b000 64 false-sharing 4 4\n"
            "  23817 0 8 0x403c18\n"
            "  23818 8 8 0x403c18\n"
            "  23819 16 8 0x403c18\n"
            "  23820 24 8 0x403c18\n"
            "0x62b040 64 true-sharing 4 4\n"
            "  23817 0 8 0x403c40\n"
            "  23818 0 8 0x403c40\n"
            "  23819 0 8 0x403c40\n"
            "  23820 0 8 0x403c40\n");

  run_result_t text = lines({"-i", tmp.file("fs.smp")});
  EXPECT_NE(text.out.find("\nLine 1: 0x62b000, 64 bytes, false-sharing, 4 threads, 4 writers\n"),
            std::string::npos)
      << text.out;
}

// ---- Command line and damaged input --------------------------------------------------------

TEST(SampleLines, BadCommandLinesGetOneLineAndStatus1) {
  const struct {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"--top", "many"},
       "Error: the value 'many' of --top is not a number from 0 to 18446744073709551615.\n"},
      {{"--top", "-1"},
       "Error: the value '-1' of --top is not a number from 0 to 18446744073709551615.\n"},
      {{"--sort", "reads"},
       "Error: unknown sort key 'reads'; the keys are write-transfers, accesses, transfers, "
       "writes, threads.\n"},
      {{"--min-percent", "100.5"},
       "Error: the value '100.5' of --min-percent is not a number from 0 to 100.\n"},
      {{"--min-percent", "nan"},
       "Error: the value 'nan' of --min-percent is not a number from 0 to 100.\n"},
      {{"--min-percent", "."},
       "Error: the value '.' of --min-percent is not a number from 0 to 100.\n"},
      {{"--line-size", "48"},
       "Error: the value '48' of --line-size is not a power of two from 1 to "
       "9223372036854775808.\n"},
      {{"--line-size", "0"},
       "Error: the value '0' of --line-size is not a power of two from 1 to "
       "9223372036854775808.\n"},
      {{"--format", "html"}, "Error: unknown format 'html'; the formats are text and json.\n"},
      {{"--frobnicate"}, "Error: unrecognised option '--frobnicate'\n"},
      {{"--top"}, "Error: the required argument for option '--top' is missing\n"},
      {{"file.smp"}, "Error: no positional arguments allowed\n"},
      {{"-i", "/nonexistent/f.smp"},
       "Error: Failed to open file /nonexistent/f.smp:  error 2, No such file or directory.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    run_result_t run = lines(c.args);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
}

TEST(SampleLines, HelpAndVersion) {
  run_result_t help = lines({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.out, "");
  EXPECT_EQ(help.err.rfind("Usage: sample_lines [OPTION]...\n", 0), 0u) << help.err;
  for (const char* option : {"--in-file", "--top", "--sort", "--min-percent", "--line-size",
                             "--format", "--version"}) {
    EXPECT_NE(help.err.find(option), std::string::npos) << option;
  }
  run_result_t version = lines({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  std::string why;
  EXPECT_TRUE(velkor::testkit::is_version_line(version.out, "sample_lines", &why)) << why;
  EXPECT_EQ(version.err, "");
}

TEST(SampleLines, DamagedInputIsReportedAfterWhatCameBeforeIt) {
  temp_dir_t tmp;
  write_planted(tmp.file("planted.smp"));
  const std::string whole = read_file(tmp.file("planted.smp"));
  // Deflated: cut inside the compressed stream.
  write_file(tmp.file("cut.smp"), whole.substr(0, whole.size() - 6));
  run_result_t cut = lines({"-i", tmp.file("cut.smp")});
  EXPECT_EQ(cut.exit_status, 0);
  EXPECT_EQ(cut.out.rfind("Cache lines: ", 0), 0u) << cut.out;
  EXPECT_NE(cut.err.find("Warning: "), std::string::npos) << cut.err;

  // Not a sample file at all: no report.
  write_file(tmp.file("text.smp"), "just some text, no container header\n");
  run_result_t text = lines({"-i", tmp.file("text.smp")});
  EXPECT_EQ(text.exit_status, 1);
  EXPECT_EQ(text.out, "");
  EXPECT_NE(text.err.find("Error: "), std::string::npos) << text.err;
  EXPECT_EQ(text.err.back(), '\n');

  // A good sample, then a read record one byte longer than its fields,
  // which swallows the start of the next record's header: the report of the
  // sample, then the error.
  {
    stream_container_header_t header;
    header.compression = compression_none;
    flow_file_writer_t writer(tmp.file("raw.smp"), header,
                              boost::make_shared<warning_consumer_null_t>());
    ASSERT_EQ(writer.flow().flow_init(0), flow_status_ok);
    qnt_event_sample_t e;
    e.begin = sampled({7, 0x1000, WR, 8, 0x400});
    e.line_size = 6;
    ASSERT_EQ(writer.flow().process_event(e), flow_status_ok);
    qnt_event_read_t read;
    ASSERT_EQ(writer.flow().process_event(read), flow_status_ok);
    ASSERT_EQ(writer.flow().process_event(e), flow_status_ok);
    ASSERT_EQ(writer.finish(), stream_status_ok);
  }
  std::string damaged = read_file(tmp.file("raw.smp"));
  const size_t at = damaged.find(hex("00 00 00 00 1e"));  // code 0, length 30
  ASSERT_NE(at, std::string::npos);
  damaged[at + 4] = 0x1f;
  write_file(tmp.file("bad.smp"), damaged);
  run_result_t bad = lines({"-i", tmp.file("bad.smp")});
  EXPECT_EQ(bad.exit_status, 1);
  EXPECT_EQ(bad.out.rfind("Cache lines: 1 touched, 0 shared", 0), 0u) << bad.out;
  EXPECT_EQ(bad.err,
            "Error: Unexpected number of bytes read.\n"
            "Error: In record 3 (code 0) at byte 87 of the event stream.\n");

  // A container without events: an empty report, and a warning.
  {
    flow_file_writer_t writer(tmp.file("empty.smp"), stream_container_header_t(),
                              boost::make_shared<warning_consumer_null_t>());
    ASSERT_EQ(writer.finish(), stream_status_ok);
  }
  run_result_t empty = lines({"-i", tmp.file("empty.smp")});
  EXPECT_EQ(empty.exit_status, 0);
  EXPECT_EQ(empty.out.rfind("Cache lines: 0 touched", 0), 0u) << empty.out;
  EXPECT_EQ(empty.err, "Warning: The input holds no events.\n");
}

TEST(SampleLines, FullOutputIsAnError) {
  temp_dir_t tmp;
  write_planted(tmp.file("planted.smp"));
  run_result_t run = run_program({"/bin/sh", "-c",
                                  bin_path("sample_lines") + " -i " + tmp.file("planted.smp") +
                                      " > /dev/full"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err,
            "Error: Failed to write standard output: No space left on device.\n"
            "Error: the report could not be written.\n");
}

}  // namespace
