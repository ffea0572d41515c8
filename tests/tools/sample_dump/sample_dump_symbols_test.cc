// sample_dump --symbols on a recording that maps the symbol fixtures: the
// JSON read back by Python's json module, the text lines, each resolution
// compared with what addr2line and nm say about the same addresses; then the
// mappings changing mid-stream, a missing module and the option errors.

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dump_fixtures.h"
#include "events/qnt_events.h"
#include "support/elf_oracle.h"
#include "support/test_support.h"

using namespace velkor::library;
using namespace velkor::testkit;
using velkor::dump_fixtures::add;
using velkor::dump_fixtures::dump;
using velkor::dump_fixtures::sample_file;

namespace {

typedef std::vector<std::unique_ptr<qnt_event_t>> events_t;

// Prints, per line of sample_dump's JSON, each <name>_sym in document order
// as "path=key=value;..." (module, offset, function, function_offset,
// object, object_offset, file, line, inlined as function@file:line,...), and
// fails on a key it does not know or an offset_hex that is not offset.
const char kSymbols[] = R"PY(
import json, sys

known = {'module', 'offset', 'offset_hex', 'function', 'function_offset', 'object',
         'object_offset', 'file', 'line', 'inlined'}

def flat(s):
    assert set(s) <= known, s
    if 'offset' in s:
        assert s['offset_hex'] == hex(s['offset']), s
    parts = ['%s=%s' % (k, s[k]) for k in ('module', 'offset', 'function', 'function_offset',
                                          'object', 'object_offset', 'file', 'line') if k in s]
    if 'inlined' in s:
        parts.append('inlined=' + ','.join('%s@%s:%s' % (f['function'], f['file'], f['line'])
                                           for f in s['inlined']))
    return ';'.join(parts)

def walk(path, value):
    for k, v in value.items():
        if k.endswith('_sym'):
            if isinstance(v, list):
                for i, s in enumerate(v):
                    print('%s%s[%d]=%s' % (path, k, i, flat(s)))
            else:
                print('%s%s=%s' % (path, k, flat(v)))
        elif isinstance(v, dict):
            walk(path + k + '.', v)
        elif isinstance(v, list):
            for i, x in enumerate(v):
                if isinstance(x, dict):
                    walk('%s%s[%d].' % (path, k, i), x)

for raw in sys.stdin.buffer:
    walk('', json.loads(raw.decode('utf-8')))
)PY";

std::string hex_text(uint64_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << value;
  return text.str();
}

std::string last_component(const std::string& path) { return path.substr(path.rfind('/') + 1); }

const uint64_t app_base = 0x555555554000;
const uint64_t lib_base = 0x7f0000000000;
const uint64_t heap_start = 0x555555600000;

// A module of the recording with what binutils says about it.
struct module_facts_t {
  std::string path;
  uint64_t base;
  std::vector<elf_segment_t> segments;
  std::vector<elf_symbol_t> symbols;

  module_facts_t(const std::string& file, uint64_t at)
      : path(file), base(at), segments(elf_load_segments(file)), symbols(elf_symbols(file)) {}

  uint64_t address(const std::string& symbol, uint64_t plus) const {
    return base + elf_symbol(path, symbol).address + plus;
  }
  // The offset into a function of its first byte whose code is inlined.
  uint64_t first_inlined(const std::string& name) const {
    elf_symbol_t function = elf_symbol(path, name);
    std::vector<uint64_t> vaddrs;
    for (uint64_t a = function.address; a < function.address + function.size; ++a) vaddrs.push_back(a);
    std::vector<std::vector<oracle_frame_t>> frames = addr2line(path, vaddrs);
    for (size_t i = 0; i < frames.size(); ++i) {
      if (frames[i].size() > 1) return i;
    }
    ADD_FAILURE() << "nothing inlined in " << name;
    return 0;
  }
  // The symbol of the kind (function or object) holding an ELF address.
  const elf_symbol_t* holding(uint64_t vaddr, bool function) const {
    for (const elf_symbol_t& s : symbols) {
      bool is_function = s.type == 'T' || s.type == 't' || s.type == 'W' || s.type == 'i';
      if (is_function == function && s.size > 0 && vaddr >= s.address && vaddr - s.address < s.size) {
        return &s;
      }
    }
    return nullptr;
  }

  // The expected resolution of a code address (role "return": resolved at
  // the address less one, offsets of the address itself), as kSymbols
  // prints it; and its text form.
  std::string code(uint64_t address, bool is_return, std::string* text) const {
    uint64_t vaddr = address - base;
    uint64_t asked = is_return ? vaddr - 1 : vaddr;
    const elf_symbol_t* function = holding(asked, true);
    std::vector<oracle_frame_t> frames = addr2line(path, {asked})[0];
    std::string line = "module=" + path + ";offset=" + std::to_string(elf_file_offset(segments, vaddr));
    EXPECT_NE(function, nullptr);
    if (function == nullptr || frames.empty()) return line;
    line += ";function=" + function->name + ";function_offset=" +
            std::to_string(vaddr - function->address);
    const oracle_frame_t& outer = frames.back();
    line += ";file=" + outer.file + ";line=" + std::to_string(outer.line);
    if (frames.size() > 1) {
      line += ";inlined=";
      for (size_t i = 0; i + 1 < frames.size(); ++i) {
        if (i > 0) line += ",";
        line += frames[i].function + "@" + frames[i].file + ":" + std::to_string(frames[i].line);
      }
    }
    *text = function->name + "+" + hex_text(vaddr - function->address) + " (" +
            last_component(outer.file) + ":" + std::to_string(outer.line) + ") [" +
            last_component(path) + "]";
    return line;
  }
  std::string data(uint64_t address) const {
    uint64_t vaddr = address - base;
    const elf_symbol_t* object = holding(vaddr, false);
    EXPECT_NE(object, nullptr);
    return "module=" + path + ";offset=" + std::to_string(elf_file_offset(segments, vaddr)) +
           ";object=" + (object ? object->name : "?") +
           ";object_offset=" + std::to_string(object ? vaddr - object->address : 0);
  }
};

void map_module(events_t* events, const module_facts_t& module) {
  for (const elf_mapping_t& m : loader_mappings(module.segments, module.base)) {
    auto* e = add<qnt_event_mmap_t>(events);
    e->address = m.start;
    e->size = m.size;
    e->offset = m.offset;
    e->attr = 5;
    e->filename = module.path;
  }
}

// The recording: the PIE fixture, the library and a heap mapped; a sample
// (code in both modules, data in a global array and the heap), a stack, a
// sample begin partly outside every mapping; then the library unmapped and a
// sample end in it.
struct recording_t {
  module_facts_t app{symbol_fixture("fixture_pie"), app_base};
  module_facts_t lib{symbol_fixture("libfixture_lib.so"), lib_base};
  events_t events;
  std::vector<std::string> expected_json;  // as kSymbols prints them
  std::vector<std::string> expected_text;  // the "  at" lines

  recording_t() {
    std::string text;
    map_module(&events, app);
    map_module(&events, lib);
    auto* heap = add<qnt_event_mmap_t>(&events);
    heap->address = heap_start;
    heap->size = 0x21000;
    heap->filename = "[heap]";

    auto* sample = add<qnt_event_sample_t>(&events);
    sample->begin.pc = app.address("fx::work(int)", 4);
    sample->begin.addr = app.address("fx::table", 40);
    sample->ends.resize(1);
    sample->ends[0].pc = lib.address("fxlib::lib_function(int)", 2);
    sample->ends[0].addr = heap_start + 16;
    sample->next_pc = app.address("fx::work(int)", app.first_inlined("fx::work(int)"));
    expected_json.push_back("begin.pc_sym=" + app.code(sample->begin.pc, false, &text));
    expected_text.push_back("  at " + text);
    expected_json.push_back("begin.addr_sym=" + app.data(sample->begin.addr));
    expected_json.push_back("ends[0].pc_sym=" + lib.code(sample->ends[0].pc, false, &text));
    expected_text.push_back("  end at " + text);
    expected_json.push_back("ends[0].addr_sym=module=[heap];offset=16");
    expected_json.push_back("next_pc_sym=" + app.code(sample->next_pc, false, &text));

    auto* stack = add<qnt_event_stack_t>(&events);
    stack->return_addresses = {app.address("fx::work(int)", 5), lib.address("lib_entry", 3)};
    expected_json.push_back("return_addresses_sym[0]=" +
                            app.code(stack->return_addresses[0], true, &text));
    expected_text.push_back("  at " + text);
    expected_json.push_back("return_addresses_sym[1]=" +
                            lib.code(stack->return_addresses[1], true, &text));
    expected_text.push_back("  at " + text);

    auto* begin = add<qnt_event_sample_begin_t>(&events);
    begin->pc = app.address("plain_c_function", 1);
    begin->next_pc = app.address("plain_c_function", 3);
    begin->addr = 0x10;
    expected_json.push_back("pc_sym=" + app.code(begin->pc, false, &text));
    expected_text.push_back("  at " + text);
    expected_json.push_back("next_pc_sym=" + app.code(begin->next_pc, false, &text));
    expected_json.push_back("addr_sym=");

    auto* munmap = add<qnt_event_munmap_t>(&events);
    munmap->address = lib_base;
    munmap->size = 0x100000;
    auto* end = add<qnt_event_sample_end_t>(&events);
    end->pc = lib.address("fxlib::lib_function(int)", 2);
    end->addr = app.address("fx::table", 0);
    expected_json.push_back("pc_sym=");
    expected_text.push_back("  at [unknown]");
    expected_json.push_back("addr_sym=" + app.data(end->addr));
  }
};

std::vector<std::string> lines_of(const std::string& text, bool (*keep)(const std::string&)) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (keep(line)) lines.push_back(line);
  }
  return lines;
}

TEST(SampleDumpSymbols, JsonAsAddr2lineSaysIt) {
  recording_t recording;
  std::string file = sample_file(recording.events, compression_deflate);
  // Only the events with addresses are printed; the mappings apply all the same.
  run_result_t r = dump({"--symbols", "--format", "json", "--kind", "sample,stack,sample_begin,sample_end"},
                        file);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  run_options_t options;
  options.stdin_data = r.out;
  run_result_t parsed = run_program({"/usr/bin/python3", "-c", kSymbols}, options);
  ASSERT_EQ(parsed.exit_status, 0) << parsed.err;
  std::vector<std::string> got = lines_of(parsed.out, [](const std::string&) { return true; });
  EXPECT_EQ(got, recording.expected_json);
  // next_pc lies in inlined code: the chain was compared too.
  EXPECT_NE(recording.expected_json[4].find(";inlined="), std::string::npos);
}

TEST(SampleDumpSymbols, TextLinesFollowTheirEvents) {
  recording_t recording;
  std::string file = sample_file(recording.events, compression_none);
  run_result_t r = dump({"--symbols"}, file);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<std::string> got = lines_of(r.out, [](const std::string& line) {
    return line.compare(0, 5, "  at ") == 0 || line.compare(0, 9, "  end at ") == 0;
  });
  EXPECT_EQ(got, recording.expected_text);
  // Each resolution comes right after its event: the sample's after its
  // last line, the stack's after the stack.
  std::string plain = dump({}, file).out;
  size_t stack_line = r.out.find("[stack]");
  ASSERT_NE(stack_line, std::string::npos);
  size_t after_stack = r.out.find('\n', stack_line) + 1;
  EXPECT_EQ(r.out.compare(after_stack, recording.expected_text[2].size(), recording.expected_text[2]), 0);
  // Without the resolution lines the text is the plain dump.
  std::vector<std::string> rest = lines_of(r.out, [](const std::string& line) {
    return line.compare(0, 5, "  at ") != 0 && line.compare(0, 9, "  end at ") != 0;
  });
  EXPECT_EQ(rest, lines_of(plain, [](const std::string&) { return true; }));
}

// A module that is not there: one warning after the output, its addresses
// shown as module+offset, exit status 0. Under --symfs the same module is
// looked up below the root.
TEST(SampleDumpSymbols, MissingModulesAreWarnedAboutOnce) {
  events_t events;
  auto* mmap = add<qnt_event_mmap_t>(&events);
  mmap->address = 0x400000;
  mmap->size = 0x1000;
  mmap->offset = 0x2000;
  mmap->filename = "/nonexistent/app";
  for (int i = 0; i < 3; ++i) {
    auto* read = add<qnt_event_read_t>(&events);
    read->pc = 0x400010 + i;
  }
  std::string file = sample_file(events, compression_none);
  temp_dir_t root;
  const struct {
    std::vector<std::string> args;
    std::string looked_for;
  } cases[] = {
      {{"--symbols"}, "/nonexistent/app"},
      {{"--symbols", "--symfs", root.path()}, root.path() + "/nonexistent/app"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.looked_for);
    run_result_t r = dump(c.args, file);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "Warning: Cannot read the symbols of /nonexistent/app (" + c.looked_for +
                         ": No such file or directory); its addresses are shown as "
                         "module+offset.\n");
    std::vector<std::string> got = lines_of(r.out, [](const std::string& line) {
      return line.compare(0, 5, "  at ") == 0;
    });
    EXPECT_EQ(got, (std::vector<std::string>{"  at [app+0x2010]", "  at [app+0x2011]",
                                             "  at [app+0x2012]"}));
  }
}

TEST(SampleDumpSymbols, OptionErrors) {
  temp_dir_t tmp;
  write_file(tmp.file("plain"), "");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--symfs", tmp.path()}, "Error: --symfs needs --symbols.\n"},
      {{"--symbols", "--symfs", tmp.file("missing")},
       "Error: the --symfs folder '" + tmp.file("missing") + "' does not exist or is no folder.\n"},
      {{"--symbols", "--symfs", tmp.file("plain")},
       "Error: the --symfs folder '" + tmp.file("plain") + "' does not exist or is no folder.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    run_result_t r = dump(c.args, "");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
