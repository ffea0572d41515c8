// sample_lines --symbols on a recording that maps the symbol fixtures: the
// data object of each listed line and the resolution of each of its pcs,
// in the text and in the JSON (read back by Python's json module), compared
// with what nm and addr2line say about the same addresses; a pc resolved
// against the mappings of its first sight after its module was unmapped;
// and the option errors.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "events/qnt_events.h"
#include "support/elf_oracle.h"
#include "support/sample_files.h"
#include "support/test_support.h"

namespace {

using namespace velkor::library;
using namespace velkor::testkit;

run_result_t lines(std::vector<std::string> args) {
  args.insert(args.begin(), bin_path("sample_lines"));
  return run_program(args);
}

std::string hex_text(uint64_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << value;
  return text.str();
}

std::string last_component(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// A module of the recording, placed at base, with what binutils says about
// it: the expected text and JSON forms (as kSymbols prints them) of
// addresses in it.
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
  const elf_symbol_t* holding(uint64_t vaddr, bool function) const {
    for (const elf_symbol_t& s : symbols) {
      const bool is_function = s.type == 'T' || s.type == 't' || s.type == 'W';
      if (is_function == function && s.size > 0 && vaddr >= s.address &&
          vaddr - s.address < s.size) {
        return &s;
      }
    }
    return nullptr;
  }
  std::string code(uint64_t address, std::string* text) const {
    const uint64_t vaddr = address - base;
    const elf_symbol_t* function = holding(vaddr, true);
    const std::vector<oracle_frame_t> frames = addr2line(path, {vaddr})[0];
    EXPECT_NE(function, nullptr);
    EXPECT_FALSE(frames.empty());
    if (function == nullptr || frames.empty()) return "";
    const oracle_frame_t& outer = frames.back();
    std::string json = "module=" + path + ";offset=" +
                       std::to_string(elf_file_offset(segments, vaddr)) + ";function=" +
                       function->name + ";function_offset=" +
                       std::to_string(vaddr - function->address) + ";file=" + outer.file +
                       ";line=" + std::to_string(outer.line);
    if (frames.size() > 1) {
      json += ";inlined=";
      for (size_t i = 0; i + 1 < frames.size(); ++i) {
        if (i > 0) json += ",";
        json += frames[i].function + "@" + frames[i].file + ":" + std::to_string(frames[i].line);
      }
    }
    *text = function->name + "+" + hex_text(vaddr - function->address) + " (" +
            last_component(outer.file) + ":" + std::to_string(outer.line) + ") [" +
            last_component(path) + "]";
    return json;
  }
  std::string data(uint64_t address, std::string* text) const {
    const uint64_t vaddr = address - base;
    const elf_symbol_t* object = holding(vaddr, false);
    EXPECT_NE(object, nullptr);
    if (object == nullptr) return "";
    *text = object->name + "+" + hex_text(vaddr - object->address) + " [" +
            last_component(path) + "]";
    return "module=" + path + ";offset=" + std::to_string(elf_file_offset(segments, vaddr)) +
           ";object=" + object->name + ";object_offset=" + std::to_string(vaddr - object->address);
  }
};

void map_module(event_list_t* events, const module_facts_t& module) {
  for (const elf_mapping_t& m : loader_mappings(module.segments, module.base)) {
    auto* e = add_event<qnt_event_mmap_t>(events);
    e->address = m.start;
    e->size = m.size;
    e->offset = m.offset;
    e->attr = 5;
    e->filename = module.path;
  }
}

void add_sample(event_list_t* events, uint32_t thread_1, uint64_t addr_1, uint64_t pc_1,
                qnt_access_type_t type_1, uint32_t thread_2, uint64_t addr_2, uint64_t pc_2,
                qnt_access_type_t type_2) {
  auto* e = add_event<qnt_event_sample_t>(events);
  e->line_size = 6;
  e->begin.thread = thread_1;
  e->begin.addr = addr_1;
  e->begin.pc = pc_1;
  e->begin.access_type = type_1;
  e->begin.size = 8;
  qnt_sample_access_t end = e->begin;
  end.thread = thread_2;
  end.addr = addr_2;
  end.pc = pc_2;
  end.access_type = type_2;
  e->ends.push_back(end);
}

// A row of a line's detail, in the widths that these small counts give.
std::string row(const std::string& thread, const std::string& bytes, int accesses, int reads,
                int writes, const std::string& pc) {
  char text[256];
  snprintf(text, sizeof(text), "  %6s  %-5s  %8d  %5d  %6d  %s", thread.c_str(), bytes.c_str(),
           accesses, reads, writes, pc.c_str());
  return text;
}

const uint64_t app_base = 0x555555554000;
const uint64_t lib_base = 0x7f0000000000;
const uint64_t heap_start = 0x555555600000;
const qnt_access_type_t RD = qnt_access_rd, WR = qnt_access_wr;

// Prints for each listed line its address_sym, then the pc_sym of each of
// its pcs in document order, as "key=value;..." ("" for {}), and fails on a
// key it does not know or an offset_hex that is not offset.
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

doc = json.load(sys.stdin)
for line in doc['lines']:
    print('line ' + flat(line['address_sym']))
    for offset in line['offsets']:
        for pc in offset['pcs']:
            print(pc['pc_hex'] + ' ' + flat(pc['pc_sym']))
)PY";

// Three lines with transfers: one of fx::table that two threads write at
// bytes 0-7 and 8-15 from two pcs of fx::counter_t::bump (4 transfers), one
// of the heap read from the program and written from the library (3), one
// outside every mapping (2). The library is unmapped before the last
// samples: its pc, seen before, keeps its resolution; a pc in its range seen
// only after is outside every mapping.
struct recording_t {
  module_facts_t app{symbol_fixture("fixture_pie"), app_base};
  module_facts_t lib{symbol_fixture("libfixture_lib.so"), lib_base};
  event_list_t events;
  std::vector<std::string> expected_json;
  std::vector<std::string> expected_text;  // the heading of each line, then its pc rows

  recording_t() {
    map_module(&events, app);
    map_module(&events, lib);
    auto* heap = add_event<qnt_event_mmap_t>(&events);
    heap->address = heap_start;
    heap->size = 0x21000;
    heap->filename = "[heap]";

    const uint64_t table = app.address("fx::table", 0);
    const uint64_t line_1 = ((table + 63) & ~uint64_t(63)) + 64;
    const uint64_t bump_1 = app.address("fx::counter_t::bump(int)", 4);
    const uint64_t bump_2 = app.address("fx::counter_t::bump(int)", 8);
    const uint64_t line_2 = heap_start + 0x40;
    const uint64_t work = app.address("fx::work(int)", 4);
    const uint64_t lib_pc = lib.address("fxlib::lib_function(int)", 2);
    const uint64_t line_3 = 0x1000;
    const uint64_t late_pc = lib.address("lib_entry", 1);
    for (int i = 0; i < 4; ++i) add_sample(&events, 1, line_1, bump_1, WR, 2, line_1 + 8, bump_2, WR);
    for (int i = 0; i < 2; ++i) add_sample(&events, 1, line_2, work, RD, 2, line_2, lib_pc, WR);
    add_sample(&events, 1, line_3, 0x10, WR, 2, line_3, 0x14, WR);
    auto* munmap = add_event<qnt_event_munmap_t>(&events);
    munmap->address = lib_base;
    munmap->size = 0x100000;
    add_sample(&events, 1, line_2, work, RD, 2, line_2, lib_pc, WR);
    add_sample(&events, 1, line_3, late_pc, WR, 2, line_3, 0x10, WR);

    std::string text;
    expected_json.push_back("line " + app.data(line_1, &text));
    expected_text.push_back("Line 1: " + hex_text(line_1) + " (" + text +
                            "), 64 bytes, false-sharing, 2 threads, 2 writers");
    expected_json.push_back(hex_text(bump_1) + " " + app.code(bump_1, &text));
    expected_text.push_back(row("1", "0-7", 4, 0, 4, hex_text(bump_1) + "  " + text));
    expected_json.push_back(hex_text(bump_2) + " " + app.code(bump_2, &text));
    expected_text.push_back(row("2", "8-15", 4, 0, 4, hex_text(bump_2) + "  " + text));

    expected_json.push_back("line module=[heap];offset=64");
    expected_text.push_back("Line 2: " + hex_text(line_2) +
                            " ([heap+0x40]), 64 bytes, true-sharing, 2 threads, 1 writer");
    expected_json.push_back(hex_text(work) + " " + app.code(work, &text));
    expected_text.push_back(row("1", "0-7", 3, 3, 0, hex_text(work) + "  " + text));
    expected_json.push_back(hex_text(lib_pc) + " " + lib.code(lib_pc, &text));
    expected_text.push_back(row("2", "0-7", 3, 0, 3, hex_text(lib_pc) + "  " + text));

    expected_json.push_back("line ");
    expected_text.push_back("Line 3: 0x1000 ([unknown]), 64 bytes, true-sharing, 2 threads, 2 writers");
    // Thread 1 wrote from 0x10, then from the late pc; its pcs go by count,
    // then by address.
    expected_json.push_back("0x10 ");
    expected_text.push_back(row("1", "0-7", 1, 0, 1, "0x10  [unknown]"));
    expected_json.push_back(hex_text(late_pc) + " ");
    expected_text.push_back(row("", "", 1, 0, 1, hex_text(late_pc) + "  [unknown]"));
    expected_json.push_back("0x10 ");
    expected_text.push_back(row("2", "0-7", 1, 0, 1, "0x10  [unknown]"));
    expected_json.push_back("0x14 ");
    expected_text.push_back(row("", "", 1, 0, 1, "0x14  [unknown]"));
  }
};

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> all;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) all.push_back(line);
  return all;
}

TEST(SampleLinesSymbols, TextNamesLinesAndPcsAsBinutilsDo) {
  recording_t recording;
  temp_dir_t tmp;
  write_file(tmp.file("f.smp"), sample_file(recording.events, compression_deflate));
  run_result_t r = lines({"--symbols", "-i", tmp.file("f.smp")});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // Each line's heading and rows, without the column headers.
  const std::vector<std::string> all = split_lines(r.out);
  std::vector<std::string> got;
  bool detail = false;
  for (const std::string& line : all) {
    detail = detail || line.compare(0, 7, "Line 1:") == 0;
    if (detail && !line.empty() && line.compare(0, 8, "  thread") != 0) got.push_back(line);
  }
  EXPECT_EQ(got, recording.expected_text);

  // Without --symbols: the same report without the names.
  std::string stripped;
  detail = false;
  for (std::string line : all) {
    detail = detail || line.compare(0, 7, "Line 1:") == 0;
    if (detail && line.compare(0, 5, "Line ") == 0) {
      const size_t open = line.find(" (");
      line.erase(open, line.find("), ") + 1 - open);
    } else if (detail) {
      const size_t pc = line.find("  0x");
      if (pc != std::string::npos) line.erase(std::min(line.size(), line.find("  ", pc + 2)));
    }
    stripped += line + "\n";
  }
  EXPECT_EQ(lines({"-i", tmp.file("f.smp")}).out, stripped);
}

TEST(SampleLinesSymbols, JsonCarriesTheObjectsOfSampleDump) {
  recording_t recording;
  temp_dir_t tmp;
  write_file(tmp.file("f.smp"), sample_file(recording.events, compression_none));
  run_result_t r = lines({"--symbols", "--format", "json", "-i", tmp.file("f.smp")});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  run_options_t options;
  options.stdin_data = r.out;
  run_result_t parsed = run_program({"/usr/bin/python3", "-c", kSymbols}, options);
  ASSERT_EQ(parsed.exit_status, 0) << parsed.err;
  EXPECT_EQ(split_lines(parsed.out), recording.expected_json);
  // Without --symbols no _sym key.
  run_result_t plain = lines({"--format", "json", "-i", tmp.file("f.smp")});
  EXPECT_EQ(plain.out.find("_sym"), std::string::npos);
}

// A module that cannot be read: one warning after the report, its
// addresses as module+offset.
TEST(SampleLinesSymbols, MissingModulesAreWarnedAboutOnce) {
  event_list_t events;
  auto* mmap = add_event<qnt_event_mmap_t>(&events);
  mmap->address = 0x400000;
  mmap->size = 0x10000;
  mmap->offset = 0x2000;
  mmap->filename = "/nonexistent/app";
  for (int i = 0; i < 3; ++i) add_sample(&events, 1, 0x400100, 0x400010, WR, 2, 0x400108, 0x400014, WR);
  temp_dir_t tmp;
  write_file(tmp.file("f.smp"), sample_file(events, compression_none));
  run_result_t r = lines({"--symbols", "-i", tmp.file("f.smp")});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "Warning: Cannot read the symbols of /nonexistent/app (/nonexistent/app: No "
                   "such file or directory); its addresses are shown as module+offset.\n");
  EXPECT_NE(r.out.find("Line 1: 0x400100 ([app+0x2100]), 64 bytes"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0x400010  [app+0x2010]\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0x400014  [app+0x2014]\n"), std::string::npos) << r.out;
}

TEST(SampleLinesSymbols, OptionErrors) {
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
    run_result_t r = lines(c.args);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
