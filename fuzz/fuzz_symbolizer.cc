// Fuzz target: arbitrary bytes as an ELF module of the symbolizer. The bytes
// become a file that the symbolizer opens as a module (its debug link and
// build id lead nowhere); code and data queries then go to offsets spread
// over the file and over each loadable segment that the bytes declare, and
// the module's symbols and line-table rows are listed; the headers are also
// read as sample_synth --binary reads a program (segments, interpreter,
// needed libraries). A warning or a refusal is the answer to a file that
// cannot be read; a crash, a hang or a sanitizer report is a fault.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "symbols/elf_file.h"
#include "symbols/symbolizer.h"

using namespace velkor::library;

namespace {

// A file of this process's own, rewritten for every input, and removed
// with its folder when the process exits.
std::string module_folder;

void remove_module() {
  unlink((module_folder + "/module").c_str());
  rmdir(module_folder.c_str());
}

const std::string& module_path() {
  static const std::string path = [] {
    char folder[] = "/tmp/fuzz_symbolizer.XXXXXX";
    if (mkdtemp(folder) == nullptr) abort();
    module_folder = folder;
    atexit(remove_module);
    return module_folder + "/module";
  }();
  return path;
}

void write_module(const uint8_t* data, size_t size) {
  int fd = open(module_path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) abort();
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n <= 0) abort();
    data += n;
    size -= static_cast<size_t>(n);
  }
  close(fd);
}

uint64_t load(const uint8_t* data, size_t size, uint64_t at, unsigned bytes) {
  uint64_t value = 0;
  if (at > size || size - at < bytes) return 0;
  for (unsigned i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(data[at + i]) << (8 * i);
  return value;
}

// File ranges of the loadable segments of a 64-bit little-endian ELF file,
// as its program headers declare them (nothing for other bytes).
std::vector<std::pair<uint64_t, uint64_t>> load_ranges(const uint8_t* data, size_t size) {
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  if (size < 64 || std::memcmp(data, "\x7f" "ELF", 4) != 0 || data[4] != 2 || data[5] != 1) {
    return ranges;
  }
  uint64_t phoff = load(data, size, 32, 8);
  uint64_t phnum = load(data, size, 56, 2);
  for (uint64_t i = 0; i < phnum && i < 64; ++i) {
    uint64_t at = phoff + i * 56;
    if (at < phoff) break;
    if (load(data, size, at, 4) != 1) continue;  // PT_LOAD
    ranges.emplace_back(load(data, size, at + 8, 8), load(data, size, at + 32, 8));
  }
  return ranges;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  write_module(data, size);
  std::vector<uint64_t> offsets;
  for (uint64_t i = 0; i < 64; ++i) offsets.push_back(size * i / 64);
  for (const auto& range : load_ranges(data, size)) {
    uint64_t length = range.second < (uint64_t(1) << 32) ? range.second : (uint64_t(1) << 32);
    for (uint64_t i = 0; i < 48; ++i) offsets.push_back(range.first + length * i / 48);
  }
  symbolizer_t symbolizer(symbolizer_options_t(), boost::make_shared<warning_consumer_null_t>());
  symbolizer_t::module_handle_t module = symbolizer.add_module(module_path());
  for (uint64_t offset : offsets) {
    if (!symbolizer.usable(module)) break;
    const symbol_info_t* code = symbolizer.code(module, offset);
    if (code != nullptr) {
      // Touch every byte of the answer.
      size_t total = code->name.size() + code->file.size();
      for (const inline_frame_t& frame : code->inlined) total += frame.function.size() + frame.file.size();
      if (total == SIZE_MAX) abort();
    }
    symbolizer.data(module, offset);
  }
  std::vector<module_symbol_t> functions, objects;
  if (symbolizer.list_symbols(module, &functions, &objects)) {
    size_t total = symbolizer.line_offsets(module).size();
    for (const module_symbol_t& f : functions) total += f.name.size();
    for (const module_symbol_t& o : objects) total += o.name.size();
    if (total == SIZE_MAX) abort();
  }

  std::string why;
  int fd = open_regular_file(module_path(), &why);
  if (fd < 0) abort();
  elf_facts_t facts;
  elf_dependencies_t dependencies;
  if (read_elf_facts(fd, true, &facts, &why) && read_elf_dependencies(fd, &dependencies, &why)) {
    size_t total = dependencies.interpreter.size();
    for (const std::string& name : dependencies.needed) total += name.size();
    if (total == SIZE_MAX) abort();
  }
  close(fd);
  return 0;
}
