// sample_stats --symbols on a recording that maps the symbol fixtures: each
// listed pc's resolution compared with what addr2line and nm say about the
// same address; a pc resolved against the mappings in force when it was
// first counted; pcs in a special mapping and outside every mapping; and the
// option errors.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "events/qnt_events.h"
#include "support/elf_oracle.h"
#include "support/sample_files.h"
#include "support/test_support.h"

using namespace velkor::library;
using namespace velkor::testkit;

namespace {

const uint64_t app_base = 0x555555554000;
const uint64_t heap_start = 0x555555600000;

std::string last_component(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// What the report should say of a code address of a module placed at base:
// the function holding it (nm) with the offset into it, and the outermost
// frame's file and line (addr2line -i).
std::string oracle_text(const std::string& module, uint64_t base, uint64_t address) {
  const uint64_t vaddr = address - base;
  const elf_symbol_t* function = nullptr;
  std::vector<elf_symbol_t> symbols = elf_symbols(module);
  for (const elf_symbol_t& s : symbols) {
    bool code = s.type == 'T' || s.type == 't' || s.type == 'W';
    if (code && s.size > 0 && vaddr >= s.address && vaddr - s.address < s.size) function = &s;
  }
  EXPECT_NE(function, nullptr) << std::hex << vaddr;
  if (function == nullptr) return "?";
  std::vector<oracle_frame_t> frames = addr2line(module, {vaddr})[0];
  std::ostringstream text;
  text << function->name << "+0x" << std::hex << vaddr - function->address << std::dec << " ("
       << last_component(frames.back().file) << ":" << frames.back().line << ") ["
       << last_component(module) << "]";
  return text.str();
}

void map_module(event_list_t* events, const std::string& path, uint64_t base) {
  for (const elf_mapping_t& m : loader_mappings(elf_load_segments(path), base)) {
    qnt_event_mmap_t* e = add_event<qnt_event_mmap_t>(events);
    e->address = m.start;
    e->size = m.size;
    e->offset = m.offset;
    e->attr = 5;
    e->filename = path;
  }
}

void add_samples(event_list_t* events, uint64_t pc, int count) {
  for (int i = 0; i < count; ++i) {
    qnt_event_sample_t* s = add_event<qnt_event_sample_t>(events);
    s->begin.pc = pc;
    s->begin.time = 1;
    s->line_size = 6;
  }
}

run_result_t stats(const std::vector<std::string>& args, const std::string& input) {
  std::vector<std::string> argv{bin_path("sample_stats")};
  argv.insert(argv.end(), args.begin(), args.end());
  run_options_t options;
  options.stdin_data = input;
  options.env["TZ"] = "UTC";
  return run_program(argv, options);
}

// The lines under "  Top sample begin pcs:".
std::vector<std::string> top_begin_lines(const std::string& report) {
  std::vector<std::string> lines;
  std::istringstream in(report.substr(report.find("  Top sample begin pcs:\n")));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line) && line.compare(0, 4, "    ") == 0) lines.push_back(line);
  return lines;
}

std::string hex_text(uint64_t v) {
  std::ostringstream text;
  text << "0x" << std::hex << v;
  return text.str();
}

TEST(SampleStatsSymbols, ListedPcsGainTheirResolution) {
  const std::string app = symbol_fixture("fixture_pie");
  const std::string lib = symbol_fixture("libfixture_lib.so");
  const uint64_t work = app_base + elf_symbol(app, "fx::work(int)").address + 4;
  const uint64_t bump = app_base + elf_symbol(app, "fx::counter_t::bump(int)").address;
  const uint64_t plain = app_base + elf_symbol(app, "plain_c_function").address + 1;
  const uint64_t lib_pc = app_base + elf_symbol(lib, "fxlib::lib_function(int)").address + 2;

  event_list_t events;
  map_module(&events, app, app_base);
  qnt_event_mmap_t* heap = add_event<qnt_event_mmap_t>(&events);
  heap->address = heap_start;
  heap->size = 0x21000;
  heap->filename = "[heap]";
  add_samples(&events, work, 6);
  add_samples(&events, bump, 5);
  add_samples(&events, plain, 4);
  add_samples(&events, heap_start + 0x10, 3);
  add_samples(&events, 0x10, 2);  // outside every mapping
  // The pcs counted so far keep the places they had; lib_pc is counted
  // first once the program is unmapped and the library mapped where it was.
  qnt_event_munmap_t* unmap = add_event<qnt_event_munmap_t>(&events);
  unmap->address = app_base;
  unmap->size = 0x100000;
  map_module(&events, lib, app_base);
  add_samples(&events, work, 1);
  add_samples(&events, lib_pc, 1);
  const std::string file = sample_file(events, compression_none);

  run_result_t plain_run = stats({}, file);
  run_result_t named = stats({"--symbols"}, file);
  ASSERT_EQ(named.exit_status, 0) << named.err;
  EXPECT_EQ(named.err, "");

  const std::vector<std::string> expected = {
      "    " + hex_text(work) + ", 7 samples  " + oracle_text(app, app_base, work),
      "    " + hex_text(bump) + ", 5 samples  " + oracle_text(app, app_base, bump),
      "    " + hex_text(plain) + ", 4 samples  " + oracle_text(app, app_base, plain),
      "    " + hex_text(heap_start + 0x10) + ", 3 samples  [heap+0x10]",
      "    0x10, 2 samples  [unknown]",
      "    " + hex_text(lib_pc) + ", 1 samples  " + oracle_text(lib, app_base, lib_pc),
  };
  EXPECT_EQ(top_begin_lines(named.out), expected);

  // Everything else as without --symbols, where each line ends after
  // "samples".
  std::string stripped;
  std::istringstream in(named.out);
  for (std::string line; std::getline(in, line);) {
    size_t cut = line.find(" samples  ");
    stripped += (cut == std::string::npos ? line : line.substr(0, cut + 8)) + "\n";
  }
  EXPECT_EQ(stripped, plain_run.out);
}

TEST(SampleStatsSymbols, OptionErrors) {
  temp_dir_t tmp;
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--symfs", tmp.path()}, "Error: --symfs needs --symbols.\n"},
      {{"--symbols", "--symfs", tmp.file("none")},
       "Error: the --symfs folder '" + tmp.file("none") + "' does not exist or is no folder.\n"},
  };
  for (const auto& c : cases) {
    run_result_t r = stats(c.args, "");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
