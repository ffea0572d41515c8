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
#include "support/printable_text.h"
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


// ---- Data addresses ----------------------------------------------------------

// Every byte of the global objects, as nm gives them, initialised (in the
// file) and zero (past the file bytes of their segment).
TEST(SymbolizerData, GlobalObjectsHoldTheirBytes) {
  struct data_case_t {
    std::string file;
    std::vector<std::string> objects;
  };
  const data_case_t cases[] = {
      {symbol_fixture("fixture_pie"), {"fx::table", "fx::counters"}},
      {symbol_fixture("fixture_nopie"), {"fx::table", "fx::counters"}},
      {symbol_fixture("libfixture_lib.so"), {"fxlib::lib_table"}},
  };
  for (const data_case_t& c : cases) {
    SCOPED_TRACE(c.file);
    std::vector<elf_segment_t> segments = elf_load_segments(c.file);
    symbolizer_t symbolizer(symbolizer_options_t(), boost::make_shared<warning_consumer_string_t>());
    symbolizer_t::module_handle_t module = symbolizer.add_module(c.file);
    for (const std::string& name : c.objects) {
      elf_symbol_t object = elf_symbol(c.file, name);
      ASSERT_GT(object.size, 0u);
      // The file offset the loader's mapping gives the address, also where
      // the segment's zero fill lies past its file bytes.
      const elf_segment_t* segment = nullptr;
      for (const elf_segment_t& s : segments) {
        if (object.address >= s.vaddr && object.address - s.vaddr < s.memory_size) segment = &s;
      }
      ASSERT_NE(segment, nullptr);
      for (uint64_t i = 0; i < object.size; i += (i < 64 ? 1 : 61)) {
        uint64_t offset = object.address + i - segment->vaddr + segment->offset;
        const symbol_info_t* info = symbolizer.data(module, offset);
        ASSERT_NE(info, nullptr) << name << "+" << i;
        EXPECT_EQ(info->name, name);
        EXPECT_EQ(info->name_offset, i);
        EXPECT_EQ(info->line, 0u);
        EXPECT_TRUE(info->inlined.empty());
      }
    }
    // Code holds no object, and an object no function.
    elf_symbol_t function = elf_symbol(c.file, c.objects.size() == 1 ? "lib_entry" : "main");
    EXPECT_EQ(symbolizer.data(module, elf_file_offset(segments, function.address)), nullptr);
    elf_symbol_t object = elf_symbol(c.file, c.objects[0]);
    const symbol_info_t* info = symbolizer.code(module, elf_file_offset(segments, object.address));
    EXPECT_TRUE(info == nullptr || info->name.empty());
  }
}

// Function symbols without size (those of the start files here) reach up to
// the next function symbol, but not past their section: the PLT after
// .init is not _init's.
TEST(SymbolizerData, SizelessFunctionsReachTheNextSymbol) {
  std::string file = symbol_fixture("fixture_pie");
  std::vector<elf_segment_t> segments = elf_load_segments(file);
  symbolizer_t symbolizer(symbolizer_options_t(), boost::make_shared<warning_consumer_null_t>());
  symbolizer_t::module_handle_t module = symbolizer.add_module(file);
  int sizeless = 0;
  for (const elf_symbol_t& s : elf_symbols(file)) {
    if (s.size != 0 || (s.type != 't' && s.type != 'T') || s.name == "_init" || s.name == "_fini") {
      continue;
    }
    SCOPED_TRACE(s.name);
    ++sizeless;
    const symbol_info_t* info = symbolizer.code(module, elf_file_offset(segments, s.address) + 1);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->name, s.name);
    EXPECT_EQ(info->name_offset, 1u);
  }
  EXPECT_GE(sizeless, 2);
  const symbol_info_t* in_init = symbolizer.code(
      module, elf_file_offset(segments, elf_symbol(file, "_init").address));
  ASSERT_NE(in_init, nullptr);
  EXPECT_EQ(in_init->name, "_init");
  const symbol_info_t* before_main = symbolizer.code(
      module, elf_file_offset(segments, elf_symbol(file, "main").address) - 4);
  EXPECT_TRUE(before_main == nullptr || before_main->name != "_init");
}

// ---- Modules that cannot be read -----------------------------------------------

std::string warning_for(const std::string& path, const std::string& why) {
  return "Warning: Cannot read the symbols of " + path + " (" + why +
         "); its addresses are shown as module+offset.\n";
}

// Each refused once with a warning that says why, then answered with null
// without another word.
TEST(SymbolizerRefusal, UnreadableModulesAreWarnedAboutOnce) {
  temp_dir_t tmp;
  std::string elf = read_file(symbol_fixture("fixture_pie"));
  write_file(tmp.file("text"), "#!/bin/sh\necho not an ELF file\n");
  write_file(tmp.file("empty"), "");
  ASSERT_EQ(mkdir(tmp.file("folder").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(tmp.file("fifo").c_str(), 0644), 0);  // opening it must not block
  std::string relocatable = elf;
  relocatable[16] = 1;  // e_type ET_REL
  write_file(tmp.file("relocatable"), relocatable);
  std::string core = elf;
  core[16] = 4;  // ET_CORE
  write_file(tmp.file("core"), core);
  write_file(tmp.file("cut16"), elf.substr(0, 16));
  write_file(tmp.file("cut64"), elf.substr(0, 64));
  // A recorded name that would forge a line of its own.
  std::string forged = tmp.file("a\nWarning: forged");

  struct refusal_t {
    std::string path;
    std::string why;
  };
  const refusal_t cases[] = {
      {tmp.file("missing"), tmp.file("missing") + ": No such file or directory"},
      {tmp.file("folder"), tmp.file("folder") + ": not a regular file"},
      {tmp.file("fifo"), tmp.file("fifo") + ": not a regular file"},
      {tmp.file("text"), tmp.file("text") + ": not an ELF file"},
      {tmp.file("empty"), tmp.file("empty") + ": not an ELF file"},
      {tmp.file("relocatable"),
       tmp.file("relocatable") + ": an ELF file of type 1, neither an executable nor a shared library"},
      {tmp.file("core"),
       tmp.file("core") + ": an ELF file of type 4, neither an executable nor a shared library"},
      {tmp.file("cut16"),
       tmp.file("cut16") + ": not an ELF file, or a truncated one (invalid ELF file data)"},
      {tmp.file("cut64"),
       tmp.file("cut64") + ": truncated or damaged ELF program headers: invalid data"},
      {forged, tmp.file("a\\x0aWarning: forged") + ": No such file or directory"},
  };
  for (const refusal_t& c : cases) {
    SCOPED_TRACE(c.path);
    auto warnings = boost::make_shared<warning_consumer_string_t>();
    symbolizer_t symbolizer(symbolizer_options_t(), warnings);
    symbolizer_t::module_handle_t module = symbolizer.add_module(c.path);
    EXPECT_EQ(symbolizer.code(module, 0x1000), nullptr);
    EXPECT_FALSE(symbolizer.usable(module));
    EXPECT_EQ(symbolizer.data(module, 0x3000), nullptr);
    EXPECT_EQ(warnings->get_messages(), warning_for(printable_text(c.path), c.why));
    EXPECT_EQ(symbolizer.code(module, 0x1001), nullptr);
    EXPECT_EQ(warnings->get_messages(), "");
  }
}

// Every length of a cut-off executable: refused with a warning or read as
// far as it goes, never a crash; what it still answers is what the whole
// file answers, or nothing.
TEST(SymbolizerRefusal, TruncatedExecutablesNeverCrash) {
  temp_dir_t tmp;
  std::string elf = read_file(symbol_fixture("fixture_pie"));
  std::vector<elf_segment_t> segments = elf_load_segments(symbol_fixture("fixture_pie"));
  uint64_t work = elf_file_offset(segments, elf_symbol(symbol_fixture("fixture_pie"),
                                                       "fx::work(int)").address);
  symbolizer_t whole(symbolizer_options_t(), boost::make_shared<warning_consumer_null_t>());
  const symbol_info_t* expected = whole.code(whole.add_module(symbol_fixture("fixture_pie")), work + 8);
  ASSERT_NE(expected, nullptr);
  std::string expected_name = expected->name;
  for (size_t length = 0; length < elf.size(); length += length < 256 ? 7 : 397) {
    SCOPED_TRACE(length);
    std::string path = tmp.file("cut" + std::to_string(length));
    write_file(path, elf.substr(0, length));
    auto warnings = boost::make_shared<warning_consumer_string_t>();
    symbolizer_t symbolizer(symbolizer_options_t(), warnings);
    symbolizer_t::module_handle_t module = symbolizer.add_module(path);
    const symbol_info_t* info = symbolizer.code(module, work + 8);
    if (info != nullptr && !info->name.empty()) {
      EXPECT_EQ(info->name, expected_name);
    }
    symbolizer.data(module, work);
    if (!symbolizer.usable(module)) {
      EXPECT_NE(warnings->get_messages().find("Cannot read the symbols of " + path), std::string::npos);
    }
  }
}

// Files that made the symbolizer fail once (tests/data/symbols), each
// queried at every offset. A sanitizer build checks that nothing leaks.
//   scope_search_leak: libdw's scope search lost memory on damaged DWARF.
TEST(SymbolizerRefusal, FilesThatFoundFaults) {
  for (const char* name : {"scope_search_leak"}) {
    SCOPED_TRACE(name);
    std::string path = data_path(std::string("symbols/") + name);
    size_t size = read_file(path).size();
    symbolizer_t symbolizer(symbolizer_options_t(), boost::make_shared<warning_consumer_null_t>());
    symbolizer_t::module_handle_t module = symbolizer.add_module(path);
    for (uint64_t offset = 0; offset < size; ++offset) {
      symbolizer.code(module, offset);
      symbolizer.data(module, offset);
    }
  }
}

// Special and anonymous names are never opened, and not warned about.
TEST(SymbolizerRefusal, SpecialNamesAreNeverOpened) {
  auto warnings = boost::make_shared<warning_consumer_string_t>();
  symbolizer_t symbolizer(symbolizer_options_t(), warnings);
  for (const char* name : {"[heap]", "[stack]", "[vdso]", "", "//anon", "/dev/zero",
                           "/memfd:jit (deleted)", "relative/path"}) {
    SCOPED_TRACE(name);
    symbolizer_t::module_handle_t module = symbolizer.add_module(name);
    EXPECT_FALSE(symbolizer.usable(module));
    EXPECT_EQ(symbolizer.code(module, 0), nullptr);
  }
  EXPECT_EQ(warnings->get_messages(), "");
}

// ---- Debug files of another build -------------------------------------------------

// A debug file whose build id (or, without build id, whose CRC) is not the
// module's is refused with a warning; the module's own symbols still name
// its functions, without lines.
TEST(SymbolizerDebugFiles, AnotherBuildsDebugFileIsRefused) {
  temp_dir_t tmp;
  std::string module_id = elf_build_id(symbol_fixture("fixture_buildid"));
  std::string variant_id = elf_build_id(symbol_fixture("fixture_variant.debug"));
  ASSERT_NE(module_id, variant_id);
  // By build id, under a root: the variant's debug file where the module's belongs.
  copy(symbol_fixture("fixture_buildid"), tmp.file("root/opt/fx/app"));
  std::string wrong_by_id = tmp.file("root/usr/lib/debug/.build-id/" + module_id.substr(0, 2) +
                                     "/" + module_id.substr(2) + ".debug");
  copy(symbol_fixture("fixture_variant.debug"), wrong_by_id);
  // By debug link: the variant's debug file under the linked name.
  copy(symbol_fixture("fixture_stripped"), tmp.file("link/app"));
  copy(symbol_fixture("fixture_variant.debug"), tmp.file("link/fixture_stripped.debug"));
  // Without build id the link's CRC decides: the right file, then a wrong one.
  for (const char* folder : {"crc_right", "crc_wrong"}) {
    std::string app = tmp.file(std::string(folder) + "/app");
    copy(symbol_fixture("fixture_stripped"), app);
    run_result_t r = run_program({"/usr/bin/objcopy", "--remove-section=.note.gnu.build-id", app});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    ASSERT_EQ(elf_build_id(app), "");
  }
  copy(symbol_fixture("fixture_stripped.debug"), tmp.file("crc_right/fixture_stripped.debug"));
  copy(symbol_fixture("fixture_variant.debug"), tmp.file("crc_wrong/fixture_stripped.debug"));

  struct debug_case_t {
    const char* name;
    std::string root;
    std::string module;
    std::string debug_file;  // used
    std::string warning;
  };
  const debug_case_t cases[] = {
      {"build id", tmp.file("root"), "/opt/fx/app", "",
       "Warning: The debug file " + wrong_by_id + " does not belong to /opt/fx/app: its build id " +
           variant_id + ", the module's is " + module_id + "; it is not used.\n"},
      {"debug link", "", tmp.file("link/app"), "",
       "Warning: The debug file " + tmp.file("link/fixture_stripped.debug") +
           " does not belong to " + tmp.file("link/app") + ": its build id " + variant_id +
           ", the module's is " + elf_build_id(symbol_fixture("fixture_stripped")) +
           "; it is not used.\n"},
      {"right CRC", "", tmp.file("crc_right/app"), tmp.file("crc_right/fixture_stripped.debug"), ""},
      {"wrong CRC", "", tmp.file("crc_wrong/app"), "",
       "Warning: The debug file " + tmp.file("crc_wrong/fixture_stripped.debug") +
           " does not belong to " + tmp.file("crc_wrong/app") +
           ": its CRC differs from the one in the module's debug link; it is not used.\n"},
  };
  std::string oracle = symbol_fixture("fixture_pie");
  uint64_t work = elf_symbol(oracle, "fx::work(int)").address;
  std::vector<std::vector<oracle_frame_t>> expected = addr2line(oracle, {work + 8});
  for (const debug_case_t& c : cases) {
    SCOPED_TRACE(c.name);
    auto warnings = boost::make_shared<warning_consumer_string_t>();
    symbolizer_options_t options;
    options.root = c.root;
    symbolizer_t symbolizer(options, warnings);
    symbolizer_t::module_handle_t module = symbolizer.add_module(c.module);
    std::string file = c.root.empty() ? c.module : c.root + c.module;
    std::vector<elf_segment_t> segments = elf_load_segments(file);
    uint64_t offset = c.root.empty() ? elf_file_offset(segments, work + 8)
                                     : elf_file_offset(segments, elf_symbol(symbol_fixture("fixture_nopie"),
                                                                            "fx::work(int)").address + 8);
    const symbol_info_t* info = symbolizer.code(module, offset);
    EXPECT_EQ(warnings->get_messages(), c.warning);
    EXPECT_EQ(symbolizer.debug_file(module), c.debug_file);
    if (!c.debug_file.empty()) {
      ASSERT_NE(info, nullptr);
      EXPECT_EQ(show(chain(info)), show(expected[0]));
    } else if (c.root.empty()) {
      // The module's symbol table still names the function.
      ASSERT_NE(info, nullptr);
      EXPECT_EQ(info->name, "fx::work(int)");
      EXPECT_EQ(info->line, 0u);
      EXPECT_TRUE(info->inlined.empty());
    } else {
      EXPECT_EQ(info, nullptr);  // stripped of all: nothing left
    }
  }
}

// Compressed debug sections are read like plain ones; one that claims far
// more bytes than its compressed data can give is refused before libelf
// allocates them.
TEST(SymbolizerDebugFiles, CompressedDebugSections) {
  temp_dir_t tmp;
  std::string oracle = symbol_fixture("fixture_pie");
  std::string compressed = tmp.file("compressed");
  run_result_t r = run_program({"/usr/bin/objcopy", "--compress-debug-sections=zlib", oracle,
                                compressed});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  elf_symbol_t work = elf_symbol(oracle, "fx::work(int)");
  std::vector<uint64_t> vaddrs;
  for (uint64_t a = work.address; a < work.address + work.size; ++a) vaddrs.push_back(a);
  std::vector<std::vector<oracle_frame_t>> expected = addr2line(oracle, vaddrs);
  std::vector<elf_segment_t> segments = elf_load_segments(compressed);
  {
    auto warnings = boost::make_shared<warning_consumer_string_t>();
    symbolizer_t symbolizer(symbolizer_options_t(), warnings);
    symbolizer_t::module_handle_t module = symbolizer.add_module(compressed);
    for (size_t i = 0; i < vaddrs.size(); ++i) {
      EXPECT_EQ(show(chain(symbolizer.code(module, elf_file_offset(segments, vaddrs[i])))),
                show(expected[i]));
    }
    EXPECT_EQ(warnings->get_messages(), "");
  }

  // The compression header (type, reserved, size) starts the section's
  // bytes; its size becomes 2^40.
  std::istringstream sections(run_program({"/usr/bin/readelf", "-SW", compressed}).out);
  std::string line;
  uint64_t offset = 0, size = 0;
  while (std::getline(sections, line)) {
    std::istringstream in(line);
    std::vector<std::string> w;
    std::string word;
    while (in >> word) w.push_back(word);
    for (size_t i = 0; i + 4 < w.size(); ++i) {
      if (w[i] == ".debug_info") {
        offset = std::stoull(w[i + 3], nullptr, 16);
        size = std::stoull(w[i + 4], nullptr, 16);
      }
    }
  }
  ASSERT_GT(size, 16u);
  std::string bytes = read_file(compressed);
  uint64_t claimed = uint64_t(1) << 40;
  for (int i = 0; i < 8; ++i) bytes[offset + 8 + i] = static_cast<char>(claimed >> (8 * i));
  std::string forged = tmp.file("forged");
  write_file(forged, bytes);
  auto warnings = boost::make_shared<warning_consumer_string_t>();
  symbolizer_t symbolizer(symbolizer_options_t(), warnings);
  symbolizer_t::module_handle_t module = symbolizer.add_module(forged);
  EXPECT_EQ(symbolizer.code(module, elf_file_offset(segments, work.address)), nullptr);
  EXPECT_EQ(warnings->get_messages(),
            warning_for(forged, forged + ": damaged ELF file: the compressed section .debug_info "
                                         "claims 1099511627776 bytes from " +
                                    std::to_string(size)));
}

}  // namespace
