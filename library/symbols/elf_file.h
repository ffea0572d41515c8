// What the programs read from an ELF file's headers before, or instead of, its
// symbols: the loadable segments, the build id and debug link, the program
// interpreter and the libraries the file needs; and the checks that keep a
// damaged or hostile file away from elfutils. Used by the symbolizer
// (symbolizer.h), the library search (library_search.h) and sample_synth.
#ifndef LIBRARY_SYMBOLS_ELF_FILE_H_
#define LIBRARY_SYMBOLS_ELF_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace velkor { namespace library {

// ---- Files -----------------------------------------------------------------

// Opens a regular file for reading. A path that names anything else (a
// directory, a FIFO, a device) is refused before it is opened, so that
// opening has no effect and never blocks. -1 and *why ("path: reason") when
// it cannot be opened.
int open_regular_file(const std::string& path, std::string* why);

// ---- Headers ---------------------------------------------------------------

// One PT_LOAD program header.
struct elf_load_segment_t {
  uint64_t offset = 0;       // in the file
  uint64_t file_size = 0;    // bytes from the file
  uint64_t memory_size = 0;  // bytes in memory: the file's and the zero fill after them
  uint64_t vaddr = 0;        // ELF address of the first byte
  uint32_t flags = 0;        // PF_R, PF_W, PF_X
};

// What the ELF header, the program headers and the notes say.
struct elf_facts_t {
  uint16_t type = 0;       // e_type: ET_EXEC, ET_DYN, ...
  uint16_t machine = 0;    // e_machine: EM_X86_64, ...
  uint8_t elf_class = 0;   // ELFCLASS32 or ELFCLASS64
  std::vector<elf_load_segment_t> loads;
  std::string build_id;    // bytes; empty: none
  std::string debuglink;   // the file name of .gnu_debuglink; empty: none
  uint32_t debuglink_crc = 0;
};

// Reads the facts of the ELF file open as fd, and refuses what elfutils
// should not be given: no ELF file, damaged headers, a compressed section
// that claims an absurd size, and (want_loads, for a module that is mapped)
// a file that is neither an executable nor a shared library or has nothing
// to load. False and *why (no file name) when refused. fd stays open.
bool read_elf_facts(int fd, bool want_loads, elf_facts_t* facts, std::string* why);

// What a dynamically linked file asks of the dynamic loader.
struct elf_dependencies_t {
  std::string interpreter;            // PT_INTERP; empty: none
  std::vector<std::string> needed;    // DT_NEEDED, in order
  std::vector<std::string> rpath;     // DT_RPATH, split at ':'
  std::vector<std::string> runpath;   // DT_RUNPATH, split at ':'
  bool has_runpath = false;           // DT_RUNPATH present (then DT_RPATH is ignored)
};

// Reads the interpreter and the dynamic section of the ELF file open as fd
// (a file without them has no dependencies). False and *why when the file
// cannot be read as ELF or its dynamic section is damaged. fd stays open.
bool read_elf_dependencies(int fd, elf_dependencies_t* dependencies, std::string* why);

// ---- Addresses -------------------------------------------------------------

// The ELF address of a file offset: through the loadable segment that holds
// it in the file, else one whose memory image (file bytes and zero fill)
// does. False when none does.
bool elf_offset_to_vaddr(const std::vector<elf_load_segment_t>& loads, uint64_t offset,
                         uint64_t* vaddr);
// The file offset of an ELF address, through the first loadable segment
// whose memory image holds it; an address in the zero fill gets the offset
// it would have if the file went on (as a mapping of the segment gives it).
// False when no segment holds it.
bool elf_vaddr_to_offset(const std::vector<elf_load_segment_t>& loads, uint64_t vaddr,
                         uint64_t* offset);

}}  // namespace velkor::library
#endif
