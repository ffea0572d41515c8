// The recorded program's address space, rebuilt from its mmap and munmap
// events in stream order: which mapping holds an address at the current
// point of the stream, the module (file) mapped there and the offset in that
// file. Module paths are interned as small ids, so that a caller can keep
// (module, offset) per address cheaply. Used by the symbol resolver
// (symbol_resolver.h) of sample_dump and sample_stats.
#ifndef LIBRARY_SYMBOLS_ADDRESS_SPACE_H_
#define LIBRARY_SYMBOLS_ADDRESS_SPACE_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "events/qnt_events.h"
#include "support/warning_consumer.h"

namespace velkor { namespace library {

// ---- Modules and mappings --------------------------------------------------

typedef uint32_t module_id_t;

// A file name as the recording gives it, and whether it names a file that
// can be opened for its symbols.
struct module_t {
  std::string path;
  // False for special and anonymous names ([heap], [stack], [vdso],
  // anything in brackets, "", //anon, /dev/..., /memfd:..., deleted files
  // and names that are no absolute path): such a module is never opened.
  bool openable = false;
};

// True when a recorded file name is to be opened for symbols (see
// module_t::openable).
bool is_openable_module_path(const std::string& path);

// One mapping: the addresses [start, end) show the module's bytes from
// file_offset on. An end that would pass 2^64 is cut to 2^64 - 1.
struct mapping_t {
  uint64_t start = 0;
  uint64_t end = 0;
  uint64_t file_offset = 0;
  module_id_t module = 0;
};

// The offset in the mapped file of an address inside mapping m.
inline uint64_t mapping_file_offset(const mapping_t& m, uint64_t address) {
  return address - m.start + m.file_offset;
}

// ---- The address space -----------------------------------------------------

// Mappings never overlap: a new mapping replaces whatever part of older ones
// it covers (they keep what lies outside it, split in two where the new one
// falls inside), and an unmapping removes its range in the same way. Memory
// is bounded: at most max_mappings mappings and max_modules distinct module
// names are kept; past either limit the range of the new mapping is only
// cleared, so its addresses show as outside every mapping rather than as
// an older module, and one warning says so.
class address_space_t {
 public:
  static constexpr size_t default_max_mappings = size_t(1) << 20;
  static constexpr size_t default_max_modules = size_t(1) << 16;

  // warnings receives the one warning about the limits; it may be null.
  explicit address_space_t(boost::shared_ptr<warning_consumer_base_t> warnings =
                               boost::shared_ptr<warning_consumer_base_t>(),
                           size_t max_mappings = default_max_mappings,
                           size_t max_modules = default_max_modules);

  // ---- Following the stream ----
  // A mapping of size bytes of path from file_offset on at start; a size of
  // 0 changes nothing.
  void map(uint64_t start, uint64_t size, uint64_t file_offset, const std::string& path);
  void unmap(uint64_t start, uint64_t size);
  // Applies an mmap or munmap event; true when the event was one of them.
  // Every other kind leaves the space as it is.
  bool observe(const qnt_event_t& event);

  // ---- Queries ----
  // The mapping that holds address now, or null. The pointer stays valid
  // until the next change. The last mapping found is tried first, so that
  // runs of addresses in one module cost no search.
  const mapping_t* find(uint64_t address) const;
  const module_t& module(module_id_t id) const { return modules_[id]; }
  size_t module_count() const { return modules_.size(); }
  size_t mapping_count() const { return mappings_.size(); }
  // Every mapping, in address order.
  std::vector<mapping_t> mappings() const;
  // Counts the changes: a caller that keeps results of find() knows from it
  // when they went stale.
  uint64_t generation() const { return generation_; }

  // The id of a path, interned on first sight; false when the path is new
  // and max_modules names are already kept.
  bool intern(const std::string& path, module_id_t* id);

 private:
  typedef std::map<uint64_t, mapping_t> mapping_map_t;  // by start

  // Removes [start, end) from every mapping. False when a mapping had to be
  // split and the limit left no room for its upper part, which was dropped.
  bool clear_range(uint64_t start, uint64_t end);
  void warn_limit(const std::string& what);
  void changed() {
    ++generation_;
    last_ = nullptr;
  }

  boost::shared_ptr<warning_consumer_base_t> warnings_;
  size_t max_mappings_;
  size_t max_modules_;
  mapping_map_t mappings_;
  // A deque keeps the records in place as it grows.
  std::deque<module_t> modules_;
  std::map<std::string, module_id_t> module_ids_;
  uint64_t generation_ = 0;
  bool limit_warned_ = false;
  mutable const mapping_t* last_ = nullptr;
};

}}  // namespace velkor::library
#endif
