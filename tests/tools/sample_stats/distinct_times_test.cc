#include "distinct_times.h"

#include <cstdint>
#include <random>
#include <set>
#include <string>

#include <gtest/gtest.h>

using velkor::sample_stats::distinct_times_t;

namespace {

// Feeds the same times to the compact set and to std::set, comparing the
// counts along the way (asking for the count merges buffered times).
void expect_same_counts(const std::string& name, uint64_t (*next_time)(std::mt19937_64&, uint64_t),
                        size_t count) {
  SCOPED_TRACE(name);
  std::mt19937_64 random(42);
  distinct_times_t compact;
  std::set<uint64_t> reference;
  EXPECT_EQ(compact.size(), 0u);
  for (size_t i = 0; i < count; ++i) {
    uint64_t t = next_time(random, i);
    compact.insert(t);
    reference.insert(t);
    if (i % 9973 == 0) {
      ASSERT_EQ(compact.size(), reference.size()) << "after " << i;
    }
  }
  EXPECT_EQ(compact.size(), reference.size());
}

TEST(DistinctTimes, CountsLikeAnOrderedSet) {
  const size_t n = 100000;  // several chunks of the ascending run
  expect_same_counts("ascending", [](std::mt19937_64&, uint64_t i) { return i * 3; }, n);
  expect_same_counts("ascending with repeats",
                     [](std::mt19937_64&, uint64_t i) { return i / 3; }, n);
  expect_same_counts("descending", [](std::mt19937_64&, uint64_t i) { return 1000000 - i; }, n);
  expect_same_counts("all equal", [](std::mt19937_64&, uint64_t) { return uint64_t(7); }, n);
  expect_same_counts("mostly ascending, some late and repeated",
                     [](std::mt19937_64& r, uint64_t i) {
                       uint64_t t = i * 10;
                       switch (r() % 8) {
                         case 0: return t - r() % 5000;         // late, often already seen
                         case 1: return (t / 50) * 50;         // repeats of round times
                         default: return t;
                       }
                     },
                     n);
  expect_same_counts("random in a small range",
                     [](std::mt19937_64& r, uint64_t) { return r() % 20000; }, n);
  expect_same_counts("random over 64 bits", [](std::mt19937_64& r, uint64_t) { return r(); }, n);
  expect_same_counts("ends trailing their begins by up to 10^5",
                     [](std::mt19937_64& r, uint64_t i) { return i * 50000 + r() % 100000; }, n);
  expect_same_counts("a sawtooth: ascending runs that restart lower",
                     [](std::mt19937_64&, uint64_t i) { return (i % 20000) * 7 + i / 20000; }, n);
  expect_same_counts("interleaved: a late stream far behind an early one",
                     [](std::mt19937_64& r, uint64_t i) {
                       return (i % 2) ? i * 100 : (i / 2) * 100 + r() % 1000;
                     },
                     n);
  expect_same_counts("the extremes",
                     [](std::mt19937_64& r, uint64_t i) {
                       return (i % 2) ? UINT64_MAX - r() % 3 : r() % 3;
                     },
                     n);
}

// Times of a real recording (ascending, tens of thousands of accesses
// apart, the ends a little out of order) take about three bytes each.
TEST(DistinctTimes, RecordingTimesAreStoredCompactly) {
  std::mt19937_64 random(3);
  distinct_times_t begins, ends;
  const size_t n = 1000000;
  uint64_t t = 0;
  for (size_t i = 0; i < n; ++i) {
    t += 1 + random() % 100000;
    begins.insert(t);
    ends.insert(t + 1 + random() % 100000);
  }
  EXPECT_EQ(begins.size(), n);
  EXPECT_GT(ends.size(), n - n / 100);
  EXPECT_LT(begins.memory_bytes(), 4 * n);
  EXPECT_LT(ends.memory_bytes(), 4 * n);
}

}  // namespace
