// What binutils says about an ELF file, for the symbol tests: its loadable
// segments (readelf), symbols (nm), build id (readelf) and, the oracle, the
// functions, lines and inlined calls at addresses (addr2line -f -i -C). Also
// the mappings a loader would make of a file, and the symbol fixtures the
// test build makes (tests/symbols/fixtures).
#ifndef TESTS_SUPPORT_ELF_ORACLE_H_
#define TESTS_SUPPORT_ELF_ORACLE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace velkor { namespace testkit {

// ---- Fixtures ----------------------------------------------------------------

// Path of a built symbol fixture (fixture_pie, libfixture_lib.so, ...).
std::string symbol_fixture(const std::string& name);

// ---- Facts ---------------------------------------------------------------------

struct elf_segment_t {
  uint64_t offset = 0;
  uint64_t vaddr = 0;
  uint64_t file_size = 0;
  uint64_t memory_size = 0;
  bool executable = false;
  uint32_t flags = 0;  // PF_R, PF_W, PF_X
};

struct elf_symbol_t {
  std::string name;  // demangled
  uint64_t address = 0;
  uint64_t size = 0;  // 0 also for a symbol without size
  char type = 0;      // nm's letter: T, t, D, d, B, b, ...
};

// PT_LOAD headers, by readelf -lW.
std::vector<elf_segment_t> elf_load_segments(const std::string& file);
// Defined symbols, by nm -C -S --defined-only.
std::vector<elf_symbol_t> elf_symbols(const std::string& file);
// The symbol of that (demangled) name; fails the test when there is none.
elf_symbol_t elf_symbol(const std::string& file, const std::string& name);
// The build id as lower-case hex, by readelf -n; "" when there is none.
std::string elf_build_id(const std::string& file);

// What a dynamically linked file asks of the loader, by readelf -lW and -dW.
struct elf_dynamic_t {
  std::string interpreter;            // "" when there is none
  std::vector<std::string> needed;
  std::vector<std::string> rpath;     // split at ':'
  std::vector<std::string> runpath;
};
elf_dynamic_t elf_dynamic(const std::string& file);

// The files the loader maps for a program, by ldd (without the vDSO), with
// symbolic links resolved; "name => not found" for a library it does not
// find.
std::vector<std::string> ldd_files(const std::string& file);

// The file offset of an ELF address, through the loadable segment holding
// it; fails the test when none does.
uint64_t elf_file_offset(const std::vector<elf_segment_t>& segments, uint64_t vaddr);

// ---- Mappings --------------------------------------------------------------------

struct elf_mapping_t {
  uint64_t start = 0;
  uint64_t size = 0;
  uint64_t offset = 0;
};

// The mappings of the loadable segments with the file placed at base (0 for
// a non-PIE executable), in pages as a loader makes them.
std::vector<elf_mapping_t> loader_mappings(const std::vector<elf_segment_t>& segments,
                                           uint64_t base);

// ---- The oracle ------------------------------------------------------------------

struct oracle_frame_t {
  std::string function;  // "??" when unknown
  std::string file;      // "??" when unknown
  uint32_t line = 0;     // 0 when unknown
};

// addr2line -f -i -C -e file for each ELF address: the frames it prints,
// innermost first (discriminators dropped). One run for all addresses.
std::vector<std::vector<oracle_frame_t>> addr2line(const std::string& file,
                                                   const std::vector<uint64_t>& vaddrs);

}}  // namespace velkor::testkit
#endif
