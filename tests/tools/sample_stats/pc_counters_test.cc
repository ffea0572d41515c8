// The program-counter counters against the two-index container they replace
// (ordered by pc, and by count with re-placement on growth): the same order
// of every entry after every step of long random and adversarial increment
// sequences.
#include "pc_counters.h"

#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <boost/multi_index/member.hpp>
#include <boost/multi_index/ordered_index.hpp>
#include <boost/multi_index_container.hpp>
#include <gtest/gtest.h>

using velkor::library::qnt_address_t;
using velkor::sample_stats::pc_counters_t;

namespace {

// ---- The reference: ordered indexes --------------------------------------------

struct reference_entry_t {
  uint64_t pc;
  mutable uint64_t count;
};

typedef boost::multi_index_container<
    reference_entry_t,
    boost::multi_index::indexed_by<
        boost::multi_index::ordered_unique<
            boost::multi_index::member<reference_entry_t, uint64_t, &reference_entry_t::pc> >,
        boost::multi_index::ordered_non_unique<
            boost::multi_index::member<reference_entry_t, uint64_t, &reference_entry_t::count> > > >
    reference_t;

// An entry that grows stays in place while the next count is not smaller,
// else the container re-places it after every entry of its new count.
void reference_increment(reference_t& counters, uint64_t pc) {
  auto& pcs = counters.get<0>();
  auto it = pcs.find(pc);
  if (it == pcs.end()) {
    counters.insert(reference_entry_t{pc, 1});
    return;
  }
  auto& counts = counters.get<1>();
  auto at = counters.project<1>(it);
  auto next = std::next(at);
  if (next == counts.end() || next->count > at->count) {
    ++at->count;
  } else {
    counts.modify(at, [](reference_entry_t& e) { ++e.count; });
  }
}

// "pc=count" of every entry, from the end of the count order (the order the
// report lists them in).
std::string order_of(const reference_t& counters) {
  std::string out;
  const auto& counts = counters.get<1>();
  for (auto it = counts.rbegin(); it != counts.rend(); ++it) {
    out += std::to_string(it->pc) + "=" + std::to_string(it->count) + " ";
  }
  return out;
}

std::string order_of(const pc_counters_t& counters) {
  std::string out;
  const auto& counts = counters.by_count_order();
  for (auto it = counts.rbegin(); it != counts.rend(); ++it) {
    out += std::to_string(it->pc.value) + "=" + std::to_string(it->count) + " ";
  }
  return out;
}

// Replays the sequence into both and compares the whole order every
// `check_every` steps and at the end.
void expect_same_order(const std::vector<uint64_t>& pcs, size_t check_every) {
  reference_t reference;
  pc_counters_t counters;
  for (size_t i = 0; i < pcs.size(); ++i) {
    reference_increment(reference, pcs[i]);
    bool inserted;
    counters.increment(qnt_address_t(pcs[i]), &inserted);
    if ((i + 1) % check_every == 0 || i + 1 == pcs.size()) {
      ASSERT_EQ(order_of(counters), order_of(reference)) << "after step " << i;
    }
  }
  EXPECT_EQ(counters.size(), reference.size());
}

TEST(PcCounters, SameOrderAsOrderedIndexes) {
  std::mt19937_64 gen(7);
  auto sequence = [&gen](size_t n, auto draw) {
    std::vector<uint64_t> pcs(n);
    for (uint64_t& pc : pcs) pc = draw(gen);
    return pcs;
  };
  std::uniform_int_distribution<uint64_t> few(1, 8), flat(1, 2000);
  std::geometric_distribution<uint64_t> skewed(0.05);
  struct {
    const char* name;
    std::vector<uint64_t> pcs;
    size_t check_every;
  } cases[] = {
      {"pcs A, B, A, B", {0xa, 0xb, 0xa, 0xb}, 1},
      {"one pc", std::vector<uint64_t>(1000, 42), 1},
      {"all ties: every pc once, round after round", {}, 1},
      {"ascending pcs", {}, 97},
      {"alternating pair, then a third", {}, 1},
      {"few pcs, random", sequence(20000, [&few](std::mt19937_64& g) { return few(g); }), 1},
      {"skewed, random", sequence(100000, [&skewed](std::mt19937_64& g) { return skewed(g); }), 97},
      {"flat over 2000 pcs, a million steps",
       sequence(1000000, [&flat](std::mt19937_64& g) { return flat(g); }), 99991},
  };
  for (int round = 0; round < 50; ++round) {
    for (uint64_t pc = 1; pc <= 20; ++pc) cases[2].pcs.push_back(pc);
  }
  for (uint64_t pc = 1; pc <= 5000; ++pc) cases[3].pcs.push_back(pc);
  for (int i = 0; i < 2000; ++i) cases[4].pcs.push_back(i < 1000 ? 1 + i % 2 : 1 + i % 3);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expect_same_order(c.pcs, c.check_every);
  }
}

}  // namespace
