#include "analysis/reuse_histogram.h"

#include <algorithm>
#include <cmath>

namespace velkor { namespace library {

namespace {

// Values below 32 are their own bucket; 32 and above are cut by their top
// five bits: the power of two and four bits below it.
const unsigned exact_below = 32;

int top_bit(uint64_t v) { return 63 - __builtin_clzll(v); }

}  // namespace

unsigned reuse_bucket(uint64_t value) {
  if (value < exact_below) return static_cast<unsigned>(value);
  const int e = top_bit(value);  // 5 to 63
  const unsigned sub = static_cast<unsigned>((value >> (e - 4)) & 15);
  return exact_below + static_cast<unsigned>(e - 5) * 16 + sub;
}

uint64_t reuse_bucket_low(unsigned bucket) {
  if (bucket < exact_below) return bucket;
  const unsigned e = (bucket - exact_below) / 16 + 5;
  const uint64_t sub = (bucket - exact_below) % 16;
  return (16 + sub) << (e - 4);
}

uint64_t reuse_bucket_high(unsigned bucket) {
  if (bucket + 1 >= reuse_bucket_count) return UINT64_MAX;
  return reuse_bucket_low(bucket + 1) - 1;
}

void reuse_histogram_t::add_to_bucket(unsigned bucket, uint64_t n) {
  if (n == 0) return;
  count_ += n;
  if (dense()) {
    counts_[bucket] += n;
    return;
  }
  const auto at = std::lower_bound(buckets_.begin(), buckets_.end(), bucket);
  const size_t i = static_cast<size_t>(at - buckets_.begin());
  if (at != buckets_.end() && *at == bucket) {
    counts_[i] += n;
  } else {
    buckets_.insert(at, static_cast<uint16_t>(bucket));
    counts_.insert(counts_.begin() + static_cast<std::ptrdiff_t>(i), n);
  }
  if (count_ >= dense_from) {
    std::vector<uint64_t> all(reuse_bucket_count, 0);
    for (size_t k = 0; k < buckets_.size(); ++k) all[buckets_[k]] = counts_[k];
    counts_.swap(all);
    std::vector<uint16_t>().swap(buckets_);
  }
}

void reuse_histogram_t::merge(const reuse_histogram_t& other) {
  other.for_each_bucket([this](unsigned bucket, uint64_t n) { add_to_bucket(bucket, n); });
}

uint64_t reuse_histogram_t::quantile(double q) const {
  if (count_ == 0) return 0;
  double wanted = std::ceil(q * static_cast<double>(count_));
  uint64_t rank = wanted < 1 ? 1 : static_cast<uint64_t>(wanted);
  if (rank > count_) rank = count_;
  uint64_t seen = 0;
  unsigned found = reuse_bucket_count;
  for_each_bucket([&](unsigned bucket, uint64_t n) {
    seen += n;
    if (seen >= rank && found == reuse_bucket_count) found = bucket;
  });
  return reuse_bucket_low(found);
}

std::vector<reuse_range_t> reuse_histogram_t::powers_of_two() const {
  std::vector<reuse_range_t> out;
  for_each_bucket([&out](unsigned bucket, uint64_t n) {
    const uint64_t low = reuse_bucket_low(bucket);
    const uint64_t from = low == 0 ? 0 : uint64_t(1) << top_bit(low);
    const uint64_t to = from == 0 ? 0 : (from == (uint64_t(1) << 63) ? UINT64_MAX : 2 * from - 1);
    if (!out.empty() && out.back().from == from) {
      out.back().samples += n;
    } else {
      out.push_back(reuse_range_t{from, to, n});
    }
  });
  return out;
}

}}  // namespace velkor::library
