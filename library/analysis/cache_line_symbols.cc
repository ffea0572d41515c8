#include "analysis/cache_line_symbols.h"

#include <map>
#include <tuple>

namespace velkor { namespace library {

void resolve_cache_line_symbols(symbol_resolver_t* resolver, cache_line_report_t* report) {
  if (!report->has_locations) return;
  // Resolutions already kept, by what they resolve.
  typedef std::tuple<bool, module_id_t, uint64_t, int> key_t;
  std::map<key_t, uint32_t> kept;
  auto resolved = [&](const mapped_location_t& location, address_role_t role) {
    const key_t key(location.mapped, location.mapped ? location.module : 0,
                    location.mapped ? location.offset : 0, role);
    auto found = kept.find(key);
    if (found != kept.end()) return found->second;
    report_symbol_t symbol;
    symbol.role = role;
    symbol.mapped = location.mapped;
    if (location.mapped) {
      const resolution_t r = resolver->resolve_offset(location.module, location.offset, role);
      symbol.module_id = r.module;
      symbol.module = *r.module_info;
      symbol.offset = r.offset;
      if (r.symbol != nullptr) {
        symbol.has_symbol = true;
        symbol.symbol = *r.symbol;
        symbol.symbol_offset = r.symbol_offset;
      }
    }
    const uint32_t index = static_cast<uint32_t>(report->symbols.size());
    report->symbols.push_back(symbol);
    kept.emplace(key, index);
    return index;
  };
  for (report_line_t& line : report->lines) {
    line.symbol = resolved(line.location, role_data);
    for (report_thread_t& thread : line.threads) {
      for (report_range_t& range : thread.ranges) {
        for (report_pc_t& pc : range.pcs) pc.symbol = resolved(pc.location, role_code);
      }
    }
  }
}

}}  // namespace velkor::library
