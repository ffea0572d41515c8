// Addresses of a recording as modules, functions and lines: follows the
// recording's mmap and munmap events in an address space and asks the
// symbolizer about the module and file offset that hold an address at that
// point of the stream. What sample_dump --symbols and sample_stats --symbols
// use; symbol_render.h turns its answers into text and JSON.
#ifndef LIBRARY_SYMBOLS_SYMBOL_RESOLVER_H_
#define LIBRARY_SYMBOLS_SYMBOL_RESOLVER_H_

#include <cstdint>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "events/qnt_events.h"
#include "support/warning_consumer.h"
#include "symbols/address_space.h"
#include "symbols/symbolizer.h"

namespace velkor { namespace library {

// How an address is used, which decides what it is resolved to.
enum address_role_t {
  role_code,    // an instruction: function, line, inlined calls
  role_return,  // a return address: resolved at the call before it (the
                // address less one), offsets given for the address itself
  role_data,    // a data address: the global object holding it
};

// The answer for one address.
struct resolution_t {
  address_role_t role = role_code;
  bool mapped = false;            // false: outside every mapping
  module_id_t module = 0;         // of the address space, when mapped
  const module_t* module_info = nullptr;  // when mapped
  uint64_t offset = 0;            // in the module's file, when mapped
  // The function or object, line and inlined calls; null when none is
  // known (the module is special, cannot be read, or has nothing there).
  const symbol_info_t* symbol = nullptr;
  uint64_t symbol_offset = 0;     // bytes from the start of symbol->name
};

// Owns the address space and the symbolizer. Answers point into both and
// stay valid until the next call of observe() or resolve().
class symbol_resolver_t {
 public:
  // warnings (may be null) receive the symbolizer's warnings about modules
  // and debug files, and the address space's about its limits.
  symbol_resolver_t(const symbolizer_options_t& options,
                    boost::shared_ptr<warning_consumer_base_t> warnings);

  // Every event of the stream, in order: mmap and munmap change the
  // mappings; true for them.
  bool observe(const qnt_event_t& event) { return space_.observe(event); }

  // The answer for an address against the mappings in force now.
  resolution_t resolve(uint64_t address, address_role_t role);
  // The answer for an offset in a module found earlier (a caller that
  // keeps (module, offset) per address and names them later).
  resolution_t resolve_offset(module_id_t module, uint64_t offset, address_role_t role);

  // True when the module (of the address space) names a file whose symbols
  // can be read; opens it on the first call.
  bool has_symbols(module_id_t module);

  address_space_t& space() { return space_; }
  const address_space_t& space() const { return space_; }
  symbolizer_t& symbolizer() { return symbolizer_; }

 private:
  address_space_t space_;
  symbolizer_t symbolizer_;
  // The symbolizer's handle of a module; false for one never to be opened.
  bool handle(module_id_t module, symbolizer_t::module_handle_t* handle);

  // Symbolizer handles by module id; none_yet where not asked for yet.
  static constexpr symbolizer_t::module_handle_t none_yet = UINT32_MAX;
  std::vector<symbolizer_t::module_handle_t> handles_;
};

}}  // namespace velkor::library
#endif
