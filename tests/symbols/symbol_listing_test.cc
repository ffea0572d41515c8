// The symbolizer's listing of a module against binutils: its functions and
// global objects against nm, their file offsets against readelf's segments,
// and the starts of its line-table rows against addr2line, on a PIE and a
// non-PIE executable, a shared library and a stripped executable whose
// debug file its .gnu_debuglink names.

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "support/elf_oracle.h"
#include "support/test_support.h"
#include "support/warning_consumer.h"
#include "symbols/symbolizer.h"

using namespace velkor::library;
using namespace velkor::testkit;

namespace {

bool is_function_type(char type) { return std::string("TtWwi").find(type) != std::string::npos; }
bool is_object_type(char type) { return std::string("DdBbRrVv").find(type) != std::string::npos; }

// The offset a mapping of the segment gives an address of its memory image
// (past the file bytes for zero-filled data).
uint64_t image_offset(const std::vector<elf_segment_t>& segments, uint64_t vaddr) {
  for (const elf_segment_t& s : segments) {
    if (vaddr >= s.vaddr && vaddr - s.vaddr < s.memory_size) return vaddr - s.vaddr + s.offset;
  }
  ADD_FAILURE() << "address 0x" << std::hex << vaddr << " is in no loadable segment";
  return 0;
}

// Checks a listing against nm's symbols of one kind: every symbol with a
// size is listed at its address with its size (by one of the names at that
// address), and every entry listed is a symbol of nm's.
void expect_listing(const std::vector<module_symbol_t>& listed,
                    const std::vector<elf_symbol_t>& symbols, bool (*kind)(char),
                    const std::vector<elf_segment_t>& segments) {
  std::map<uint64_t, std::set<std::string>> names;
  std::map<uint64_t, uint64_t> sizes;
  std::set<std::string> weak_names;  // nm's W, w, V and v
  for (const elf_symbol_t& s : symbols) {
    if (!kind(s.type)) continue;
    names[s.address].insert(s.name);
    if (std::string("WwVv").find(s.type) != std::string::npos) weak_names.insert(s.name);
    if (s.size > 0) sizes[s.address] = s.size;
  }
  std::map<uint64_t, const module_symbol_t*> by_address;
  for (size_t i = 0; i < listed.size(); ++i) {
    const module_symbol_t& entry = listed[i];
    SCOPED_TRACE(entry.name);
    if (i > 0) {
      EXPECT_LT(listed[i - 1].address, entry.address) << "not in order, or twice";
    }
    by_address[entry.address] = &entry;
    EXPECT_TRUE(names[entry.address].count(entry.name)) << "not a symbol at its address";
    EXPECT_EQ(entry.file_offset, image_offset(segments, entry.address));
    if (sizes.count(entry.address)) {
      EXPECT_EQ(entry.size, sizes[entry.address]);
    }
    EXPECT_EQ(entry.weak, weak_names.count(entry.name) != 0);
  }
  for (const auto& sized : sizes) {
    EXPECT_TRUE(by_address.count(sized.first))
        << *names[sized.first].begin() << " at 0x" << std::hex << sized.first << " not listed";
  }
}

TEST(SymbolListing, FunctionsObjectsAndLinesAsBinutilsSeeThem) {
  const struct {
    const char* name;
    std::string module;
    std::string oracle_file;  // with the debug data
    std::vector<std::string> functions;
    std::vector<std::string> objects;
  } cases[] = {
      {"PIE", symbol_fixture("fixture_pie"), symbol_fixture("fixture_pie"),
       {"fx::work(int)", "main", "plain_c_function"}, {"fx::table", "fx::counters"}},
      {"non-PIE", symbol_fixture("fixture_nopie"), symbol_fixture("fixture_nopie"),
       {"fx::work(int)", "main"}, {"fx::table", "fx::counters"}},
      {"library", symbol_fixture("libfixture_lib.so"), symbol_fixture("libfixture_lib.so"),
       {"fxlib::lib_function(int)", "lib_entry"}, {"fxlib::lib_table"}},
      {"debug link", symbol_fixture("fixture_stripped"), symbol_fixture("fixture_pie"),
       {"fx::work(int)", "main"}, {"fx::counters"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    symbolizer_t symbolizer(symbolizer_options_t(),
                            boost::make_shared<warning_consumer_null_t>());
    symbolizer_t::module_handle_t module = symbolizer.add_module(c.module);
    std::vector<module_symbol_t> functions, objects;
    ASSERT_TRUE(symbolizer.list_symbols(module, &functions, &objects));
    std::vector<elf_segment_t> segments = elf_load_segments(c.module);
    std::vector<elf_symbol_t> symbols = elf_symbols(c.module);
    expect_listing(functions, symbols, is_function_type, segments);
    expect_listing(objects, symbols, is_object_type, segments);
    std::set<std::string> function_names, object_names;
    for (const module_symbol_t& f : functions) function_names.insert(f.name);
    for (const module_symbol_t& o : objects) object_names.insert(o.name);
    for (const std::string& f : c.functions) EXPECT_TRUE(function_names.count(f)) << f;
    for (const std::string& o : c.objects) EXPECT_TRUE(object_names.count(o)) << o;

    // Every row start lies at a known line; every function of the program's
    // own source starts one.
    std::vector<uint64_t> lines = symbolizer.line_offsets(module);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));
    EXPECT_EQ(std::adjacent_find(lines.begin(), lines.end()), lines.end());
    std::vector<uint64_t> vaddrs;
    for (uint64_t offset : lines) {
      for (const elf_segment_t& s : segments) {
        if (offset >= s.offset && offset - s.offset < s.file_size && s.executable) {
          vaddrs.push_back(offset - s.offset + s.vaddr);
        }
      }
    }
    ASSERT_EQ(vaddrs.size(), lines.size()) << "a row outside the code";
    std::vector<std::vector<oracle_frame_t>> where = addr2line(c.oracle_file, vaddrs);
    ASSERT_EQ(where.size(), vaddrs.size());
    for (size_t i = 0; i < where.size(); ++i) {
      ASSERT_FALSE(where[i].empty());
      EXPECT_NE(where[i].back().file, "??") << std::hex << vaddrs[i];
      EXPECT_NE(where[i].back().line, 0u) << std::hex << vaddrs[i];
    }
    for (const module_symbol_t& f : functions) {
      if (!std::count(c.functions.begin(), c.functions.end(), f.name)) continue;
      EXPECT_TRUE(std::binary_search(lines.begin(), lines.end(), f.file_offset)) << f.name;
    }
  }
}

TEST(SymbolListing, ModulesThatCannotBeReadListNothing) {
  temp_dir_t tmp;
  write_file(tmp.file("text"), "no ELF file\n");
  symbolizer_t symbolizer(symbolizer_options_t(), boost::make_shared<warning_consumer_null_t>());
  for (const std::string& path : {tmp.file("text"), tmp.file("missing"), std::string("[heap]")}) {
    SCOPED_TRACE(path);
    symbolizer_t::module_handle_t module = symbolizer.add_module(path);
    std::vector<module_symbol_t> functions(1), objects(1);
    EXPECT_FALSE(symbolizer.list_symbols(module, &functions, &objects));
    EXPECT_TRUE(symbolizer.line_offsets(module).empty());
  }
}

}  // namespace
