#include "symbols/address_space.h"

#include <cstdint>
#include <iterator>

namespace velkor { namespace library {

namespace {

bool starts_with(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool ends_with(const std::string& text, const char* suffix) {
  size_t n = std::char_traits<char>::length(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

uint64_t range_end(uint64_t start, uint64_t size) {
  return size > UINT64_MAX - start ? UINT64_MAX : start + size;
}

}  // namespace

bool is_openable_module_path(const std::string& path) {
  // Only absolute paths name files; "[heap]", "[vdso]", "anon_inode:..." and
  // the empty name of an anonymous mapping do not.
  if (path.empty() || path[0] != '/') return false;
  // The kernel's names of memory that no file on disk holds, and files that
  // were deleted (a file now at that path is another one). Devices are never
  // read: opening one may block or have effects.
  static const char* const prefixes[] = {"//anon", "/anon_hugepage", "/dev/", "/memfd:",
                                         "/SYSV", "/proc/"};
  for (const char* prefix : prefixes) {
    if (starts_with(path, prefix)) return false;
  }
  return !ends_with(path, " (deleted)");
}

address_space_t::address_space_t(boost::shared_ptr<warning_consumer_base_t> warnings,
                                 size_t max_mappings, size_t max_modules)
    : warnings_(warnings), max_mappings_(max_mappings), max_modules_(max_modules) {}

bool address_space_t::intern(const std::string& path, module_id_t* id) {
  auto found = module_ids_.find(path);
  if (found != module_ids_.end()) {
    *id = found->second;
    return true;
  }
  if (modules_.size() >= max_modules_) return false;
  module_t module;
  module.path = path;
  module.openable = is_openable_module_path(path);
  *id = static_cast<module_id_t>(modules_.size());
  modules_.push_back(module);
  module_ids_.emplace(path, *id);
  return true;
}

void address_space_t::map(uint64_t start, uint64_t size, uint64_t file_offset,
                          const std::string& path) {
  if (size == 0) return;
  uint64_t end = range_end(start, size);
  changed();
  bool room = clear_range(start, end);
  module_id_t id;
  if (!intern(path, &id)) {
    warn_limit(std::to_string(max_modules_) + " distinct module names");
    return;
  }
  if (!room || mappings_.size() >= max_mappings_) {
    warn_limit(std::to_string(max_mappings_) + " mappings");
    return;
  }
  mapping_t m;
  m.start = start;
  m.end = end;
  m.file_offset = file_offset;
  m.module = id;
  mappings_.emplace(start, m);
}

void address_space_t::unmap(uint64_t start, uint64_t size) {
  if (size == 0) return;
  changed();
  if (!clear_range(start, range_end(start, size))) {
    warn_limit(std::to_string(max_mappings_) + " mappings");
  }
}

bool address_space_t::observe(const qnt_event_t& event) {
  switch (event.get_kind()) {
    case kind_mmap: {
      const qnt_event_mmap_t& e = static_cast<const qnt_event_mmap_t&>(event);
      map(e.address, e.size, e.offset, e.filename);
      return true;
    }
    case kind_munmap: {
      const qnt_event_munmap_t& e = static_cast<const qnt_event_munmap_t&>(event);
      unmap(e.address, e.size);
      return true;
    }
    default:
      return false;
  }
}

bool address_space_t::clear_range(uint64_t start, uint64_t end) {
  mapping_map_t::iterator it = mappings_.lower_bound(start);
  // A mapping that starts below the range and reaches into it keeps its
  // lower part, and its upper part too when it reaches past the range.
  if (it != mappings_.begin()) {
    mapping_map_t::iterator before = std::prev(it);
    mapping_t& m = before->second;
    if (m.end > start) {
      if (m.end > end) {
        mapping_t upper = m;
        upper.start = end;
        upper.file_offset = mapping_file_offset(m, end);
        m.end = start;
        if (mappings_.size() >= max_mappings_) return false;
        mappings_.emplace_hint(it, end, upper);
        return true;
      }
      m.end = start;
    }
  }
  // Mappings that start inside the range: gone, or the part above it kept.
  while (it != mappings_.end() && it->first < end) {
    if (it->second.end <= end) {
      it = mappings_.erase(it);
      continue;
    }
    mapping_t upper = it->second;
    upper.file_offset = mapping_file_offset(upper, end);
    upper.start = end;
    it = mappings_.erase(it);
    mappings_.emplace_hint(it, end, upper);
    break;
  }
  return true;
}

void address_space_t::warn_limit(const std::string& what) {
  if (limit_warned_ || !warnings_) return;
  limit_warned_ = true;
  warnings_->warning("The recording maps more than " + what +
                     "; addresses in the mappings past that are shown as outside every "
                     "mapping.");
}

const mapping_t* address_space_t::find(uint64_t address) const {
  if (last_ != nullptr && address >= last_->start && address < last_->end) return last_;
  mapping_map_t::const_iterator it = mappings_.upper_bound(address);
  if (it == mappings_.begin()) return nullptr;
  --it;
  if (address >= it->second.end) return nullptr;
  last_ = &it->second;
  return last_;
}

std::vector<mapping_t> address_space_t::mappings() const {
  std::vector<mapping_t> all;
  all.reserve(mappings_.size());
  for (const auto& entry : mappings_) all.push_back(entry.second);
  return all;
}

}}  // namespace velkor::library
