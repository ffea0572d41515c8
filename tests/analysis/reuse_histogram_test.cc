// The reuse-time histogram: its buckets at their edges, quantiles against the
// values they come from, and the view by powers of two.
#include "analysis/reuse_histogram.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

using namespace velkor::library;

namespace {

TEST(ReuseHistogram, BucketsHoldTheirValues) {
  const uint64_t values[] = {0, 1, 31, 32, 33, 34, 63, 64, 67, 68, 1000, 1u << 20,
                             (1ull << 40) + 12345, UINT64_MAX - 1, UINT64_MAX};
  for (uint64_t v : values) {
    SCOPED_TRACE(v);
    const unsigned b = reuse_bucket(v);
    ASSERT_LT(b, reuse_bucket_count);
    EXPECT_LE(reuse_bucket_low(b), v);
    EXPECT_GE(reuse_bucket_high(b), v);
    // Exact below 32, at most a sixteenth wide above.
    if (v < 32) {
      EXPECT_EQ(reuse_bucket_low(b), v);
    }
    EXPECT_LE(reuse_bucket_high(b) - reuse_bucket_low(b), v / 16);
  }
  // The buckets tile the values without gaps.
  for (unsigned b = 0; b + 1 < reuse_bucket_count; ++b) {
    ASSERT_EQ(reuse_bucket_high(b) + 1, reuse_bucket_low(b + 1)) << b;
  }
  EXPECT_EQ(reuse_bucket(UINT64_MAX), reuse_bucket_count - 1);
  EXPECT_EQ(reuse_bucket_high(reuse_bucket_count - 1), UINT64_MAX);
}

TEST(ReuseHistogram, QuantilesOfKnownValues) {
  reuse_histogram_t h;
  EXPECT_EQ(h.quantile(0.5), 0u);
  for (uint64_t v : {5, 1, 9, 3, 7}) h.add(v);  // sorted: 1 3 5 7 9
  EXPECT_EQ(h.count(), 5u);
  EXPECT_EQ(h.quantile(0.5), 5u);  // rank 3
  EXPECT_EQ(h.quantile(0.9), 9u);  // rank 5
  h.add(11);                       // six values: the lower median
  EXPECT_EQ(h.quantile(0.5), 5u);

  // Large values: the lower end of the bucket, within a sixteenth.
  std::mt19937_64 random(1);
  std::vector<uint64_t> values;
  reuse_histogram_t big;
  for (int i = 0; i < 10001; ++i) {
    values.push_back(random() >> (random() % 60));
    big.add(values.back());
  }
  std::sort(values.begin(), values.end());
  for (double q : {0.5, 0.9, 0.99, 1.0}) {
    SCOPED_TRACE(q);
    uint64_t exact = values[static_cast<size_t>(std::ceil(q * values.size())) - 1];
    uint64_t got = big.quantile(q);
    EXPECT_EQ(got, reuse_bucket_low(reuse_bucket(exact)));
  }
}

TEST(ReuseHistogram, PowersOfTwoAndMerge) {
  reuse_histogram_t a, b;
  for (uint64_t v : {0, 1, 2, 3, 4, 40, 47}) a.add(v);
  b.add(UINT64_MAX);
  b.add(33);
  a.merge(b);
  const std::vector<reuse_range_t> ranges = a.powers_of_two();
  ASSERT_EQ(ranges.size(), 6u);
  const reuse_range_t expected[] = {{0, 0, 1},  {1, 1, 1},   {2, 3, 2},
                                    {4, 7, 1},  {32, 63, 3}, {1ull << 63, UINT64_MAX, 1}};
  for (size_t i = 0; i < ranges.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ranges[i].from, expected[i].from);
    EXPECT_EQ(ranges[i].to, expected[i].to);
    EXPECT_EQ(ranges[i].samples, expected[i].samples);
  }
  EXPECT_EQ(a.count(), 9u);
}

// A histogram keeps its buckets in a short list while few samples came and a
// counter for every bucket later: on either side of the change, and merged
// either way, it answers as a sort of the values does.
TEST(ReuseHistogram, SameAnswersAcrossTheDenseForm) {
  std::mt19937_64 random(3);
  for (size_t n : {4095, 4096, 4097, 20000}) {
    SCOPED_TRACE(n);
    std::vector<uint64_t> values;
    reuse_histogram_t whole, small, large;
    for (size_t i = 0; i < n; ++i) {
      values.push_back(random() >> (random() % 64));
      whole.add(values.back());
      (i % 5 == 0 ? small : large).add(values.back());
    }
    reuse_histogram_t merged_into_small = small, merged_into_large = large;
    merged_into_small.merge(large);
    merged_into_large.merge(small);
    std::sort(values.begin(), values.end());
    std::vector<reuse_range_t> expected;
    for (uint64_t v : values) {
      const uint64_t from = v == 0 ? 0 : uint64_t(1) << (63 - __builtin_clzll(v));
      if (expected.empty() || expected.back().from != from) {
        expected.push_back({from, 0, 0});
      }
      ++expected.back().samples;
    }
    for (const reuse_histogram_t* h : {&whole, &merged_into_small, &merged_into_large}) {
      ASSERT_EQ(h->count(), n);
      const std::vector<reuse_range_t> ranges = h->powers_of_two();
      ASSERT_EQ(ranges.size(), expected.size());
      for (size_t i = 0; i < ranges.size(); ++i) {
        EXPECT_EQ(ranges[i].from, expected[i].from);
        EXPECT_EQ(ranges[i].samples, expected[i].samples);
      }
      for (double q : {0.5, 0.9, 1.0}) {
        uint64_t exact = values[static_cast<size_t>(std::ceil(q * values.size())) - 1];
        EXPECT_EQ(h->quantile(q), reuse_bucket_low(reuse_bucket(exact))) << q;
      }
    }
  }
}

}  // namespace
