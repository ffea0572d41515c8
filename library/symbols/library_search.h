// Which shared libraries the dynamic loader would map for a program, found in
// the folders it searches, in the order it searches them. Used by
// sample_synth --binary, which maps them as the recorded program's
// libraries.
#ifndef LIBRARY_SYMBOLS_LIBRARY_SEARCH_H_
#define LIBRARY_SYMBOLS_LIBRARY_SEARCH_H_

#include <cstddef>
#include <string>
#include <vector>

#include "symbols/elf_file.h"

namespace velkor { namespace library {

// ---- Folders ---------------------------------------------------------------

// The folders that a loader configuration file lists (/etc/ld.so.conf, from
// which the loader's cache is built), with those of the files its include
// lines name, in order and each once. A file that cannot be read lists none.
std::vector<std::string> loader_config_folders(const std::string& config_file);

// The folders the loader searches last, after its cache: for x86-64,
// /lib/x86_64-linux-gnu, /usr/lib/x86_64-linux-gnu, /lib and /usr/lib.
std::vector<std::string> system_library_folders(uint16_t machine);

// ---- The search ------------------------------------------------------------

// A file that the loader maps for the program.
struct loaded_module_t {
  std::string path;  // canonical (symbolic links resolved), as /proc/<pid>/maps shows it
  std::string name;  // as asked for: the DT_NEEDED entry or the interpreter's path
  elf_facts_t facts;
};

struct library_search_t {
  // The interpreter first, when the program names one and it is found, then
  // the libraries in the order the loader loads them (breadth first: the
  // program's DT_NEEDED entries, then theirs), each file once.
  std::vector<loaded_module_t> modules;
  // Names that no folder holds as an ELF file of the program's class and
  // machine ("libfoo.so.1 (needed by /usr/bin/app)"), in the order asked.
  std::vector<std::string> missing;
};

struct library_search_options_t {
  // Searched after the DT_RUNPATH folders: the loader's cache.
  std::vector<std::string> config_folders;
  // Searched last.
  std::vector<std::string> system_folders;
  // Files looked at in all at most; the rest of the search is left out.
  size_t max_modules = 256;
};

// The options for this machine: the folders of /etc/ld.so.conf and the
// system folders for the machine.
library_search_options_t default_library_search_options(uint16_t machine);

// Finds the modules that the program `executable` (an ELF file whose facts
// and dependencies are given) loads. A name with a slash is taken as it is;
// any other is searched, for each object that needs it, in the DT_RPATH
// folders of that object and of the objects that loaded it up to the program
// (unless the object has DT_RUNPATH), then in its DT_RUNPATH folders, then
// in the configured and the system folders; $ORIGIN and ${ORIGIN} stand for
// the folder of the object. The first regular ELF file of the program's
// class and machine is taken; others are passed over, as the loader passes
// them over. LD_LIBRARY_PATH is not looked at: the search is for the
// program's loader, not in this process's environment.
library_search_t find_loaded_libraries(const std::string& executable, const elf_facts_t& facts,
                                       const elf_dependencies_t& dependencies,
                                       const library_search_options_t& options);

}}  // namespace velkor::library
#endif
