// The symbolizer against binutils' addr2line on the fixtures: every byte of
// the fixtures' own functions, in a PIE and a non-PIE executable, a shared
// library, a stripped executable whose debug file its .gnu_debuglink names,
// and one whose debug file only the build-id directory under a root holds.
// Then data addresses against nm, and the files it must refuse: missing,
// no regular file, no ELF, truncated, a debug file of another build.

#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "support/elf_oracle.h"
#include "support/test_support.h"
#include "support/warning_consumer.h"
#include "symbols/symbolizer.h"

using namespace velkor::library;
using namespace velkor::testkit;

namespace {

// The chain that addr2line prints, from a symbolizer answer: the inlined
// functions, then the function itself with its line.
std::vector<oracle_frame_t> chain(const symbol_info_t* info) {
  std::vector<oracle_frame_t> frames;
  if (info == nullptr) return frames;
  for (const inline_frame_t& f : info->inlined) {
    oracle_frame_t frame;
    frame.function = f.function;
    frame.file = f.file;
    frame.line = f.line;
    frames.push_back(frame);
  }
  oracle_frame_t outer;
  outer.function = info->name;
  outer.file = info->file;
  outer.line = info->line;
  frames.push_back(outer);
  return frames;
}

std::string show(const std::vector<oracle_frame_t>& frames) {
  std::ostringstream text;
  for (const oracle_frame_t& f : frames) text << f.function << " @ " << f.file << ":" << f.line << "; ";
  return text.str();
}

void copy(const std::string& from, const std::string& to) {
  boost::filesystem::create_directories(boost::filesystem::path(to).parent_path());
  write_file(to, read_file(from));
}

// The functions of the fixtures whose every byte is compared.
const char* const app_functions[] = {
    "fx::work(int)", "int fx::scaled<int>(int)", "long fx::scaled<long>(long)",
    "fx::counter_t::bump(int)", "plain_c_function", "main",
};
const char* const lib_functions[] = {
    "fxlib::lib_function(int)", "fxlib::mix(int, int)", "lib_entry",
};

struct oracle_case_t {
  const char* name;
  std::string oracle_file;  // what addr2line reads: the build with its debug data
  std::string module;       // the path the symbolizer is given
  std::string root;         // --symfs
  std::vector<std::string> functions;
  std::string debug_file;   // expected to be used ("" : none)
};

TEST(SymbolizerOracle, EveryByteOfTheFixtureFunctionsAsAddr2lineSaysIt) {
  temp_dir_t root;
  // The build-id directory under a root of its own, for a module stripped of
  // everything (symbols too) that names no debug file.
  std::string build_id = elf_build_id(symbol_fixture("fixture_buildid"));
  ASSERT_GE(build_id.size(), 4u);
  copy(symbol_fixture("fixture_buildid"), root.file("opt/fx/app"));
  std::string by_build_id = root.file("usr/lib/debug/.build-id/" + build_id.substr(0, 2) + "/" +
                                      build_id.substr(2) + ".debug");
  copy(symbol_fixture("fixture_buildid.debug"), by_build_id);

  std::vector<std::string> app(std::begin(app_functions), std::end(app_functions));
  std::vector<std::string> lib(std::begin(lib_functions), std::end(lib_functions));
  const oracle_case_t cases[] = {
      {"PIE executable", symbol_fixture("fixture_pie"), symbol_fixture("fixture_pie"), "", app, ""},
      {"non-PIE executable", symbol_fixture("fixture_nopie"), symbol_fixture("fixture_nopie"), "",
       app, ""},
      {"shared library", symbol_fixture("libfixture_lib.so"), symbol_fixture("libfixture_lib.so"),
       "", lib, ""},
      {"stripped, debug file by .gnu_debuglink", symbol_fixture("fixture_pie"),
       symbol_fixture("fixture_stripped"), "", app, symbol_fixture("fixture_stripped.debug")},
      {"stripped of all, debug file by build id under the root", symbol_fixture("fixture_nopie"),
       "/opt/fx/app", root.path(), app, by_build_id},
  };
  for (const oracle_case_t& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<elf_segment_t> segments = elf_load_segments(c.oracle_file);
    std::vector<uint64_t> vaddrs;
    for (const std::string& name : c.functions) {
      elf_symbol_t function = elf_symbol(c.oracle_file, name);
      ASSERT_GT(function.size, 0u) << name;
      for (uint64_t a = function.address; a < function.address + function.size; ++a) {
        vaddrs.push_back(a);
      }
    }
    std::vector<std::vector<oracle_frame_t>> expected = addr2line(c.oracle_file, vaddrs);
    ASSERT_EQ(expected.size(), vaddrs.size());

    auto warnings = boost::make_shared<warning_consumer_string_t>();
    symbolizer_options_t options;
    options.root = c.root;
    symbolizer_t symbolizer(options, warnings);
    symbolizer_t::module_handle_t module = symbolizer.add_module(c.module);
    ASSERT_TRUE(symbolizer.usable(module)) << warnings->get_messages();
    size_t inlined = 0;
    for (size_t i = 0; i < vaddrs.size(); ++i) {
      const symbol_info_t* info = symbolizer.code(module, elf_file_offset(segments, vaddrs[i]));
      ASSERT_NE(info, nullptr) << std::hex << vaddrs[i];
      std::vector<oracle_frame_t> got = chain(info);
      ASSERT_EQ(show(got), show(expected[i])) << "at 0x" << std::hex << vaddrs[i];
      if (!info->inlined.empty()) ++inlined;
    }
    EXPECT_EQ(symbolizer.debug_file(module), c.debug_file);
    EXPECT_EQ(warnings->get_messages(), "");
    // The fixtures fold inline functions into their callers; the chains must
    // have been compared somewhere.
    EXPECT_GT(inlined, 0u);
  }
}

}  // namespace
