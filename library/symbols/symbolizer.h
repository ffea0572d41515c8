// Names for offsets in the recorded program's files: for code the function,
// the offset into it, the source line and the chain of inlined calls; for
// data the global object that holds it. Reads ELF and DWARF data with
// elfutils (libdwfl, libdw, libelf). Modules are looked up under a root
// directory (--symfs), their separate debug files through the build-id
// directory and .gnu_debuglink. Used by the symbol resolver
// (symbol_resolver.h) of sample_dump and sample_stats.
#ifndef LIBRARY_SYMBOLS_SYMBOLIZER_H_
#define LIBRARY_SYMBOLS_SYMBOLIZER_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "support/warning_consumer.h"

namespace velkor { namespace library {

// ---- Answers ---------------------------------------------------------------

// One inlined function whose code holds an address, and the line within it
// (for the innermost: the line of the address; for each further out: where
// it called the next one in).
struct inline_frame_t {
  std::string function;  // demangled; empty when the debug data names none
  std::string file;      // empty: unknown
  uint32_t line = 0;     // 0: unknown
};

// What a module holds at one file offset.
//   Code: name is the function (its ELF symbol, or the DWARF subprogram where
//   no symbol covers the address) and name_offset the bytes from its start;
//   file and line the place in that function: the line of the address
//   itself, or, inside inlined code, the line that called the outermost
//   inlined function. inlined lists the inlined functions, innermost first,
//   so that inlined followed by (name, file, line) is the chain that
//   `addr2line -f -i` prints.
//   Data: name is the global object (an ELF symbol of type object with a
//   size) and name_offset the bytes into it; no line, nothing inlined.
struct symbol_info_t {
  std::string name;          // demangled; empty: no function or object known
  uint64_t name_offset = 0;  // meaningful with a name
  std::string file;          // empty: unknown
  uint32_t line = 0;         // 0: unknown
  std::vector<inline_frame_t> inlined;
};

// A function or global object of a module's symbol table.
struct module_symbol_t {
  std::string name;          // demangled
  uint64_t address = 0;      // ELF address of its first byte
  uint64_t file_offset = 0;  // of its first byte; for zero-filled data, where a
                             // mapping of its segment shows it
  uint64_t size = 0;
  bool weak = false;         // a weak symbol (template statics, compilers' own objects)
};

// ---- The symbolizer --------------------------------------------------------

struct symbolizer_options_t {
  // Prefix of every path looked up (module files and debug files alike):
  // "/srv/root" looks for /usr/bin/app as /srv/root/usr/bin/app. Empty: /.
  std::string root;
  // Answers kept at most; when full, the cache starts afresh.
  size_t max_cached_answers = size_t(1) << 18;
};

// Opens a module at its first query and keeps it open. Its debug data come
// from the module itself or from a separate debug file, searched in this
// order: <root>/usr/lib/debug/.build-id/xx/yyyy.debug by the module's build
// id, then by its .gnu_debuglink name beside the module, in .debug/ beside
// it and under <root>/usr/lib/debug/<module's folder>/. A debug file whose
// build id differs from the module's (or, for a module without build id,
// whose CRC differs from the link's) is refused with a warning, and the
// search goes on.
//
// A module that cannot be opened or read (missing, no regular file, no ELF
// executable or shared library, truncated or damaged) is warned about once;
// from then on its queries answer null. Names that address_space_t does not
// consider openable are never opened and not warned about. Module files
// are read through read-only memory mappings: one that shrinks while it is
// being read can still end the process.
class symbolizer_t {
 public:
  typedef uint32_t module_handle_t;

  // warnings may be null.
  symbolizer_t(const symbolizer_options_t& options,
               boost::shared_ptr<warning_consumer_base_t> warnings);
  ~symbolizer_t();

  // The handle of a module by its recorded path; the same path gives the
  // same handle. Opens nothing.
  module_handle_t add_module(const std::string& path);
  const std::string& module_path(module_handle_t module) const;

  // Opens the module when that has not been tried; false when it cannot be
  // read (the warning has been given).
  bool usable(module_handle_t module);

  // The answer for an offset in the module's file; null when the module
  // cannot be read or knows nothing about that offset (code: no function and
  // no line; data: no object). Offsets become the module's addresses through
  // its loadable segments (program headers). Answers are cached per module
  // and offset; the pointer stays valid until the next call of code() or
  // data().
  const symbol_info_t* code(module_handle_t module, uint64_t file_offset);
  const symbol_info_t* data(module_handle_t module, uint64_t file_offset);

  // The module's functions and global objects as code() and data() find
  // them, each ordered by address: for code, the symbols of functions with a
  // size and those without one, which reach up to the next function of their
  // section; for data, the symbols of objects with a size. Of symbols that
  // start at the same address only the one that code() or data() names
  // (the stronger binding) is listed. False when the module cannot be read.
  bool list_symbols(module_handle_t module, std::vector<module_symbol_t>* functions,
                    std::vector<module_symbol_t>* objects);

  // The file offsets at which rows of the module's line table start (where
  // the compiler put the first instruction of a piece of a source line),
  // ascending and distinct. Empty when the module cannot be read or has no
  // line information (its separate debug file is looked for as by code()).
  std::vector<uint64_t> line_offsets(module_handle_t module);

  // The file opened for the module once it was opened, and the separate
  // debug file used ("": none) once one was looked for: at the first query
  // that needed debug data the module lacks.
  std::string main_file(module_handle_t module) const;
  std::string debug_file(module_handle_t module) const;

  // Implementation records, declared here so that the .cc file can name
  // them; nothing outside uses them.
  struct module_state_t;

 private:
  symbolizer_t(const symbolizer_t&) = delete;
  symbolizer_t& operator=(const symbolizer_t&) = delete;

  struct answer_key_t {
    module_handle_t module;
    bool data;
    uint64_t offset;
    bool operator==(const answer_key_t& o) const {
      return module == o.module && data == o.data && offset == o.offset;
    }
  };
  struct answer_key_hash_t {
    size_t operator()(const answer_key_t& key) const;
  };
  struct answer_t {
    bool found = false;
    symbol_info_t info;
  };

  const symbol_info_t* answer(module_handle_t module, uint64_t file_offset, bool data);
  void open(module_state_t* state);
  void warn(const std::string& text);

  symbolizer_options_t options_;
  boost::shared_ptr<warning_consumer_base_t> warnings_;
  std::vector<std::unique_ptr<module_state_t>> modules_;
  std::map<std::string, module_handle_t> handles_;
  std::unordered_map<answer_key_t, answer_t, answer_key_hash_t> answers_;
};

}}  // namespace velkor::library
#endif
