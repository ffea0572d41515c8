// The library search against ldd (the loader itself) on the fixtures and on
// this test program; then the order of the search folders (DT_RPATH up the
// loading chain, DT_RUNPATH, $ORIGIN, files passed over) on hand-made
// dependencies, and the loader configuration with its include lines.

#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "support/elf_oracle.h"
#include "support/test_support.h"
#include "symbols/library_search.h"

using namespace velkor::library;
using namespace velkor::testkit;

namespace {

std::string canonical(const std::string& path) {
  return boost::filesystem::canonical(path).string();
}

// write_file, creating the folders on the way.
void write_in(const std::string& path, const std::string& bytes) {
  boost::filesystem::create_directories(boost::filesystem::path(path).parent_path());
  write_file(path, bytes);
}

void copy(const std::string& from, const std::string& to) { write_in(to, read_file(from)); }

struct program_t {
  elf_facts_t facts;
  elf_dependencies_t dependencies;
};

program_t read_program(const std::string& path) {
  program_t program;
  std::string why;
  int fd = open_regular_file(path, &why);
  EXPECT_GE(fd, 0) << why;
  EXPECT_TRUE(read_elf_facts(fd, true, &program.facts, &why)) << why;
  EXPECT_TRUE(read_elf_dependencies(fd, &program.dependencies, &why)) << why;
  ::close(fd);
  return program;
}

// The search's answer in ldd's terms: every file found, and "name => not
// found" for every name missed.
std::vector<std::string> found_files(const library_search_t& search) {
  std::vector<std::string> files;
  for (const loaded_module_t& m : search.modules) files.push_back(m.path);
  for (const std::string& missing : search.missing) {
    files.push_back(missing.substr(0, missing.find(' ')) + " => not found");
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string self_path() { return canonical("/proc/self/exe"); }

TEST(LibrarySearch, FindsWhatTheLoaderFinds) {
  temp_dir_t tmp;
  // Away from its library, $ORIGIN finds nothing; beside a copy, the copy.
  copy(symbol_fixture("fixture_runpath"), tmp.file("alone/fixture_runpath"));
  copy(symbol_fixture("fixture_rpath"), tmp.file("pair/fixture_rpath"));
  copy(symbol_fixture("libfixture_lib.so"), tmp.file("pair/libfixture_lib.so"));
  chmod(tmp.file("alone/fixture_runpath").c_str(), 0755);
  chmod(tmp.file("pair/fixture_rpath").c_str(), 0755);
  const std::string cases[] = {
      symbol_fixture("fixture_pie"),   symbol_fixture("fixture_runpath"),
      symbol_fixture("fixture_rpath"), symbol_fixture("libfixture_lib.so"),
      tmp.file("alone/fixture_runpath"), tmp.file("pair/fixture_rpath"),
      self_path(),
  };
  for (const std::string& file : cases) {
    SCOPED_TRACE(file);
    program_t program = read_program(file);
    library_search_t search = find_loaded_libraries(
        file, program.facts, program.dependencies,
        default_library_search_options(program.facts.machine));
    std::vector<std::string> expected = ldd_files(file);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found_files(search), expected);
    std::set<std::string> paths;
    for (const loaded_module_t& m : search.modules) {
      EXPECT_TRUE(paths.insert(m.path).second) << m.path << " twice";
      EXPECT_FALSE(m.facts.loads.empty());
    }
  }

  program_t alone = read_program(tmp.file("alone/fixture_runpath"));
  library_search_t search =
      find_loaded_libraries(tmp.file("alone/fixture_runpath"), alone.facts, alone.dependencies,
                            default_library_search_options(alone.facts.machine));
  EXPECT_EQ(search.missing, std::vector<std::string>{"libfixture_lib.so (needed by " +
                                                      canonical(tmp.file("alone")) +
                                                      "/fixture_runpath)"});
  // The interpreter comes first, and is not loaded again when libc needs it.
  ASSERT_FALSE(search.modules.empty());
  EXPECT_EQ(search.modules[0].name, alone.dependencies.interpreter);
}

TEST(LibrarySearch, FoldersInTheLoadersOrder) {
  temp_dir_t tmp;
  const std::string lib = symbol_fixture("libfixture_lib.so");
  for (const char* folder : {"rpath", "runpath", "config", "system", "origin"}) {
    copy(lib, tmp.file(std::string(folder) + "/libfixture_lib.so"));
  }
  // Not an ELF file, and not a file: both passed over.
  write_in(tmp.file("bogus/libfixture_lib.so"), "not an ELF file\n");
  boost::filesystem::create_directories(tmp.file("folder/libfixture_lib.so"));
  copy(symbol_fixture("fixture_pie"), tmp.file("origin/app"));
  const std::string app = tmp.file("origin/app");
  program_t real = read_program(app);

  struct search_case_t {
    const char* name;
    std::vector<std::string> rpath, runpath, config;
    std::string needed;
    std::string found;  // folder below tmp; "" for none
  };
  const search_case_t cases[] = {
      {"rpath first", {tmp.file("rpath")}, {}, {tmp.file("config")}, "libfixture_lib.so",
       "rpath"},
      {"runpath hides rpath", {tmp.file("rpath")}, {tmp.file("runpath")}, {tmp.file("config")},
       "libfixture_lib.so", "runpath"},
      {"runpath before the cache", {}, {tmp.file("runpath")}, {tmp.file("config")},
       "libfixture_lib.so", "runpath"},
      {"then the cache", {}, {}, {tmp.file("config")}, "libfixture_lib.so", "config"},
      {"then the system folders", {}, {}, {}, "libfixture_lib.so", "system"},
      {"$ORIGIN", {"$ORIGIN"}, {}, {tmp.file("config")}, "libfixture_lib.so", "origin"},
      {"${ORIGIN}", {}, {"${ORIGIN}/../runpath"}, {}, "libfixture_lib.so", "runpath"},
      {"files that cannot be loaded are passed over", {tmp.file("bogus"), tmp.file("folder")},
       {}, {tmp.file("config")}, "libfixture_lib.so", "config"},
      {"a name with a slash is taken as it is", {}, {}, {tmp.file("config")},
       tmp.file("rpath/libfixture_lib.so"), "rpath"},
      {"not found", {}, {}, {tmp.file("bogus")}, "libnothing.so.7", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    elf_dependencies_t dependencies;
    dependencies.needed = {c.needed};
    dependencies.rpath = c.rpath;
    dependencies.runpath = c.runpath;
    dependencies.has_runpath = !c.runpath.empty();
    library_search_options_t options;
    options.config_folders = c.config;
    options.system_folders = {tmp.file("system")};
    library_search_t search = find_loaded_libraries(app, real.facts, dependencies, options);
    if (c.found.empty()) {
      EXPECT_TRUE(search.modules.empty());
      EXPECT_EQ(search.missing, std::vector<std::string>{c.needed + " (needed by " +
                                                          canonical(app) + ")"});
      continue;
    }
    // The library, which needs nothing more.
    EXPECT_TRUE(search.missing.empty()) << search.missing[0];
    ASSERT_EQ(search.modules.size(), 1u);
    EXPECT_EQ(search.modules[0].path, canonical(tmp.file(c.found + "/libfixture_lib.so")));
    EXPECT_EQ(search.modules[0].name, c.needed);
  }
}

TEST(LibrarySearch, RpathOfTheLoadingObjectsServesTheirLibraries) {
  // The program needs libmiddle.so (a copy of a fixture that needs libc and
  // has no search path of its own). The program's DT_RPATH also serves what
  // its libraries need; its DT_RUNPATH does not.
  temp_dir_t tmp;
  copy(symbol_fixture("fixture_pie"), tmp.file("middle/libmiddle.so"));
  program_t real = read_program(symbol_fixture("fixture_pie"));
  library_search_options_t options;
  options.system_folders = {tmp.file("middle")};
  const std::string libc = canonical("/lib/x86_64-linux-gnu/libc.so.6");
  const std::string libc_folder = boost::filesystem::path(libc).parent_path().string();
  for (bool runpath : {false, true}) {
    SCOPED_TRACE(runpath ? "runpath" : "rpath");
    elf_dependencies_t dependencies;
    dependencies.needed = {"libmiddle.so"};
    if (runpath) {
      dependencies.runpath = {libc_folder};
    } else {
      dependencies.rpath = {libc_folder};
    }
    dependencies.has_runpath = runpath;
    library_search_t search =
        find_loaded_libraries(symbol_fixture("fixture_pie"), real.facts, dependencies, options);
    ASSERT_FALSE(search.modules.empty());
    EXPECT_EQ(search.modules[0].path, canonical(tmp.file("middle/libmiddle.so")));
    bool libc_found = false;
    for (const loaded_module_t& m : search.modules) libc_found |= m.path == libc;
    EXPECT_EQ(libc_found, !runpath);
    EXPECT_EQ(search.missing.empty(), !runpath);
  }
}

TEST(LibrarySearch, LoaderConfigurationWithItsIncludes) {
  temp_dir_t tmp;
  write_file(tmp.file("ld.so.conf"),
             "# the main file\n"
             "/opt/first/lib\n"
             "include conf.d/*.conf\n"
             "  /opt/after/lib   # a comment\n"
             "hwcap 0 nosegneg\n"
             "/opt/first/lib\n"
             "relative/folder\n"
             "include /nowhere/*.conf\n");
  write_in(tmp.file("conf.d/b.conf"), "/opt/b\n/opt/typed=libc6\n");
  // a.conf includes the main file again: it is read again down to the depth
  // limit, where its later lines come before those of b.conf; every folder
  // is listed once.
  write_in(tmp.file("conf.d/a.conf"), "/opt/a\ninclude " + tmp.file("ld.so.conf") + "\n");
  write_in(tmp.file("conf.d/c.txt"), "/opt/not-included\n");
  EXPECT_EQ(loader_config_folders(tmp.file("ld.so.conf")),
            (std::vector<std::string>{"/opt/first/lib", "/opt/a", "/opt/after/lib", "/opt/b",
                                      "/opt/typed"}));
  EXPECT_TRUE(loader_config_folders(tmp.file("missing.conf")).empty());
}

}  // namespace
