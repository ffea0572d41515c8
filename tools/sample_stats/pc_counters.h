// Samples per program counter, kept in count order at every step, so that the
// report reads the largest counts from the end without sorting. Every sample
// adds to one or two of them, so an increment costs constant time whatever
// the counts are. Used by the statistics flow of sample_stats.
#ifndef TOOLS_SAMPLE_STATS_PC_COUNTERS_H_
#define TOOLS_SAMPLE_STATS_PC_COUNTERS_H_

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include <absl/container/flat_hash_map.h>

#include "events/qnt_types.h"
#include "support/seeded_hash.h"

namespace velkor { namespace sample_stats {

struct pc_count_t {
  library::qnt_address_t pc;
  uint64_t count;
  // Where the pc was when it was first counted, for the names of the report
  // (an index the caller keeps); no_location when not asked for. Mutable:
  // the caller fills it in through the entry increment returns.
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
// The entries lie in one array and form a list in that order through indices,
// found by pc through a seeded hash table, and the list is cut into runs of
// equal count whose first and last entries are known: growing by one moves an
// entry at most to the end of the next run, in constant time.
class pc_counters_t {
  static constexpr uint32_t none = UINT32_MAX;

  struct node_t {
    pc_count_t value;
    uint32_t prev, next;  // neighbours in count order
    uint32_t run;         // the run of equal counts it belongs to
  };

 public:
  // The entries in count order, walked either way (rbegin() for the largest
  // counts first).
  class order_t {
   public:
    class iterator {
     public:
      typedef std::bidirectional_iterator_tag iterator_category;
      typedef pc_count_t value_type;
      typedef std::ptrdiff_t difference_type;
      typedef const pc_count_t* pointer;
      typedef const pc_count_t& reference;

      iterator() = default;
      reference operator*() const { return (*nodes_)[at_].value; }
      pointer operator->() const { return &(*nodes_)[at_].value; }
      iterator& operator++() {
        at_ = (*nodes_)[at_].next;
        return *this;
      }
      iterator& operator--() {
        at_ = at_ == none ? *last_ : (*nodes_)[at_].prev;
        return *this;
      }
      iterator operator++(int) {
        iterator was = *this;
        ++*this;
        return was;
      }
      iterator operator--(int) {
        iterator was = *this;
        --*this;
        return was;
      }
      bool operator==(const iterator& other) const { return at_ == other.at_; }
      bool operator!=(const iterator& other) const { return at_ != other.at_; }

     private:
      friend class order_t;
      iterator(const std::vector<node_t>* nodes, const uint32_t* last, uint32_t at)
          : nodes_(nodes), last_(last), at_(at) {}
      const std::vector<node_t>* nodes_ = nullptr;
      const uint32_t* last_ = nullptr;  // the list's last entry, for --end()
      uint32_t at_ = none;
    };
    typedef std::reverse_iterator<iterator> reverse_iterator;

    iterator begin() const { return iterator(&owner_->nodes_, &owner_->last_, owner_->first_); }
    iterator end() const { return iterator(&owner_->nodes_, &owner_->last_, none); }
    reverse_iterator rbegin() const { return reverse_iterator(end()); }
    reverse_iterator rend() const { return reverse_iterator(begin()); }

   private:
    friend class pc_counters_t;
    explicit order_t(const pc_counters_t* owner) : owner_(owner) {}
    const pc_counters_t* owner_;
  };
  typedef order_t count_order_t;

  pc_counters_t() = default;
  // The order refers to its owner: no copies.
  pc_counters_t(const pc_counters_t&) = delete;
  pc_counters_t& operator=(const pc_counters_t&) = delete;

  // Adds one to the count of pc, inserting (pc, 1) when it is new; returns
  // its entry, and whether it is new. The entry stays valid until the next
  // increment of a new pc.
  const pc_count_t& increment(library::qnt_address_t pc, bool* inserted);

  // The entry of pc, or null.
  const pc_count_t* find(library::qnt_address_t pc) const {
    auto found = by_pc_.find(pc.value);
    return found == by_pc_.end() ? nullptr : &nodes_[found->second].value;
  }

  // The entries in ascending order of count, as described above.
  order_t by_count_order() const { return order_t(this); }
  size_t size() const { return nodes_.size(); }
  bool empty() const { return nodes_.empty(); }

 private:
  // A run of entries of one count, and its neighbours in ascending order.
  struct run_t {
    uint64_t count;
    uint32_t first, last;
    uint32_t prev, next;
  };

  // A new run of `count` holding the entry alone, linked after run `after`
  // (none: at the front).
  void add_run(uint64_t count, uint32_t entry, uint32_t after);
  void remove_run(uint32_t run);
  // Takes the entry out of the list and puts it back after `after`.
  void move_after(uint32_t entry, uint32_t after);
  // Links a new entry into the list after `after` (none: at the front).
  void link_after(uint32_t entry, uint32_t after);

  std::vector<node_t> nodes_;
  absl::flat_hash_map<uint64_t, uint32_t, library::seeded_hash_t> by_pc_;
  uint32_t first_ = none, last_ = none;  // the ends of the list
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
