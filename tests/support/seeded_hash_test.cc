// The seeded hash: keys chosen against plain hashing (multiples of a table's
// prime, keys differing only in high bits) still spread over the buckets.
#include <algorithm>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include "support/seeded_hash.h"

using velkor::library::seeded_hash64;
using velkor::library::seeded_hash_t;

namespace {

// The fullest of `buckets` buckets (taken modulo, as standard tables do)
// after hashing every key.
size_t fullest_bucket(const std::vector<uint64_t>& keys, size_t buckets) {
  std::vector<size_t> load(buckets, 0);
  size_t most = 0;
  for (uint64_t key : keys) most = std::max(most, ++load[seeded_hash64(key) % buckets]);
  return most;
}

TEST(SeededHash, CraftedKeysSpreadOverBuckets) {
  const size_t n = 100000;
  const struct {
    const char* name;
    uint64_t step;
    int shift;
  } shapes[] = {
      {"multiples of a bucket prime", 196613, 0},
      {"multiples of a power of two", 1 << 20, 0},
      {"only high bits differ", 1, 40},
      {"consecutive", 1, 0},
  };
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.name);
    std::vector<uint64_t> keys;
    for (uint64_t i = 1; i <= n; ++i) keys.push_back((i * shape.step) << shape.shift);
    // About 1 per bucket on average; a uniform hash keeps the fullest far
    // below 20, a hash the keys defeat puts hundreds or all in one.
    EXPECT_LT(fullest_bucket(keys, 196613), 20u);
    EXPECT_LT(fullest_bucket(keys, 1 << 17), 20u);
  }
}

TEST(SeededHash, PairsAndFunctor) {
  std::unordered_set<uint64_t> seen;
  for (uint64_t a = 0; a < 300; ++a) {
    for (uint64_t b = 0; b < 300; ++b) seen.insert(seeded_hash64(a << 32 | b, a ^ b));
  }
  EXPECT_EQ(seen.size(), 300u * 300u);
  EXPECT_EQ(seeded_hash_t()(12345), seeded_hash64(12345));
}

}  // namespace
