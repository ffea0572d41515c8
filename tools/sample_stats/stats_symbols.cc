#include "stats_symbols.h"

#include "symbols/symbol_render.h"

namespace velkor { namespace sample_stats {

using namespace library;

stats_symbols_t::stats_symbols_t(const symbolizer_options_t& options,
                                 boost::shared_ptr<warning_consumer_base_t> warnings)
    : resolver_(options, warnings), places_{place_t{false, 0, 0}}, texts_(1) {}

uint32_t stats_symbols_t::locate(qnt_address_t pc) {
  const mapping_t* mapping = resolver_.space().find(pc);
  if (mapping == nullptr) return 0;
  const uint64_t offset = mapping_file_offset(*mapping, pc);
  auto found = index_.try_emplace(std::make_pair(uint64_t(mapping->module), offset),
                                  static_cast<uint32_t>(places_.size()));
  if (found.second) {
    places_.push_back(place_t{true, mapping->module, offset});
    texts_.emplace_back();
  }
  return found.first->second;
}

resolution_t stats_symbols_t::resolution(uint32_t location) {
  const place_t& place = places_[location];
  if (!place.mapped) return resolution_t();
  return resolver_.resolve_offset(place.module, place.offset, role_code);
}

const std::string& stats_symbols_t::text(uint32_t location) {
  std::string& text = texts_[location];
  if (text.empty()) text = resolution_text(resolution(location));
  return text;
}

}}  // namespace velkor::sample_stats
