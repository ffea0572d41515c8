// The ELF header reading against readelf on the fixtures and on this test
// program itself: loadable segments with their flags, interpreter, needed
// libraries and search paths; the conversions between file offsets and ELF
// addresses; and files that are no ELF or are cut short.

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/elf_oracle.h"
#include "support/test_support.h"
#include "symbols/elf_file.h"

using namespace velkor::library;
using namespace velkor::testkit;

namespace {

// The file open for reading, closed at the end of the scope.
class open_file_t {
 public:
  explicit open_file_t(const std::string& path) {
    std::string why;
    fd_ = open_regular_file(path, &why);
    EXPECT_GE(fd_, 0) << why;
  }
  ~open_file_t() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

std::string self_path() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  EXPECT_GT(n, 0);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

TEST(ElfFile, FactsAndDependenciesAsReadelfSaysThem) {
  const struct {
    std::string file;
    uint16_t type;
  } cases[] = {
      {symbol_fixture("fixture_pie"), ET_DYN},
      {symbol_fixture("fixture_nopie"), ET_EXEC},
      {symbol_fixture("libfixture_lib.so"), ET_DYN},
      {symbol_fixture("fixture_runpath"), ET_DYN},
      {symbol_fixture("fixture_rpath"), ET_DYN},
      {symbol_fixture("fixture_stripped"), ET_DYN},
      {self_path(), 0},  // whatever the toolchain made of this test program
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    open_file_t file(c.file);
    elf_facts_t facts;
    std::string why;
    ASSERT_TRUE(read_elf_facts(file.fd(), true, &facts, &why)) << why;
    if (c.type != 0) {
      EXPECT_EQ(facts.type, c.type);
    }
    EXPECT_EQ(facts.machine, EM_X86_64);
    EXPECT_EQ(facts.elf_class, ELFCLASS64);
    std::vector<elf_segment_t> segments = elf_load_segments(c.file);
    ASSERT_EQ(facts.loads.size(), segments.size());
    for (size_t i = 0; i < segments.size(); ++i) {
      EXPECT_EQ(facts.loads[i].offset, segments[i].offset) << i;
      EXPECT_EQ(facts.loads[i].vaddr, segments[i].vaddr) << i;
      EXPECT_EQ(facts.loads[i].file_size, segments[i].file_size) << i;
      EXPECT_EQ(facts.loads[i].memory_size, segments[i].memory_size) << i;
      EXPECT_EQ(facts.loads[i].flags, segments[i].flags) << i;
    }

    elf_dependencies_t dependencies;
    ASSERT_TRUE(read_elf_dependencies(file.fd(), &dependencies, &why)) << why;
    elf_dynamic_t expected = elf_dynamic(c.file);
    EXPECT_EQ(dependencies.interpreter, expected.interpreter);
    EXPECT_EQ(dependencies.needed, expected.needed);
    EXPECT_EQ(dependencies.rpath, expected.rpath);
    EXPECT_EQ(dependencies.runpath, expected.runpath);
    EXPECT_EQ(dependencies.has_runpath, !expected.runpath.empty());
  }
  // What the fixtures were built to hold, lest the oracle and the reader
  // agree on nothing.
  elf_dependencies_t runpath, rpath;
  std::string why;
  open_file_t with_runpath(symbol_fixture("fixture_runpath"));
  open_file_t with_rpath(symbol_fixture("fixture_rpath"));
  ASSERT_TRUE(read_elf_dependencies(with_runpath.fd(), &runpath, &why));
  ASSERT_TRUE(read_elf_dependencies(with_rpath.fd(), &rpath, &why));
  EXPECT_EQ(runpath.runpath, std::vector<std::string>{"$ORIGIN"});
  EXPECT_TRUE(rpath.runpath.empty());
  EXPECT_EQ(rpath.rpath, std::vector<std::string>{"$ORIGIN"});
  EXPECT_EQ(rpath.needed, (std::vector<std::string>{"libfixture_lib.so", "libc.so.6"}));
}

TEST(ElfFile, OffsetsAndAddressesThroughTheSegments) {
  // A text segment and a data segment with 0x100 bytes of zero fill.
  std::vector<elf_load_segment_t> loads(2);
  loads[0].offset = 0;
  loads[0].vaddr = 0x400000;
  loads[0].file_size = loads[0].memory_size = 0x2000;
  loads[1].offset = 0x2000;
  loads[1].vaddr = 0x403000;
  loads[1].file_size = 0x80;
  loads[1].memory_size = 0x180;
  const struct {
    uint64_t vaddr;
    bool held;
    uint64_t offset;
  } cases[] = {
      {0x400000, true, 0},         {0x401fff, true, 0x1fff},  {0x402000, false, 0},
      {0x403000, true, 0x2000},    {0x40307f, true, 0x207f},  {0x403080, true, 0x2080},  // fill
      {0x40317f, true, 0x217f},    {0x403180, false, 0},      {0x3fffff, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vaddr);
    uint64_t offset = 0;
    ASSERT_EQ(elf_vaddr_to_offset(loads, c.vaddr, &offset), c.held);
    if (!c.held) continue;
    EXPECT_EQ(offset, c.offset);
    uint64_t back = 0;
    ASSERT_TRUE(elf_offset_to_vaddr(loads, offset, &back));
    EXPECT_EQ(back, c.vaddr);
  }
}

TEST(ElfFile, FilesThatAreNoWholeElfFileAreRefusedOrReadInPart) {
  temp_dir_t tmp;
  const std::string elf = read_file(symbol_fixture("fixture_runpath"));
  const struct {
    const char* name;
    std::string bytes;
    bool elf;  // still an ELF header: reading may succeed with what is left
  } cases[] = {
      {"empty", "", false},
      {"text", "#!/bin/sh\necho hello\n", false},
      {"ELF magic only", elf.substr(0, 4), false},
      {"the ELF header", elf.substr(0, 64), true},
      {"headers", elf.substr(0, 1024), true},
      {"half", elf.substr(0, elf.size() / 2), true},
      {"all but the last byte", elf.substr(0, elf.size() - 1), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(tmp.file("f"), c.bytes);
    open_file_t file(tmp.file("f"));
    elf_dependencies_t dependencies;
    std::string why;
    bool read = read_elf_dependencies(file.fd(), &dependencies, &why);
    if (!c.elf) {
      EXPECT_FALSE(read);
      EXPECT_FALSE(why.empty());
    }
    for (const std::string& name : dependencies.needed) {
      EXPECT_TRUE(name == "libfixture_lib.so" || name == "libc.so.6") << name;
    }
  }
}

TEST(ElfFile, OnlyRegularFilesAreOpened) {
  temp_dir_t tmp;
  const struct {
    std::string path;
    std::string why;
  } cases[] = {
      {tmp.path(), tmp.path() + ": not a regular file"},
      {"/dev/null", "/dev/null: not a regular file"},
      {tmp.file("missing"), tmp.file("missing") + ": No such file or directory"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(open_regular_file(c.path, &why), -1) << c.path;
    EXPECT_EQ(why, c.why);
  }
}

}  // namespace
