#include "symbols/symbol_resolver.h"

namespace velkor { namespace library {

symbol_resolver_t::symbol_resolver_t(const symbolizer_options_t& options,
                                     boost::shared_ptr<warning_consumer_base_t> warnings)
    : space_(warnings), symbolizer_(options, warnings) {}

bool symbol_resolver_t::handle(module_id_t module, symbolizer_t::module_handle_t* handle) {
  const module_t& info = space_.module(module);
  if (!info.openable) return false;
  if (module >= handles_.size()) handles_.resize(module + 1, none_yet);
  if (handles_[module] == none_yet) handles_[module] = symbolizer_.add_module(info.path);
  *handle = handles_[module];
  return true;
}

bool symbol_resolver_t::has_symbols(module_id_t module) {
  symbolizer_t::module_handle_t h;
  return handle(module, &h) && symbolizer_.usable(h);
}

resolution_t symbol_resolver_t::resolve(uint64_t address, address_role_t role) {
  const mapping_t* mapping = space_.find(address);
  if (mapping == nullptr) {
    resolution_t outside;
    outside.role = role;
    return outside;
  }
  return resolve_offset(mapping->module, mapping_file_offset(*mapping, address), role);
}

resolution_t symbol_resolver_t::resolve_offset(module_id_t module, uint64_t offset,
                                               address_role_t role) {
  resolution_t r;
  r.role = role;
  r.mapped = true;
  r.module = module;
  r.module_info = &space_.module(module);
  r.offset = offset;
  symbolizer_t::module_handle_t handle;
  if (!this->handle(module, &handle)) return r;
  switch (role) {
    case role_code:
      r.symbol = symbolizer_.code(handle, offset);
      if (r.symbol != nullptr) r.symbol_offset = r.symbol->name_offset;
      break;
    case role_return:
      // The call that this address returns to ends at it; the address
      // itself may belong to the next function or line.
      r.symbol = offset > 0 ? symbolizer_.code(handle, offset - 1) : nullptr;
      if (r.symbol != nullptr) r.symbol_offset = r.symbol->name_offset + 1;
      break;
    case role_data:
      r.symbol = symbolizer_.data(handle, offset);
      if (r.symbol != nullptr) r.symbol_offset = r.symbol->name_offset;
      break;
  }
  return r;
}

}}  // namespace velkor::library
