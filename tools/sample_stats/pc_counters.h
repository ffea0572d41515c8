// Samples per program counter, kept in count order at every step, so that the
// report reads the largest counts from the end without sorting. Every sample
// adds to one or two of them, so an increment costs constant time whatever
// the counts are. Used by the statistics flow of sample_stats.
#ifndef TOOLS_SAMPLE_STATS_PC_COUNTERS_H_
#define TOOLS_SAMPLE_STATS_PC_COUNTERS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include <boost/multi_index/hashed_index.hpp>
#include <boost/multi_index/member.hpp>
#include <boost/multi_index/sequenced_index.hpp>
#include <boost/multi_index/tag.hpp>
#include <boost/multi_index_container.hpp>

#include "events/qnt_types.h"
#include "support/seeded_hash.h"

namespace velkor { namespace sample_stats {

struct by_pc {};
struct by_count {};

struct pc_count_t {
  library::qnt_address_t pc;
  // None is a key of an index: all change in place.
  mutable uint64_t count;
  mutable uint32_t group;  // the run of equal counts it belongs to
  // Where the pc was when it was first counted, for the names of the report
  // (an index the caller keeps); no_location when not asked for.
  mutable uint32_t location;
  // The reuse times of its samples (an index the caller keeps), or
  // no_location.
  mutable uint32_t reuse;
};

const uint32_t no_location = UINT32_MAX;

// The counters in ascending order of count. Among equal counts the order is
// that of placement: an entry inserted or re-placed goes after the entries of
// its count; an entry whose count grows stays where it is while the next
// entry's count is not smaller than its new count, else it moves after all
// entries of its new count. Read from the end, the largest count comes first
// and, among equal counts, the entry placed last.
//
// The entries form a list in that order (the by_count index), found by pc
// through a seeded hash (the by_pc index), and the list is cut into runs of
// equal count whose first and last entries are known: growing by one moves an
// entry at most to the end of the next run, in constant time.
class pc_counters_t {
 public:
  typedef boost::multi_index_container<
      pc_count_t,
      boost::multi_index::indexed_by<
          boost::multi_index::sequenced<boost::multi_index::tag<by_count> >,
          boost::multi_index::hashed_unique<
              boost::multi_index::tag<by_pc>,
              boost::multi_index::member<pc_count_t, library::qnt_address_t, &pc_count_t::pc>,
              library::seeded_hash_t> > >
      table_t;
  typedef table_t::index<by_count>::type count_order_t;

  // Adds one to the count of pc, inserting (pc, 1) when it is new; returns
  // its entry, and whether it is new.
  const pc_count_t& increment(library::qnt_address_t pc, bool* inserted);

  // The entry of pc, or null.
  const pc_count_t* find(library::qnt_address_t pc) const {
    auto found = table_.get<by_pc>().find(pc);
    return found == table_.get<by_pc>().end() ? nullptr : &*found;
  }

  // The entries in ascending order of count, as described above.
  const count_order_t& by_count_order() const { return table_.get<by_count>(); }
  size_t size() const { return table_.size(); }
  bool empty() const { return table_.empty(); }

 private:
  typedef count_order_t::iterator entry_t;
  static constexpr uint32_t none = UINT32_MAX;

  // A run of entries of one count, and its neighbours in ascending order.
  struct run_t {
    uint64_t count;
    entry_t first, last;
    uint32_t prev, next;
  };

  // A new run of `count` holding the entry alone, linked after run `after`
  // (none: at the front).
  uint32_t add_run(uint64_t count, entry_t entry, uint32_t after);
  void remove_run(uint32_t run);

  table_t table_;
  std::vector<run_t> runs_;
  std::vector<uint32_t> free_runs_;
  uint32_t first_run_ = none;  // the run of the smallest count
};

// Adds one to the count of pc; the name the statistics flow uses.
inline void inc_pc_counter(pc_counters_t& counters, library::qnt_address_t pc) {
  bool inserted;
  counters.increment(pc, &inserted);
}

}}  // namespace velkor::sample_stats
#endif
