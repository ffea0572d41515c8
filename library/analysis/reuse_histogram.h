// Reuse times: how many accesses after a sampled access the access that
// ended its sample came. The histogram counts any number of them in bounded
// space whatever their range, and answers medians and other quantiles to
// within a sixteenth of the value. Used by sample_stats for its line sizes
// and program counters.
#ifndef LIBRARY_ANALYSIS_REUSE_HISTOGRAM_H_
#define LIBRARY_ANALYSIS_REUSE_HISTOGRAM_H_

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace velkor { namespace library {

// ---- Buckets ---------------------------------------------------------------------

// Values below 32 have a bucket each; from there on every power of two is cut
// into 16 buckets of equal width (32-33, 34-35, ..., 64-67, ...), 976 buckets
// up to 2^64 - 1.
const unsigned reuse_bucket_count = 976;
unsigned reuse_bucket(uint64_t value);
// The smallest and the largest value of a bucket.
uint64_t reuse_bucket_low(unsigned bucket);
uint64_t reuse_bucket_high(unsigned bucket);

// One power of two of the histogram: the values from `from` to `to`, and how
// many fell there ([0, 0], [1, 1], [2, 3], [4, 7], ...).
struct reuse_range_t {
  uint64_t from;
  uint64_t to;
  uint64_t samples;
};

// ---- The histogram ----------------------------------------------------------------

// Bucket counts, kept sparse while few samples came: a recording's reuse
// times cluster, so a program counter's few buckets take a few dozen bytes.
// The buckets and their counts lie apart, so that finding a bucket reads only
// the short array of bucket numbers. From dense_from samples on every bucket
// has its counter (some 8 KB, under 2 bytes a sample), and adding is one
// step however many buckets are in use.
class reuse_histogram_t {
 public:
  void add(uint64_t value) { add_to_bucket(reuse_bucket(value), 1); }
  void add_to_bucket(unsigned bucket, uint64_t n);
  // Adds every count of other.
  void merge(const reuse_histogram_t& other);

  uint64_t count() const { return count_; }
  bool empty() const { return count_ == 0; }

  // The lower end of the bucket that holds the value of rank ceil(q * count)
  // (from 1, the smallest) for q in (0, 1]: the median for 0.5 (the lower
  // one of an even count), the 90th percentile for 0.9. Exact below 32, and
  // otherwise at most a sixteenth below the value. 0 when empty.
  uint64_t quantile(double q) const;

  // The counts by power of two, ascending, without the empty ones.
  std::vector<reuse_range_t> powers_of_two() const;

 private:
  static constexpr uint64_t dense_from = 4096;

  // Dense: counts_ holds a count for every bucket, and buckets_ is empty.
  bool dense() const { return buckets_.empty() && !counts_.empty(); }
  // Calls f(bucket, count) for each bucket with a count, ascending.
  template <class F>
  void for_each_bucket(F f) const {
    if (dense()) {
      for (unsigned b = 0; b < reuse_bucket_count; ++b) {
        if (counts_[b] != 0) f(b, counts_[b]);
      }
    } else {
      for (size_t i = 0; i < buckets_.size(); ++i) f(buckets_[i], counts_[i]);
    }
  }

  // Sparse: the buckets with a count, ascending, and their counts.
  std::vector<uint16_t> buckets_;
  std::vector<uint64_t> counts_;
  uint64_t count_ = 0;
};

}}  // namespace velkor::library
#endif
