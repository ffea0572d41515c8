// The program that sample_synth --binary records: an ELF executable, the
// libraries that the dynamic loader would map for it, and the places in its
// code and data that the synthesized samples use, read from the files with
// the symbols library. The generator (synth.h) maps and samples them.
#ifndef TOOLS_SAMPLE_SYNTH_SYNTH_BINARY_H_
#define TOOLS_SAMPLE_SYNTH_SYNTH_BINARY_H_

#include <cstdint>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "support/warning_consumer.h"
#include "symbols/elf_file.h"

namespace velkor { namespace synth {

// A file that the recorded process maps.
struct recorded_module_t {
  std::string path;  // canonical, as the mmap events name it
  uint64_t device = 0;
  uint64_t inode = 0;
  bool position_independent = false;  // ET_DYN: placed wherever the synthesizer puts it
  std::vector<library::elf_load_segment_t> loads;
};

// An instruction of the executable that the samples may use: its ELF
// address and that of the next place the line table knows in its function.
struct code_place_t {
  uint64_t pc = 0;
  uint64_t next_pc = 0;
};

// A global object of the executable in a writable segment.
struct data_object_t {
  uint64_t address = 0;  // ELF address
  uint64_t size = 0;
  bool weak = false;     // a weak symbol: a template's static or the compiler's own
};

struct recorded_binary_t {
  recorded_module_t executable;
  // The interpreter first, then the libraries in the order the loader
  // loads them.
  std::vector<recorded_module_t> libraries;
  // Libraries that were not found, as "libfoo.so.1 (needed by /usr/bin/app)".
  std::vector<std::string> missing_libraries;
  // The places of each function that has any, largest function first (ties:
  // the lower address), each function's places by address. With line
  // information the places are the rows of the line table inside the
  // function but its last, each with the next row as its next pc (so that
  // functions of one row and those without rows, such as the start files'
  // code, have none); without any line information, each function's start,
  // with its next pc four bytes on (or at the function's end when that
  // comes first).
  std::vector<std::vector<code_place_t>> functions;
  // By address.
  std::vector<data_object_t> objects;

  size_t place_count() const;
};

// Reads the executable at path (looked up as given, then made canonical),
// what it loads, and its symbols and line table. Empty when it worked, else
// why not: one sentence that names the file. Warnings of the symbolizer (a
// debug file that does not belong to the file, ...) go to warnings, which
// may be null.
std::string read_recorded_binary(const std::string& path,
                                 boost::shared_ptr<library::warning_consumer_base_t> warnings,
                                 recorded_binary_t* binary);

}}  // namespace velkor::synth
#endif
