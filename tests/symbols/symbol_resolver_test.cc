// The resolver on a hand-built stream: the PIE fixture and the shared
// library mapped as a loader would, a heap, a mapping replaced mid-stream
// and a munmap; each answer checked against addr2line and nm.

#include <sstream>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "events/qnt_events.h"
#include "support/elf_oracle.h"
#include "support/warning_consumer.h"
#include "symbols/symbol_render.h"
#include "symbols/symbol_resolver.h"

using namespace velkor::library;
using namespace velkor::testkit;

namespace {

std::string hex_text(uint64_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << value;
  return text.str();
}

const uint64_t app_base = 0x555555554000;
const uint64_t lib_base = 0x7f0000000000;

void map_file(symbol_resolver_t* resolver, const std::string& file, uint64_t base) {
  for (const elf_mapping_t& m : loader_mappings(elf_load_segments(file), base)) {
    qnt_event_mmap_t e;
    e.address = m.start;
    e.size = m.size;
    e.offset = m.offset;
    e.filename = file;
    resolver->observe(e);
  }
}

TEST(SymbolResolver, AddressesFollowTheMappingsOfTheStream) {
  std::string app = symbol_fixture("fixture_pie");
  std::string lib = symbol_fixture("libfixture_lib.so");
  auto warnings = boost::make_shared<warning_consumer_string_t>();
  symbol_resolver_t resolver(symbolizer_options_t(), warnings);
  map_file(&resolver, app, app_base);
  map_file(&resolver, lib, lib_base);
  qnt_event_mmap_t heap;
  heap.address = 0x555555560000;
  heap.size = 0x21000;
  heap.filename = "[heap]";
  resolver.observe(heap);

  elf_symbol_t work = elf_symbol(app, "fx::work(int)");
  elf_symbol_t table = elf_symbol(app, "fx::table");
  elf_symbol_t lib_function = elf_symbol(lib, "fxlib::lib_function(int)");
  std::vector<std::vector<oracle_frame_t>> app_lines = addr2line(app, {work.address + 4});
  std::vector<std::vector<oracle_frame_t>> lib_lines = addr2line(lib, {lib_function.address + 2});
  ASSERT_EQ(app_lines.size(), 1u);
  ASSERT_EQ(lib_lines.size(), 1u);
  std::string work_line = "(fixture_app.cc:" + std::to_string(app_lines[0].back().line) + ")";
  std::string lib_line = "(fixture_lib.cc:" + std::to_string(lib_lines[0].back().line) + ")";

  struct query_t {
    const char* name;
    uint64_t address;
    address_role_t role;
    std::string text;
  };
  const query_t before[] = {
      {"code in the PIE executable", app_base + work.address + 4, role_code,
       "fx::work(int)+0x4 " + work_line + " [fixture_pie]"},
      {"a return address: the line of the call before it", app_base + work.address + 5,
       role_return, "fx::work(int)+0x5 " + work_line + " [fixture_pie]"},
      {"a global array", app_base + table.address + 40, role_data, "fx::table+0x28 [fixture_pie]"},
      {"code in the shared library", lib_base + lib_function.address + 2, role_code,
       "fxlib::lib_function(int)+0x2 " + lib_line + " [libfixture_lib.so]"},
      {"the heap", 0x555555560010, role_data, "[heap+0x10]"},
      {"code in the heap", 0x555555560010, role_code, "[heap+0x10]"},
      {"outside every mapping", 0x1000, role_code, "[unknown]"},
  };
  for (const query_t& q : before) {
    SCOPED_TRACE(q.name);
    EXPECT_EQ(resolution_text(resolver.resolve(q.address, q.role)), q.text);
  }

  // Mid-stream the library goes and the executable's first page is mapped
  // over by the heap's module name: later answers see that.
  qnt_event_munmap_t munmap;
  munmap.address = lib_base;
  munmap.size = 0x100000;
  resolver.observe(munmap);
  qnt_event_mmap_t replace;
  replace.address = app_base + (work.address & ~uint64_t(0xfff));
  replace.size = 0x1000;
  replace.offset = 0x7000;
  replace.filename = "[anon:jit]";
  resolver.observe(replace);
  uint64_t page_offset = (work.address + 4) & 0xfff;
  const query_t after[] = {
      {"the unmapped library", lib_base + lib_function.address + 2, role_code, "[unknown]"},
      {"the replaced page", app_base + work.address + 4, role_code,
       "[anon:jit+" + hex_text(0x7000 + page_offset) + "]"},
      {"the rest of the executable", app_base + table.address, role_data,
       "fx::table+0x0 [fixture_pie]"},
  };
  for (const query_t& q : after) {
    SCOPED_TRACE(q.name);
    EXPECT_EQ(resolution_text(resolver.resolve(q.address, q.role)), q.text);
  }
  EXPECT_EQ(warnings->get_messages(), "");
}

// A module that is not there is warned about once; its addresses keep the
// module and file offset.
TEST(SymbolResolver, MissingModulesShowModuleAndOffset) {
  auto warnings = boost::make_shared<warning_consumer_string_t>();
  symbolizer_options_t options;
  options.root = "/nonexistent-root";
  symbol_resolver_t resolver(options, warnings);
  resolver.space().map(0x400000, 0x10000, 0x1000, "/usr/bin/app");
  for (int i = 0; i < 3; ++i) {
    resolution_t r = resolver.resolve(0x400010 + i, role_code);
    EXPECT_TRUE(r.mapped);
    EXPECT_EQ(r.offset, 0x1010u + i);
    EXPECT_EQ(r.symbol, nullptr);
    EXPECT_EQ(resolution_text(r), "[app+" + hex_text(0x1010 + i) + "]");
  }
  EXPECT_EQ(warnings->get_messages(),
            "Warning: Cannot read the symbols of /usr/bin/app (/nonexistent-root/usr/bin/app: No "
            "such file or directory); its addresses are shown as module+offset.\n");
}

}  // namespace
