// sample_dump --format json, read back by an independent parser: Python's
// json module turns every line into a list of "path=type:value" fields, which
// must equal the fields of the events that were written, one by one.

#include <cinttypes>
#include <cstdio>
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
using velkor::dump_fixtures::add;
using velkor::dump_fixtures::dump;
using velkor::dump_fixtures::every_kind;
using velkor::dump_fixtures::sample_file;
using velkor::testkit::bin_path;
using velkor::testkit::recording_flow_t;
using velkor::testkit::run_options_t;
using velkor::testkit::run_program;
using velkor::testkit::run_result_t;
using velkor::testkit::temp_dir_t;
using velkor::testkit::write_file;

namespace {

typedef std::vector<std::unique_ptr<qnt_event_t>> events_t;

// ---- The independent reading -----------------------------------------------------

// Reads JSON lines on standard input and prints, per line, one field per line
// and then "--". Each line must be strict UTF-8 and one JSON value without
// duplicate keys, NaN or Infinity. Strings are shown as the bytes they stand
// for ('surrogateescape' restores bytes written as \udcXX): printable ASCII
// as it is, other bytes and the backslash as \xNN.
const char kFlatten[] = R"PY(
import json, sys

def visible(s):
    return ''.join(chr(b) if 0x20 <= b < 0x7f and b != 0x5c else '\\x%02x' % b
                   for b in s.encode('utf-8', 'surrogateescape'))

def flat(path, v, out):
    if isinstance(v, bool):
        out.append('%s=bool:%s' % (path, 'true' if v else 'false'))
    elif isinstance(v, int):
        out.append('%s=int:%d' % (path, v))
    elif isinstance(v, str):
        out.append('%s=str:%s' % (path, visible(v)))
    elif isinstance(v, list):
        out.append('%s=list:%d' % (path, len(v)))
        for i, x in enumerate(v):
            flat('%s[%d]' % (path, i), x, out)
    elif isinstance(v, dict):
        for k, x in v.items():
            flat(path + '.' + k if path else k, x, out)
    else:
        out.append('%s=%s:%r' % (path, type(v).__name__, v))

def unique(pairs):
    keys = [k for k, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError('duplicate key in %r' % keys)
    return dict(pairs)

def constant(name):
    raise ValueError('not JSON: ' + name)

for raw in sys.stdin.buffer:
    if not raw.endswith(b'\n'):
        raise ValueError('line without newline')
    value = json.loads(raw.decode('utf-8'), object_pairs_hook=unique, parse_constant=constant)
    out = []
    flat('', value, out)
    print('\n'.join(out))
    print('--')
)PY";

std::string flatten(const std::string& json) {
  run_options_t options;
  options.stdin_data = json;
  run_result_t run = run_program({"/usr/bin/python3", "-c", kFlatten}, options);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  return run.out;
}

// ---- The fields as written -------------------------------------------------------

// The same "path=type:value" lines, from the events themselves.
class fields_t {
 public:
  void number(const std::string& path, uint64_t value) {
    text_ += path + "=int:" + std::to_string(value) + "\n";
  }
  void string(const std::string& path, const std::string& bytes) {
    text_ += path + "=str:";
    for (char c : bytes) {
      unsigned char b = static_cast<unsigned char>(c);
      if (b >= 0x20 && b < 0x7f && b != '\\') {
        text_ += c;
      } else {
        char escape[8];
        snprintf(escape, sizeof(escape), "\\x%02x", b);
        text_ += escape;
      }
    }
    text_ += "\n";
  }
  void address(const std::string& path, uint64_t value) {
    number(path, value);
    char hex[24];
    snprintf(hex, sizeof(hex), "0x%" PRIx64, value);
    string(path + "_hex", hex);
  }
  void boolean(const std::string& path, bool value) {
    text_ += path + "=bool:" + (value ? "true" : "false") + "\n";
  }
  void list(const std::string& path, size_t size) {
    text_ += path + "=list:" + std::to_string(size) + "\n";
  }
  void end_line() { text_ += "--\n"; }

  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

const char* const access_names[] = {"RD",          "WR",          "PF",          "RDWR",
                                    "PF_AMD",      "PF_AMD_W",    "PF_Intel_NTA", "PF_Intel_T0",
                                    "PF_Intel_T1", "PF_Intel_T2", "CLFLUSH",      "NTA_RD",
                                    "NTA_WR"};

void access_type(fields_t* f, const std::string& path, qnt_access_type_t type) {
  f->number(path + "access_type", type);
  f->string(path + "access_type_name", type < 13 ? access_names[type] : "UNKNOWN");
}

uint64_t bytes_of_log(uint8_t log) { return log == 255 ? 0 : uint64_t(1) << (log % 64); }

void sample_access(fields_t* f, const std::string& path, const qnt_sample_access_t& a) {
  f->address(path + ".pc", a.pc);
  f->address(path + ".addr", a.addr);
  f->number(path + ".time", a.time);
  f->number(path + ".stack", a.stack);
  f->number(path + ".thread", a.thread);
  f->number(path + ".size", a.size);
  access_type(f, path + ".", a.access_type);
}

template <class T>
void memory_access(fields_t* f, const T& e) {
  f->address("pc", e.pc);
  f->address("addr", e.addr);
  f->number("thread_id", e.thread_id);
  f->number("size", e.size);
}

template <class T>
const T& as(const qnt_event_t& event) {
  return static_cast<const T&>(event);
}

void add_fields(fields_t* f, const qnt_event_t& event) {
  static const char* const kinds[] = {
      "read", "write", "prefetch", "sample_begin", "sample_end",
      "sample_period", "acquisition_begin", "acquisition_end", "mmap", "munmap",
      "stack", "sample", "time_mapping", "local_time", "burst_begin",
      "burst_end", "contexts"};
  f->string("kind", kinds[event.get_kind()]);
  switch (event.get_kind()) {
    case kind_read: memory_access(f, as<qnt_event_read_t>(event)); break;
    case kind_write: memory_access(f, as<qnt_event_write_t>(event)); break;
    case kind_prefetch: memory_access(f, as<qnt_event_prefetch_t>(event)); break;
    case kind_sample_begin: {
      const auto& e = as<qnt_event_sample_begin_t>(event);
      f->number("time", e.time);
      f->number("thread_id", e.thread_id);
      f->number("sample_id", e.sample_id);
      f->address("pc", e.pc);
      f->address("next_pc", e.next_pc);
      f->address("addr", e.addr);
      access_type(f, "", e.access_type);
      f->number("access_size", e.access_size);
      f->number("line_size", e.line_size);
      break;
    }
    case kind_sample_end: {
      const auto& e = as<qnt_event_sample_end_t>(event);
      f->number("time", e.time);
      f->number("thread_id", e.thread_id);
      f->number("sample_id", e.sample_id);
      f->address("pc", e.pc);
      f->address("addr", e.addr);
      access_type(f, "", e.access_type);
      f->number("access_size", e.access_size);
      f->number("rdist", e.rdist);
      break;
    }
    case kind_sample_period:
      f->number("sample_period", as<qnt_event_sample_period_t>(event).sample_period);
      break;
    case kind_acquisition_begin: {
      const auto& e = as<qnt_event_acquisition_begin_t>(event);
      f->number("time", e.time);
      f->number("architecture", e.architecture);
      f->string("architecture_name",
                e.architecture == 0 ? "i386" : e.architecture == 1 ? "x86_64" : "unknown");
      f->list("argv", e.argv.size());
      for (size_t i = 0; i < e.argv.size(); ++i) {
        f->string("argv[" + std::to_string(i) + "]", e.argv[i]);
      }
      f->string("user", e.user);
      f->list("line_sizes", e.line_sizes.size());
      for (size_t i = 0; i < e.line_sizes.size(); ++i) {
        f->number("line_sizes[" + std::to_string(i) + "]", bytes_of_log(e.line_sizes[i]));
      }
      break;
    }
    case kind_acquisition_end:
      f->number("time", as<qnt_event_acquisition_end_t>(event).time);
      break;
    case kind_mmap: {
      const auto& e = as<qnt_event_mmap_t>(event);
      f->address("address", e.address);
      f->number("size", e.size);
      f->number("attr", e.attr);
      f->number("device", e.device);
      f->number("inode", e.inode);
      f->string("filename", e.filename);
      f->address("offset", e.offset);
      f->number("time", e.time);
      break;
    }
    case kind_munmap: {
      const auto& e = as<qnt_event_munmap_t>(event);
      f->address("address", e.address);
      f->number("size", e.size);
      f->number("time", e.time);
      break;
    }
    case kind_stack: {
      const auto& e = as<qnt_event_stack_t>(event);
      f->number("id", e.id);
      f->list("return_addresses", e.return_addresses.size());
      for (size_t i = 0; i < e.return_addresses.size(); ++i) {
        f->number("return_addresses[" + std::to_string(i) + "]", e.return_addresses[i]);
      }
      f->list("return_addresses_hex", e.return_addresses.size());
      for (size_t i = 0; i < e.return_addresses.size(); ++i) {
        char hex[24];
        snprintf(hex, sizeof(hex), "0x%" PRIx64, e.return_addresses[i].value);
        f->string("return_addresses_hex[" + std::to_string(i) + "]", hex);
      }
      break;
    }
    case kind_sample: {
      const auto& e = as<qnt_event_sample_t>(event);
      sample_access(f, "begin", e.begin);
      f->list("ends", e.ends.size());
      for (size_t i = 0; i < e.ends.size(); ++i) {
        sample_access(f, "ends[" + std::to_string(i) + "]", e.ends[i]);
      }
      f->address("next_pc", e.next_pc);
      f->number("stack", e.stack);
      f->number("line_size", bytes_of_log(e.line_size));
      f->number("flags", e.flags);
      f->boolean("killed", (e.flags & 1) != 0);
      break;
    }
    case kind_time_mapping: {
      const auto& e = as<qnt_event_time_mapping_t>(event);
      f->list("times", e.times.size());
      for (size_t i = 0; i < e.times.size(); ++i) {
        f->number("times[" + std::to_string(i) + "].time", e.times[i].time);
        f->number("times[" + std::to_string(i) + "].tid", e.times[i].tid);
      }
      break;
    }
    case kind_local_time: {
      const auto& e = as<qnt_event_local_time_t>(event);
      f->number("tid", e.tid);
      f->number("global_time", e.global_time);
      f->number("local_time", e.local_time);
      break;
    }
    case kind_burst_begin: {
      const auto& e = as<qnt_event_burst_begin_t>(event);
      f->number("real_time", e.real_time);
      f->number("time", e.time);
      f->number("opaque_1", e.opaque_1);
      f->number("opaque_2", e.opaque_2);
      break;
    }
    case kind_burst_end: {
      const auto& e = as<qnt_event_burst_end_t>(event);
      f->number("real_time", e.real_time);
      f->number("time", e.time);
      break;
    }
    case kind_contexts: {
      const auto& e = as<qnt_event_contexts_t>(event);
      f->list("contexts", e.contexts.size());
      for (size_t i = 0; i < e.contexts.size(); ++i) {
        f->number("contexts[" + std::to_string(i) + "]", e.contexts[i]);
      }
      break;
    }
  }
  f->end_line();
}

// The file line for a version-1 container of product 255.
void add_file_fields(fields_t* f, stream_container_compression_t compression) {
  f->string("format", "sample_dump-json");
  f->number("format_version", 1);
  f->number("container.version", 1);
  f->number("container.product", 255);
  f->string("container.product_name", "Keldo Internal");
  f->number("container.data_type", 0);
  f->string("container.data_type_name", "Binary samples");
  f->number("container.compression", compression);
  f->string("container.compression_name", compression == compression_none ? "None" : "Deflate");
  f->end_line();
}

std::string expected_fields(const events_t& events, stream_container_compression_t compression) {
  fields_t f;
  add_file_fields(&f, compression);
  for (const auto& e : events) add_fields(&f, *e);
  return f.text();
}

// ---- Inputs ----------------------------------------------------------------------

// Texts of any bytes, and numbers at the limits of their fields.
events_t unusual_values() {
  const uint64_t max64 = UINT64_MAX;
  const uint64_t above_double = (uint64_t(1) << 53) + 1;  // not exact as a double
  events_t events;
  auto* acq = add<qnt_event_acquisition_begin_t>(&events);
  acq->time = max64;
  acq->architecture = 7;
  acq->argv = {"",
               "quote\" backslash\\ slash/",
               "\n\t\r\b\f\x01\x1f\x7f",
               std::string("nul\0inside", 10),
               "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
               "latin-1 caf\xe9",
               "\xed\xa0\x80 \xc0\xaf \xf4\x90\x80\x80 \x80 \xe2\x82",
               "\xff"};
  acq->user = std::string("\xfe\0\xff", 3);
  acq->line_sizes = {0, 63, 255};
  auto* mmap = add<qnt_event_mmap_t>(&events);
  mmap->address = max64;
  mmap->size = above_double;
  mmap->attr = UINT32_MAX;
  mmap->device = max64;
  mmap->inode = above_double;
  mmap->filename = "/tmp/\xe9t\xe9 \"x\"\\\n.so";
  mmap->offset = max64 - 1;
  mmap->time = max64;
  auto* read = add<qnt_event_read_t>(&events);
  read->pc = max64;
  read->addr = above_double;
  read->thread_id = UINT32_MAX;
  read->size = UINT16_MAX;
  auto* begin = add<qnt_event_sample_begin_t>(&events);
  begin->time = max64;
  begin->thread_id = UINT32_MAX;
  begin->sample_id = UINT32_MAX;
  begin->pc = max64;
  begin->next_pc = 0;
  begin->addr = above_double;
  begin->access_type = qnt_access_nta_wr;
  begin->access_size = UINT16_MAX;
  begin->line_size = uint64_t(1) << 63;
  auto* end = add<qnt_event_sample_end_t>(&events);
  end->time = above_double;
  end->access_type = 200;  // only a damaged file holds this
  end->rdist = max64;
  auto* sample = add<qnt_event_sample_t>(&events);
  sample->begin.access_type = 13;
  sample->begin.time = max64;
  sample->ends.resize(3);
  for (size_t i = 0; i < sample->ends.size(); ++i) {
    sample->ends[i].pc = max64 - i;
    sample->ends[i].access_type = static_cast<qnt_access_type_t>(qnt_access_pf + i);
    sample->ends[i].thread = static_cast<uint32_t>(i);
  }
  sample->line_size = 63;
  sample->flags = 3;
  auto* other_flags = add<qnt_event_sample_t>(&events);
  other_flags->flags = 254;
  other_flags->line_size = 0;
  auto* burst = add<qnt_event_burst_begin_t>(&events);
  burst->real_time = max64;
  burst->opaque_1 = above_double;
  burst->opaque_2 = max64;
  add<qnt_event_stack_t>(&events)->id = UINT32_MAX;  // no return addresses
  add<qnt_event_contexts_t>(&events);                 // no threads
  add<qnt_event_time_mapping_t>(&events);             // no entries
  auto* period = add<qnt_event_sample_period_t>(&events);
  period->sample_period = UINT32_MAX;
  return events;
}

// ---- Tests -----------------------------------------------------------------------

TEST(SampleDumpJson, EveryFieldOfEveryKindReadsBack) {
  temp_dir_t tmp;
  const struct {
    const char* name;
    events_t events;
  } inputs[] = {{"every kind", every_kind()}, {"unusual values", unusual_values()}};
  for (const auto& input : inputs) {
    for (auto compression : {compression_none, compression_deflate}) {
      SCOPED_TRACE(std::string(input.name) + ", compression " + std::to_string(compression));
      write_file(tmp.file("f"), sample_file(input.events, compression));
      run_result_t run = dump({"--format", "json", "-i", tmp.file("f")});
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(run.exit_status, 0);
      EXPECT_EQ(flatten(run.out), expected_fields(input.events, compression));
    }
  }
}

TEST(SampleDumpJson, SynthesizedFileReadsBackAsTheLibraryDecodesIt) {
  temp_dir_t tmp;
  run_result_t synth = run_program({bin_path("sample_synth"), "--samples", "300", "--threads",
                                    "3", "--line-size", "64", "--line-size", "4096", "--seed",
                                    "5", "-o", tmp.file("s.smp")});
  ASSERT_EQ(synth.exit_status, 0) << synth.err;
  recording_flow_t read;
  {
    flow_file_reader_t reader(tmp.file("s.smp"), &read,
                              boost::make_shared<warning_consumer_null_t>());
    ASSERT_EQ(reader.dispatch(), stream_status_ok);
  }
  ASSERT_GT(read.events.size(), 300u);

  run_result_t run = dump({"--format", "json", "-i", tmp.file("s.smp")});
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(flatten(run.out), expected_fields(read.events, compression_deflate));
}

// The exact text, for a few events: no blanks, keys in field order.
TEST(SampleDumpJson, LinesAsWritten) {
  events_t events;
  auto* acq = add<qnt_event_acquisition_begin_t>(&events);
  acq->time = 1339666013000000000;
  acq->architecture = 1;
  acq->argv = {"./app", "caf\xe9\n"};
  acq->user = "b\"\\";
  acq->line_sizes = {6, 255};
  auto* sample = add<qnt_event_sample_t>(&events);
  sample->begin.pc = 0x1000;
  sample->begin.addr = 0x2000;
  sample->begin.time = 120;
  sample->begin.stack = 1;
  sample->begin.thread = 7;
  sample->begin.size = 8;
  sample->ends.resize(1);
  sample->ends[0] = sample->begin;
  sample->ends[0].access_type = qnt_access_wr;
  sample->next_pc = 0x1004;
  sample->stack = 1;
  sample->line_size = 6;
  sample->flags = 1;
  auto* mapping = add<qnt_event_time_mapping_t>(&events);
  mapping->times.resize(1);
  mapping->times[0].time = 100;
  mapping->times[0].tid = 7;
  run_result_t run = dump({"--format", "json"}, sample_file(events, compression_deflate));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out,
            R"({"format":"sample_dump-json","format_version":1,"container":{"version":1,)"
            R"("product":255,"product_name":"Keldo Internal","data_type":0,)"
            R"("data_type_name":"Binary samples","compression":1,"compression_name":"Deflate"}})"
            "\n"
            R"({"kind":"acquisition_begin","time":1339666013000000000,"architecture":1,)"
            R"("architecture_name":"x86_64","argv":["./app","caf\udce9\n"],"user":"b\"\\",)"
            R"("line_sizes":[64,0]})"
            "\n"
            R"({"kind":"sample","begin":{"pc":4096,"pc_hex":"0x1000","addr":8192,)"
            R"("addr_hex":"0x2000","time":120,"stack":1,"thread":7,"size":8,"access_type":0,)"
            R"("access_type_name":"RD"},"ends":[{"pc":4096,"pc_hex":"0x1000","addr":8192,)"
            R"("addr_hex":"0x2000","time":120,"stack":1,"thread":7,"size":8,"access_type":1,)"
            R"("access_type_name":"WR"}],"next_pc":4100,"next_pc_hex":"0x1004","stack":1,)"
            R"("line_size":64,"flags":1,"killed":true})"
            "\n"
            R"({"kind":"time_mapping","times":[{"time":100,"tid":7}]})"
            "\n");
}

// A damaged file: every line printed before the damage is whole JSON.
TEST(SampleDumpJson, DamagedInputGivesWholeLinesUpToTheDamage) {
  temp_dir_t tmp;
  ASSERT_EQ(run_program({bin_path("sample_synth"), "--samples", "2000", "-o", tmp.file("s")})
                .exit_status,
            0);
  const std::string whole = velkor::testkit::read_file(tmp.file("s"));
  run_result_t full = dump({"--format", "json"}, whole);
  ASSERT_EQ(full.exit_status, 0);
  run_result_t half = dump({"--format", "json"}, whole.substr(0, whole.size() / 2));
  EXPECT_EQ(half.exit_status, 1);
  ASSERT_FALSE(half.out.empty());
  EXPECT_EQ(half.out.back(), '\n');
  EXPECT_EQ(full.out.compare(0, half.out.size(), half.out), 0);
  EXPECT_NE(flatten(half.out), "");
}

}  // namespace
