#include "symbols/symbolizer.h"

#include <cxxabi.h>
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <elfutils/libdwelf.h>
#include <elfutils/libdwfl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/printable_text.h"
#include "support/seeded_hash.h"
#include "symbols/address_space.h"
#include "symbols/elf_file.h"

namespace velkor { namespace library {

namespace {

// ---- Limits against hostile files ------------------------------------------

// Longer names are shown as they are stored: the demangler's time and stack
// grow with the name.
const size_t max_demangled_length = 4096;
// Inlined functions followed out from one address.
const size_t max_inline_depth = 64;
// Overlapping symbols examined below an address.
const int max_symbol_walk = 64;

// ---- Files -----------------------------------------------------------------

std::string join_root(const std::string& root, const std::string& path) {
  if (root.empty()) return path;
  if (root.back() == '/' && !path.empty() && path[0] == '/') return root + path.substr(1);
  return root + path;
}

std::string dirname_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string hex_bytes(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) {
    text += digits[c >> 4];
    text += digits[c & 15];
  }
  return text;
}

// The CRC-32 that .gnu_debuglink records: zlib's, over the whole file.
bool file_crc32(int fd, uint32_t* crc) {
  uLong value = crc32(0L, Z_NULL, 0);
  char buffer[1 << 16];
  off_t offset = 0;
  for (;;) {
    ssize_t n = pread(fd, buffer, sizeof(buffer), offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    value = crc32(value, reinterpret_cast<const Bytef*>(buffer), static_cast<uInt>(n));
    offset += n;
  }
  *crc = static_cast<uint32_t>(value);
  return true;
}

// ---- Names -----------------------------------------------------------------

std::string demangle(const char* name) {
  size_t length = std::strlen(name);
  if (length > 2 && length <= max_demangled_length && name[0] == '_' && name[1] == 'Z') {
    int status = 0;
    char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    if (plain != nullptr) {
      std::string text = status == 0 ? std::string(plain) : std::string(name);
      std::free(plain);
      return text;
    }
  }
  return name;
}

const char* die_string(Dwarf_Die* die, unsigned attribute) {
  Dwarf_Attribute value;
  if (dwarf_attr_integrate(die, attribute, &value) == nullptr) return nullptr;
  return dwarf_formstring(&value);
}

// The name of a subprogram or inlined subroutine: its linkage name
// demangled (with the parameters of C++ functions), else its plain name.
std::string die_function_name(Dwarf_Die* die) {
  const char* linkage = die_string(die, DW_AT_linkage_name);
  if (linkage == nullptr) linkage = die_string(die, DW_AT_MIPS_linkage_name);
  if (linkage != nullptr && *linkage != '\0') return demangle(linkage);
  const char* name = die_string(die, DW_AT_name);
  return name != nullptr ? name : "";
}

// Where an inlined subroutine was called from.
void call_site(Dwarf_Die* die, std::string* file, uint32_t* line) {
  file->clear();
  *line = 0;
  Dwarf_Attribute value;
  Dwarf_Word number;
  if (dwarf_attr(die, DW_AT_call_line, &value) != nullptr && dwarf_formudata(&value, &number) == 0) {
    *line = number > UINT32_MAX ? 0 : static_cast<uint32_t>(number);
  }
  if (dwarf_attr(die, DW_AT_call_file, &value) == nullptr || dwarf_formudata(&value, &number) != 0) {
    return;
  }
  Dwarf_Die unit;
  if (dwarf_diecu(die, &unit, nullptr, nullptr) == nullptr) return;
  Dwarf_Files* files = nullptr;
  size_t count = 0;
  if (dwarf_getsrcfiles(&unit, &files, &count) != 0 || number >= count) return;
  const char* name = dwarf_filesrc(files, number, nullptr, nullptr);
  if (name != nullptr) *file = name;
}

// ---- Scopes ----------------------------------------------------------------

// Work done for one address at most: DIEs looked at, and scopes nested.
const size_t max_scope_steps = size_t(1) << 20;
const size_t max_scope_depth = 256;

bool is_code_scope(int tag) {
  switch (tag) {
    case DW_TAG_subprogram:
    case DW_TAG_inlined_subroutine:
    case DW_TAG_lexical_block:
    case DW_TAG_entry_point:
    case DW_TAG_try_block:
    case DW_TAG_catch_block:
    case DW_TAG_with_stmt:
      return true;
    default:
      return false;
  }
}

// DIEs without addresses of their own whose children may hold code.
bool is_container(int tag) {
  switch (tag) {
    case DW_TAG_namespace:
    case DW_TAG_module:
    case DW_TAG_class_type:
    case DW_TAG_structure_type:
    case DW_TAG_union_type:
    case DW_TAG_interface_type:
    case DW_TAG_imported_unit:
      return true;
    default:
      return false;
  }
}

// The first child of a container; for an imported unit, of the unit it imports.
bool container_child(Dwarf_Die* container, Dwarf_Die* child) {
  if (dwarf_tag(container) == DW_TAG_imported_unit) {
    Dwarf_Attribute import;
    Dwarf_Die unit;
    if (dwarf_attr(container, DW_AT_import, &import) == nullptr ||
        dwarf_formref_die(&import, &unit) == nullptr) {
      return false;
    }
    return dwarf_child(&unit, child) == 0;
  }
  return dwarf_child(container, child) == 0;
}

// The address ranges of a unit's functions: the code scopes found among
// its children and through the namespaces, types and imported units
// between, each with the ranges it covers, sorted by start. Built once per
// unit, so that each address then costs a search and a walk of its own
// function only. Iterative and bounded (steps, depth, ranges), so that no
// nesting of a hostile file can exhaust the stack, the time or the memory.
// (libdw's dwarf_getscopes walks the whole unit for every address, by
// recursion, loses its array on some errors, and lists after an inlined
// subroutine the scopes of its abstract definition rather than those it
// was inlined into.)
struct function_range_t {
  Dwarf_Addr start;
  Dwarf_Addr end;
  Dwarf_Die die;
};

const size_t max_index_steps = size_t(1) << 24;
const size_t max_unit_ranges = size_t(1) << 22;
const int max_die_ranges = 4096;

std::vector<function_range_t> index_functions(Dwarf_Die* unit) {
  std::vector<function_range_t> ranges;
  std::vector<Dwarf_Die> containers;  // being searched, innermost last
  Dwarf_Die die;
  bool more = dwarf_child(unit, &die) == 0;
  size_t steps = 0;
  while (steps++ < max_index_steps && ranges.size() < max_unit_ranges) {
    if (!more) {
      // This level is done: on with the sibling of the innermost container.
      if (containers.empty()) break;
      die = containers.back();
      containers.pop_back();
      more = dwarf_siblingof(&die, &die) == 0;
      continue;
    }
    int tag = dwarf_tag(&die);
    if (is_code_scope(tag)) {
      Dwarf_Addr base = 0, low = 0, high = 0;
      ptrdiff_t offset = 0;
      for (int n = 0; n < max_die_ranges; ++n) {
        offset = dwarf_ranges(&die, offset, &base, &low, &high);
        if (offset <= 0) break;
        if (low < high) ranges.push_back({low, high, die});
      }
    } else if (is_container(tag) && containers.size() < max_scope_depth) {
      Dwarf_Die child;
      if (container_child(&die, &child)) {
        containers.push_back(die);
        die = child;
        continue;
      }
    }
    more = dwarf_siblingof(&die, &die) == 0;
  }
  std::sort(ranges.begin(), ranges.end(),
            [](const function_range_t& a, const function_range_t& b) { return a.start < b.start; });
  return ranges;
}

// The scopes that hold pc, outermost first: the function of the index that
// holds it, then at each level the first child scope whose addresses hold
// it.
std::vector<Dwarf_Die> scopes_holding(const std::vector<function_range_t>& functions,
                                      Dwarf_Addr pc) {
  std::vector<Dwarf_Die> scopes;
  auto it = std::upper_bound(functions.begin(), functions.end(), pc,
                             [](Dwarf_Addr a, const function_range_t& f) { return a < f.start; });
  for (int walked = 0; it != functions.begin() && walked < max_symbol_walk; ++walked) {
    --it;
    if (pc < it->end) {
      scopes.push_back(it->die);
      break;
    }
  }
  if (scopes.empty()) return scopes;
  Dwarf_Die die;
  bool more = dwarf_child(&scopes.back(), &die) == 0;
  size_t steps = 0;
  while (more && steps++ < max_scope_steps) {
    if (is_code_scope(dwarf_tag(&die)) && dwarf_haspc(&die, pc) == 1) {
      scopes.push_back(die);
      if (scopes.size() >= max_scope_depth) break;
      Dwarf_Die child;
      more = dwarf_child(&die, &child) == 0;
      if (more) die = child;
      continue;
    }
    more = dwarf_siblingof(&die, &die) == 0;
  }
  return scopes;
}

// ---- Symbol tables ---------------------------------------------------------

struct symbol_entry_t {
  uint64_t start;
  uint64_t size;
  const char* name;  // in the string table elfutils keeps open
  int rank;          // binding: global 2, weak 1, other 0
};

bool symbol_before(const symbol_entry_t& a, const symbol_entry_t& b) {
  if (a.start != b.start) return a.start < b.start;
  return a.rank < b.rank;
}

// The symbol that holds address: of those that start at or below it, the
// nearest one whose size reaches it; at equal starts the stronger binding.
const symbol_entry_t* find_symbol(const std::vector<symbol_entry_t>& table, uint64_t address) {
  auto it = std::upper_bound(
      table.begin(), table.end(), address,
      [](uint64_t a, const symbol_entry_t& s) { return a < s.start; });
  for (int walked = 0; it != table.begin() && walked < max_symbol_walk; ++walked) {
    --it;
    if (address - it->start < it->size) return &*it;
  }
  return nullptr;
}

int find_no_elf(Dwfl_Module*, void**, const char*, Dwarf_Addr, char**, Elf**) { return -1; }

int find_debug_file(Dwfl_Module* mod, void** userdata, const char* module_name, Dwarf_Addr base,
                    const char* file_name, const char* debuglink, GElf_Word debuglink_crc,
                    char** debug_file_name);

const Dwfl_Callbacks callbacks = {
    find_no_elf,
    find_debug_file,
    dwfl_offline_section_address,
    nullptr,
};

}  // namespace

// ---- Module state ----------------------------------------------------------

struct symbolizer_t::module_state_t {
  explicit module_state_t(const std::string& recorded_path) : path(recorded_path) {}
  ~module_state_t() {
    if (dwfl != nullptr) dwfl_end(dwfl);
  }

  std::string path;  // as recorded
  bool tried = false;
  bool usable = false;
  std::string main_file;
  std::string debug_file;
  elf_facts_t facts;
  Dwfl* dwfl = nullptr;
  Dwfl_Module* module = nullptr;
  Dwarf_Addr bias = 0;  // module addresses minus ELF addresses
  std::vector<symbol_entry_t> functions;
  std::vector<symbol_entry_t> objects;
  // The functions of each unit asked about, by the unit's offset.
  std::map<Dwarf_Off, std::vector<function_range_t>> unit_functions;

  // For the debug-file search, which elfutils calls back.
  std::string root;
  warning_consumer_base_t* warnings = nullptr;
  bool debug_searched = false;
  int debug_search_result = -1;

  void warn(const std::string& text) {
    if (warnings != nullptr) warnings->warning(printable_text(text));
  }

  // The debug file for the module (or, asked for a name other than the
  // module's debug link, the supplementary file that a debug file names),
  // open, or -1.
  int find_debug(const char* link, uint32_t link_crc, char** found_name);
};

namespace {

int find_debug_file(Dwfl_Module*, void** userdata, const char*, Dwarf_Addr, const char*,
                    const char* debuglink, GElf_Word debuglink_crc, char** debug_file_name) {
  if (userdata == nullptr || *userdata == nullptr) return -1;
  return static_cast<symbolizer_t::module_state_t*>(*userdata)
      ->find_debug(debuglink, debuglink_crc, debug_file_name);
}

}  // namespace

int symbolizer_t::module_state_t::find_debug(const char* link, uint32_t link_crc,
                                             char** found_name) {
  bool supplementary = link != nullptr && (facts.debuglink.empty() || facts.debuglink != link);
  std::vector<std::string> candidates;
  if (!supplementary) {
    // elfutils asks again for the symbol table when the search for the
    // debug data found nothing; the answer is the same.
    if (debug_searched) return -1;
    debug_searched = true;
    if (facts.build_id.size() >= 2) {
      std::string hex = hex_bytes(facts.build_id);
      candidates.push_back(join_root(root, "/usr/lib/debug/.build-id/" + hex.substr(0, 2) + "/" +
                                               hex.substr(2) + ".debug"));
    }
    if (link != nullptr && *link != '\0' && std::strchr(link, '/') == nullptr) {
      std::string folder = dirname_of(path);
      if (folder == "/") folder.clear();
      candidates.push_back(join_root(root, folder + "/" + link));
      candidates.push_back(join_root(root, folder + "/.debug/" + link));
      candidates.push_back(join_root(root, "/usr/lib/debug" + folder + "/" + link));
    }
  } else if (link[0] == '/') {
    candidates.push_back(join_root(root, link));
  } else if (!debug_file.empty()) {
    candidates.push_back(dirname_of(debug_file) + "/" + link);
  }

  for (const std::string& candidate : candidates) {
    if (candidate == main_file) continue;
    std::string why;
    int fd = open_regular_file(candidate, &why);
    if (fd < 0) continue;  // not there: the usual case
    elf_facts_t candidate_facts;
    bool fits = read_elf_facts(fd, false, &candidate_facts, &why);
    if (!fits) {
      warn("The debug file " + candidate + " of " + path + " is not used: " + why + ".");
    } else if (!supplementary && !facts.build_id.empty() &&
               candidate_facts.build_id != facts.build_id) {
      fits = false;
      warn("The debug file " + candidate + " does not belong to " + path + ": its build id " +
           (candidate_facts.build_id.empty() ? std::string("is missing")
                                             : hex_bytes(candidate_facts.build_id)) +
           ", the module's is " + hex_bytes(facts.build_id) + "; it is not used.");
    } else if (!supplementary && facts.build_id.empty() && link_crc != 0) {
      uint32_t crc = 0;
      if (!file_crc32(fd, &crc) || crc != link_crc) {
        fits = false;
        warn("The debug file " + candidate + " does not belong to " + path +
             ": its CRC differs from the one in the module's debug link; it is not used.");
      }
    }
    if (!fits) {
      ::close(fd);
      continue;
    }
    *found_name = strdup(candidate.c_str());
    if (!supplementary) debug_file = candidate;
    return fd;  // elfutils closes it
  }
  return -1;
}

// ---- The symbolizer --------------------------------------------------------

size_t symbolizer_t::answer_key_hash_t::operator()(const answer_key_t& key) const {
  return static_cast<size_t>(
      seeded_hash64((static_cast<uint64_t>(key.module) << 1) | (key.data ? 1 : 0), key.offset));
}

symbolizer_t::symbolizer_t(const symbolizer_options_t& options,
                           boost::shared_ptr<warning_consumer_base_t> warnings)
    : options_(options), warnings_(warnings) {
  elf_version(EV_CURRENT);
  if (options_.max_cached_answers == 0) options_.max_cached_answers = 1;
}

symbolizer_t::~symbolizer_t() {}

symbolizer_t::module_handle_t symbolizer_t::add_module(const std::string& path) {
  auto found = handles_.find(path);
  if (found != handles_.end()) return found->second;
  module_handle_t handle = static_cast<module_handle_t>(modules_.size());
  modules_.emplace_back(new module_state_t(path));
  handles_.emplace(path, handle);
  return handle;
}

const std::string& symbolizer_t::module_path(module_handle_t module) const {
  assert(module < modules_.size());
  return modules_[module]->path;
}

bool symbolizer_t::usable(module_handle_t module) {
  assert(module < modules_.size());
  module_state_t* state = modules_[module].get();
  if (!state->tried) open(state);
  return state->usable;
}

std::string symbolizer_t::main_file(module_handle_t module) const {
  assert(module < modules_.size());
  return modules_[module]->usable ? modules_[module]->main_file : std::string();
}

std::string symbolizer_t::debug_file(module_handle_t module) const {
  assert(module < modules_.size());
  return modules_[module]->debug_file;
}

// The texts name files from the recording: control characters in them are
// shown as \xNN, so that they cannot forge lines.
void symbolizer_t::warn(const std::string& text) {
  if (warnings_) warnings_->warning(printable_text(text));
}

void symbolizer_t::open(module_state_t* state) {
  state->tried = true;
  if (!is_openable_module_path(state->path)) return;
  state->root = options_.root;
  state->warnings = warnings_.get();
  state->main_file = join_root(options_.root, state->path);
  std::string why;
  int fd = open_regular_file(state->main_file, &why);
  if (fd >= 0 && !read_elf_facts(fd, true, &state->facts, &why)) {
    why = state->main_file + ": " + why;
    ::close(fd);
    fd = -1;
  }
  if (fd >= 0) {
    state->dwfl = dwfl_begin(&callbacks);
    if (state->dwfl == nullptr) {
      why = std::string("elfutils: ") + dwfl_errmsg(-1);
      ::close(fd);
      fd = -1;
    }
  }
  if (fd >= 0) {
    dwfl_report_begin(state->dwfl);
    // Placed at the addresses of its program headers (bias 0), so that
    // module addresses are the ELF file's own.
    state->module =
        dwfl_report_elf(state->dwfl, state->path.c_str(), state->main_file.c_str(), fd, 0, true);
    if (state->module == nullptr) {
      why = state->main_file + ": " + dwfl_errmsg(-1);
      ::close(fd);
      fd = -1;
    }
    dwfl_report_end(state->dwfl, nullptr, nullptr);
  }
  if (fd < 0) {
    warn("Cannot read the symbols of " + state->path + " (" + why +
         "); its addresses are shown as module+offset.");
    state->facts = elf_facts_t();
    return;
  }
  void** userdata = nullptr;
  dwfl_module_info(state->module, &userdata, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  if (userdata != nullptr) *userdata = state;
  GElf_Addr bias = 0;
  if (dwfl_module_getelf(state->module, &bias) == nullptr) {
    warn("Cannot read the symbols of " + state->path + " (" + state->main_file + ": " +
         dwfl_errmsg(-1) + "); its addresses are shown as module+offset.");
    return;
  }
  state->bias = bias;

  // Function symbols without size (start files, some hand-written code)
  // reach up to the next function symbol, within their section.
  struct sizeless_t {
    symbol_entry_t entry;
    uint64_t section_end;
  };
  std::vector<sizeless_t> sizeless;
  int count = dwfl_module_getsymtab(state->module);
  for (int i = 0; i < count; ++i) {
    GElf_Sym symbol;
    GElf_Addr address = 0;
    GElf_Word section = 0;
    Elf* elf = nullptr;
    Dwarf_Addr symbol_bias = 0;
    const char* name = dwfl_module_getsym_info(state->module, i, &symbol, &address, &section,
                                               &elf, &symbol_bias);
    if (name == nullptr || *name == '\0' || section == SHN_UNDEF) continue;
    int type = GELF_ST_TYPE(symbol.st_info);
    int binding = GELF_ST_BIND(symbol.st_info);
    bool function = type == STT_FUNC || type == STT_GNU_IFUNC;
    symbol_entry_t entry = {address, symbol.st_size, name,
                            binding == STB_GLOBAL ? 2 : binding == STB_WEAK ? 1 : 0};
    if (symbol.st_size == 0) {
      Elf_Scn* scn = function && elf != nullptr ? elf_getscn(elf, section) : nullptr;
      GElf_Shdr header;
      if (scn != nullptr && gelf_getshdr(scn, &header) != nullptr &&
          (header.sh_flags & SHF_EXECINSTR) != 0) {
        entry.rank = -1;  // a sized symbol at the same start wins
        sizeless.push_back({entry, header.sh_addr + header.sh_size + symbol_bias});
      }
      continue;
    }
    if (function) {
      state->functions.push_back(entry);
    } else if (type == STT_OBJECT) {
      state->objects.push_back(entry);
    }
  }
  std::vector<uint64_t> starts;
  for (const symbol_entry_t& f : state->functions) starts.push_back(f.start);
  for (const sizeless_t& f : sizeless) starts.push_back(f.entry.start);
  std::sort(starts.begin(), starts.end());
  for (sizeless_t& f : sizeless) {
    uint64_t end = f.section_end;
    auto next = std::upper_bound(starts.begin(), starts.end(), f.entry.start);
    if (next != starts.end() && *next < end) end = *next;
    if (end <= f.entry.start) continue;
    f.entry.size = end - f.entry.start;
    state->functions.push_back(f.entry);
  }
  std::sort(state->functions.begin(), state->functions.end(), symbol_before);
  std::sort(state->objects.begin(), state->objects.end(), symbol_before);
  state->usable = true;
}

namespace {

// The entries of a sorted table as a listing: one per start address, the
// last of each run of equal starts (the one find_symbol takes).
void list_table(const std::vector<symbol_entry_t>& table, const std::vector<elf_load_segment_t>& loads,
                uint64_t bias, std::vector<module_symbol_t>* listing) {
  listing->clear();
  for (size_t i = 0; i < table.size(); ++i) {
    const symbol_entry_t& entry = table[i];
    if (i + 1 < table.size() && table[i + 1].start == entry.start) continue;
    module_symbol_t symbol;
    symbol.name = demangle(entry.name);
    symbol.address = entry.start - bias;
    symbol.size = entry.size;
    symbol.weak = entry.rank == 1;
    if (!elf_vaddr_to_offset(loads, symbol.address, &symbol.file_offset)) continue;
    listing->push_back(symbol);
  }
}

// Rows of line tables read at most from one module.
const size_t max_line_rows = size_t(1) << 24;

}  // namespace

bool symbolizer_t::list_symbols(module_handle_t module, std::vector<module_symbol_t>* functions,
                                std::vector<module_symbol_t>* objects) {
  if (!usable(module)) return false;
  const module_state_t* state = modules_[module].get();
  list_table(state->functions, state->facts.loads, state->bias, functions);
  list_table(state->objects, state->facts.loads, state->bias, objects);
  return true;
}

std::vector<uint64_t> symbolizer_t::line_offsets(module_handle_t module) {
  std::vector<uint64_t> offsets;
  if (!usable(module)) return offsets;
  module_state_t* state = modules_[module].get();
  Dwarf_Addr unit_bias = 0;
  size_t rows = 0;
  for (Dwarf_Die* unit = dwfl_module_nextcu(state->module, nullptr, &unit_bias);
       unit != nullptr && rows < max_line_rows;
       unit = dwfl_module_nextcu(state->module, unit, &unit_bias)) {
    Dwarf_Lines* lines = nullptr;
    size_t count = 0;
    if (dwarf_getsrclines(unit, &lines, &count) != 0) continue;
    for (size_t i = 0; i < count && rows < max_line_rows; ++i, ++rows) {
      Dwarf_Line* line = dwarf_onesrcline(lines, i);
      Dwarf_Addr address = 0;
      bool end = false;
      if (line == nullptr || dwarf_lineaddr(line, &address) != 0 ||
          dwarf_lineendsequence(line, &end) != 0 || end) {
        continue;
      }
      uint64_t offset = 0;
      if (elf_vaddr_to_offset(state->facts.loads, address + unit_bias - state->bias, &offset)) {
        offsets.push_back(offset);
      }
    }
  }
  std::sort(offsets.begin(), offsets.end());
  offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
  return offsets;
}

const symbol_info_t* symbolizer_t::code(module_handle_t module, uint64_t file_offset) {
  return answer(module, file_offset, false);
}

const symbol_info_t* symbolizer_t::data(module_handle_t module, uint64_t file_offset) {
  return answer(module, file_offset, true);
}

const symbol_info_t* symbolizer_t::answer(module_handle_t module, uint64_t file_offset,
                                          bool data) {
  assert(module < modules_.size());
  answer_key_t key = {module, data, file_offset};
  auto cached = answers_.find(key);
  if (cached != answers_.end()) return cached->second.found ? &cached->second.info : nullptr;
  module_state_t* state = modules_[module].get();
  if (!state->tried) open(state);
  if (!state->usable) return nullptr;

  answer_t answer;
  uint64_t vaddr = 0;
  if (elf_offset_to_vaddr(state->facts.loads, file_offset, &vaddr)) {
    Dwarf_Addr address = vaddr + state->bias;
    symbol_info_t& info = answer.info;
    if (data) {
      const symbol_entry_t* object = find_symbol(state->objects, address);
      if (object != nullptr) {
        info.name = demangle(object->name);
        info.name_offset = address - object->start;
      }
      answer.found = object != nullptr;
    } else {
      const symbol_entry_t* function = find_symbol(state->functions, address);
      if (function != nullptr) {
        info.name = demangle(function->name);
        info.name_offset = address - function->start;
      }
      // The functions whose code holds the address, innermost first: the
      // inlined subroutines and then the subprogram around them.
      std::vector<Dwarf_Die> frames;
      Dwarf_Addr unit_bias = 0;
      Dwarf_Die* unit = dwfl_module_addrdie(state->module, address, &unit_bias);
      if (unit != nullptr) {
        auto indexed = state->unit_functions.find(dwarf_dieoffset(unit));
        if (indexed == state->unit_functions.end()) {
          indexed = state->unit_functions.emplace(dwarf_dieoffset(unit), index_functions(unit)).first;
        }
        std::vector<Dwarf_Die> scopes = scopes_holding(indexed->second, address - unit_bias);
        for (auto it = scopes.rbegin(); it != scopes.rend() && frames.size() < max_inline_depth;
             ++it) {
          int tag = dwarf_tag(&*it);
          if (tag == DW_TAG_inlined_subroutine) frames.push_back(*it);
          if (tag == DW_TAG_subprogram) {
            frames.push_back(*it);
            break;
          }
        }
      }
      std::string file;
      uint32_t line = 0;
      Dwfl_Line* row = dwfl_module_getsrc(state->module, address);
      if (row != nullptr) {
        int number = 0;
        const char* name = dwfl_lineinfo(row, nullptr, &number, nullptr, nullptr, nullptr);
        if (name != nullptr) file = name;
        line = number > 0 ? static_cast<uint32_t>(number) : 0;
      }
      for (size_t i = 0; i + 1 < frames.size(); ++i) {
        inline_frame_t frame;
        frame.function = die_function_name(&frames[i]);
        frame.file = file;
        frame.line = line;
        info.inlined.push_back(frame);
        call_site(&frames[i], &file, &line);
      }
      if (!frames.empty()) {
        Dwarf_Die* outer = &frames.back();
        if (dwarf_tag(outer) == DW_TAG_inlined_subroutine) {
          // Debug data that end in an inlined subroutine: the chain stops there.
          inline_frame_t frame;
          frame.function = die_function_name(outer);
          frame.file = file;
          frame.line = line;
          info.inlined.push_back(frame);
          call_site(outer, &file, &line);
        } else if (function == nullptr) {
          info.name = die_function_name(outer);
          Dwarf_Addr low = 0;
          if (dwarf_lowpc(outer, &low) == 0 && low + unit_bias <= address) {
            info.name_offset = address - (low + unit_bias);
          }
        }
      }
      info.file = file;
      info.line = line;
      answer.found = !info.name.empty() || !info.file.empty() || info.line != 0;
    }
  }
  if (answers_.size() >= options_.max_cached_answers) answers_.clear();
  auto inserted = answers_.emplace(key, std::move(answer));
  return inserted.first->second.found ? &inserted.first->second.info : nullptr;
}

}}  // namespace velkor::library
