// sample_stats --symbols: the names of the report's program counters. The
// statistics flow tells it every mapping and unmapping as it comes, and asks
// it where a pc is (module and file offset, or nowhere) the first time a
// counter counts that pc; the report then asks for the names of the pcs it
// lists, so that only those are looked up in their modules.
#ifndef TOOLS_SAMPLE_STATS_STATS_SYMBOLS_H_
#define TOOLS_SAMPLE_STATS_STATS_SYMBOLS_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <absl/container/flat_hash_map.h>
#include <boost/shared_ptr.hpp>

#include "events/qnt_events.h"
#include "support/seeded_hash.h"
#include "support/warning_consumer.h"
#include "symbols/symbol_resolver.h"

namespace velkor { namespace sample_stats {

class stats_symbols_t {
 public:
  // warnings receive what the symbolizer says about modules and debug files.
  stats_symbols_t(const library::symbolizer_options_t& options,
                  boost::shared_ptr<library::warning_consumer_base_t> warnings);

  // Mappings and unmappings, in stream order.
  void observe(const library::qnt_event_t& event) {
    if (!mappings_kept_elsewhere_) resolver_.observe(event);
  }

  // The resolver, for a second analysis of the same pass to name what it
  // lists (the cache lines of the HTML report). From now on that analysis
  // keeps the resolver's mappings up to date and must see every mapping and
  // unmapping before this one does; observe() leaves them alone.
  library::symbol_resolver_t* share_resolver() {
    mappings_kept_elsewhere_ = true;
    return &resolver_;
  }

  // Where pc is under the mappings in force now: an index to ask for names
  // with. Equal places share an index.
  uint32_t locate(library::qnt_address_t pc);

  // The resolution of a place ("function+0x1c (heat.c:42) [heat3d]",
  // "[unknown]", ...), kept once computed.
  const std::string& text(uint32_t location);
  // The same as a resolution, valid until the next call.
  library::resolution_t resolution(uint32_t location);

 private:
  struct place_t {
    bool mapped;
    library::module_id_t module;
    uint64_t offset;
  };
  struct place_hash_t {
    size_t operator()(const std::pair<uint64_t, uint64_t>& key) const {
      return static_cast<size_t>(library::seeded_hash64(key.first, key.second));
    }
  };

  library::symbol_resolver_t resolver_;
  bool mappings_kept_elsewhere_ = false;
  std::vector<place_t> places_;      // index 0: outside every mapping
  std::vector<std::string> texts_;   // empty until asked for
  absl::flat_hash_map<std::pair<uint64_t, uint64_t>, uint32_t, place_hash_t> index_;
};

}}  // namespace velkor::sample_stats
#endif
