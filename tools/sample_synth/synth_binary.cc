#include "synth_binary.h"

#include <elf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "symbols/library_search.h"
#include "symbols/symbolizer.h"

namespace velkor { namespace synth {

using namespace library;

namespace {

// A module's file: its canonical path, facts, dependencies and identity.
std::string read_module(const std::string& path, recorded_module_t* module,
                        elf_facts_t* facts, elf_dependencies_t* dependencies) {
  std::string why;
  int fd = open_regular_file(path, &why);
  if (fd < 0) return "cannot read " + why + ".";
  struct stat st;
  bool read = fstat(fd, &st) == 0 && read_elf_facts(fd, true, facts, &why) &&
              read_elf_dependencies(fd, dependencies, &why);
  ::close(fd);
  if (!read) return "cannot use " + path + ": " + (why.empty() ? std::strerror(errno) : why) + ".";
  module->path = path;
  module->device = st.st_dev;
  module->inode = st.st_ino;
  module->position_independent = facts->type == ET_DYN;
  module->loads = facts->loads;
  return "";
}

bool in_segment(const std::vector<elf_load_segment_t>& loads, uint64_t offset, uint32_t flag) {
  for (const elf_load_segment_t& load : loads) {
    if ((load.flags & flag) != 0 && offset >= load.offset &&
        offset - load.offset < load.memory_size) {
      return true;
    }
  }
  return false;
}

// The places of one function of the listing (see recorded_binary_t).
std::vector<code_place_t> function_places(const module_symbol_t& function,
                                          const std::vector<uint64_t>& lines, bool any_lines,
                                          const std::vector<elf_load_segment_t>& loads) {
  std::vector<code_place_t> places;
  const uint64_t end = function.file_offset + function.size;
  std::vector<uint64_t> rows;
  if (any_lines) {
    for (auto it = std::lower_bound(lines.begin(), lines.end(), function.file_offset);
         it != lines.end() && *it < end; ++it) {
      rows.push_back(*it);
    }
  } else {
    rows = {function.file_offset, std::min(end, function.file_offset + 4)};
  }
  for (size_t i = 0; i + 1 < rows.size(); ++i) {
    code_place_t place;
    if (elf_offset_to_vaddr(loads, rows[i], &place.pc) &&
        elf_offset_to_vaddr(loads, rows[i + 1], &place.next_pc) && place.next_pc > place.pc) {
      places.push_back(place);
    }
  }
  return places;
}

}  // namespace

size_t recorded_binary_t::place_count() const {
  size_t count = 0;
  for (const std::vector<code_place_t>& f : functions) count += f.size();
  return count;
}

std::string read_recorded_binary(const std::string& path,
                                 boost::shared_ptr<warning_consumer_base_t> warnings,
                                 recorded_binary_t* binary) {
  std::unique_ptr<char, void (*)(void*)> resolved(realpath(path.c_str(), nullptr), std::free);
  if (!resolved) return "cannot read " + path + ": " + std::strerror(errno) + ".";
  const std::string canonical = resolved.get();

  elf_facts_t facts;
  elf_dependencies_t dependencies;
  std::string problem = read_module(canonical, &binary->executable, &facts, &dependencies);
  if (!problem.empty()) return problem;
  if (facts.machine != EM_X86_64 || facts.elf_class != ELFCLASS64) {
    return canonical + " is not an x86-64 program.";
  }

  library_search_t search = find_loaded_libraries(canonical, facts, dependencies,
                                                  default_library_search_options(facts.machine));
  for (const loaded_module_t& found : search.modules) {
    recorded_module_t library;
    elf_facts_t library_facts;
    elf_dependencies_t library_dependencies;
    if (read_module(found.path, &library, &library_facts, &library_dependencies).empty()) {
      binary->libraries.push_back(library);
    }
  }
  binary->missing_libraries = search.missing;

  symbolizer_t symbolizer(symbolizer_options_t(), warnings);
  symbolizer_t::module_handle_t module = symbolizer.add_module(canonical);
  std::vector<module_symbol_t> functions, objects;
  if (!symbolizer.list_symbols(module, &functions, &objects)) {
    return "cannot read the symbols of " + canonical + ".";
  }
  const std::vector<uint64_t> lines = symbolizer.line_offsets(module);
  const std::vector<elf_load_segment_t>& loads = binary->executable.loads;

  std::vector<module_symbol_t> code;
  for (const module_symbol_t& f : functions) {
    if (f.size > 0 && in_segment(loads, f.file_offset, PF_X)) code.push_back(f);
  }
  std::stable_sort(code.begin(), code.end(), [](const module_symbol_t& a, const module_symbol_t& b) {
    return a.size > b.size;
  });
  for (const module_symbol_t& f : code) {
    std::vector<code_place_t> places = function_places(f, lines, !lines.empty(), loads);
    if (!places.empty()) binary->functions.push_back(places);
  }
  if (binary->functions.empty()) {
    return canonical + " has no function to take program counters from (its symbol table lists "
                       "none).";
  }
  for (const module_symbol_t& o : objects) {
    if (o.size > 0 && in_segment(loads, o.file_offset, PF_W)) {
      data_object_t object;
      object.address = o.address;
      object.size = o.size;
      object.weak = o.weak;
      binary->objects.push_back(object);
    }
  }
  return "";
}

}}  // namespace velkor::synth
