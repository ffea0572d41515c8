#include "distinct_times.h"

#include <algorithm>
#include <iterator>

namespace velkor { namespace sample_stats {

namespace {

const uint32_t first_chunk_bytes = 64 * 1024;
const uint32_t largest_chunk_bytes = 1024 * 1024;
// A difference takes at most ten bytes: seven bits each.
const size_t max_varint_bytes = 10;

inline uint8_t* put_varint(uint8_t* p, uint64_t v) {
  while (v >= 0x80) {
    *p++ = static_cast<uint8_t>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<uint8_t>(v);
  return p;
}

inline const uint8_t* get_varint(const uint8_t* p, uint64_t* v) {
  uint64_t value = 0;
  int shift = 0;
  for (;;) {
    uint8_t byte = *p++;
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if (byte < 0x80) break;
    shift += 7;
  }
  *v = value;
  return p;
}

// The sorted distinct union of a and b, replacing out.
void merge_distinct(const uint64_t* a, size_t na, const uint64_t* b, size_t nb,
                    std::vector<uint64_t>* out) {
  out->clear();
  out->reserve(na + nb);
  std::set_union(a, a + na, b, b + nb, std::back_inserter(*out));
}

}  // namespace

distinct_times_t::distinct_times_t() = default;
distinct_times_t::~distinct_times_t() = default;
distinct_times_t::distinct_times_t(distinct_times_t&& other) noexcept = default;
distinct_times_t& distinct_times_t::operator=(distinct_times_t&& other) noexcept = default;

size_t distinct_times_t::size() const {
  flush_batch();
  // The side runs may share times: merge them into one.
  while (side_.size() > 1) {
    std::vector<uint64_t> merged;
    std::vector<uint64_t>& a = side_[side_.size() - 2];
    std::vector<uint64_t>& b = side_.back();
    merge_distinct(a.data(), a.size(), b.data(), b.size(), &merged);
    side_.pop_back();
    side_.back().swap(merged);
  }
  if (side_.empty() || side_[0].empty()) return stored_;
  // Side times the store holds as well count once: one walk through both.
  const std::vector<uint64_t>& side = side_[0];
  size_t shared = 0;
  size_t at = 0;
  std::vector<uint64_t> times;
  for (size_t i = 0; i < blocks_.size() && at < side.size(); ++i) {
    if (blocks_[i].last < side[at]) continue;
    times.clear();
    decode_block(i, &times);
    for (uint64_t t : times) {
      while (at < side.size() && side[at] < t) ++at;
      if (at == side.size()) break;
      if (side[at] == t) ++shared;
    }
  }
  return stored_ + side.size() - shared;
}

size_t distinct_times_t::memory_bytes() const {
  size_t bytes = batch_.capacity() * sizeof(uint64_t) + blocks_.capacity() * sizeof(block_t) +
                 scratch_.capacity() * sizeof(uint64_t);
  for (uint32_t size : chunk_sizes_) bytes += size;
  for (const std::vector<uint64_t>& run : side_) bytes += run.capacity() * sizeof(uint64_t);
  return bytes;
}

void distinct_times_t::flush_batch() const {
  if (batch_.empty()) return;
  std::vector<uint64_t>& b = batch_;
  if (!std::is_sorted(b.begin(), b.end())) std::sort(b.begin(), b.end());
  b.erase(std::unique(b.begin(), b.end()), b.end());

  if (blocks_.empty() || b.front() > blocks_.back().last) {
    append_blocks(b.data(), b.size());
    b.clear();
    return;
  }

  // Times from `low` on reach into the recent blocks or above them; those
  // before it lie below the recent blocks and go to the side set.
  const size_t tail = blocks_.size() > tail_blocks ? blocks_.size() - tail_blocks : 0;
  size_t low = 0;
  if (b.front() < blocks_[tail].first) {
    low = static_cast<size_t>(std::lower_bound(b.begin(), b.end(), blocks_[tail].first) - b.begin());
    add_to_side(std::vector<uint64_t>(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(low)));
  }
  if (low < b.size()) {
    // The last block whose first time is not above b[low], and every block
    // after it, are decoded, merged with the rest of the batch and written
    // again.
    auto from = std::upper_bound(blocks_.begin() + static_cast<std::ptrdiff_t>(tail),
                                 blocks_.end(), b[low],
                                 [](uint64_t t, const block_t& block) { return t < block.first; });
    size_t j = static_cast<size_t>(from - blocks_.begin());
    if (j > tail) --j;
    scratch_.clear();
    for (size_t k = j; k < blocks_.size(); ++k) decode_block(k, &scratch_);
    std::vector<uint64_t> merged;
    merge_distinct(scratch_.data(), scratch_.size(), b.data() + low, b.size() - low, &merged);
    truncate_blocks(j);
    append_blocks(merged.data(), merged.size());
  }
  b.clear();
}

void distinct_times_t::append_blocks(const uint64_t* times, size_t n) const {
  for (size_t at = 0; at < n;) {
    const size_t count = std::min(block_times, n - at);
    const size_t most_bytes = (count - 1) * max_varint_bytes;
    if (chunks_.empty() || chunk_sizes_.back() - chunk_used_ < most_bytes) {
      uint32_t bytes = chunks_.empty()
                           ? first_chunk_bytes
                           : std::min(largest_chunk_bytes, 2 * chunk_sizes_.back());
      chunks_.emplace_back(new uint8_t[bytes]);
      chunk_sizes_.push_back(bytes);
      chunk_used_ = 0;
    }
    block_t block;
    block.first = times[at];
    block.last = times[at + count - 1];
    block.chunk = static_cast<uint32_t>(chunks_.size() - 1);
    block.offset = chunk_used_;
    block.count = static_cast<uint32_t>(count);
    uint8_t* const start = chunks_.back().get() + chunk_used_;
    uint8_t* p = start;
    for (size_t i = at + 1; i < at + count; ++i) p = put_varint(p, times[i] - times[i - 1]);
    chunk_used_ += static_cast<uint32_t>(p - start);
    blocks_.push_back(block);
    stored_ += count;
    at += count;
  }
}

void distinct_times_t::decode_block(size_t i, std::vector<uint64_t>* out) const {
  const block_t& block = blocks_[i];
  const uint8_t* p = chunks_[block.chunk].get() + block.offset;
  uint64_t t = block.first;
  out->push_back(t);
  for (uint32_t k = 1; k < block.count; ++k) {
    uint64_t difference;
    p = get_varint(p, &difference);
    t += difference;
    out->push_back(t);
  }
}

void distinct_times_t::truncate_blocks(size_t i) const {
  if (i >= blocks_.size()) return;
  const block_t& first_dropped = blocks_[i];
  chunks_.resize(first_dropped.chunk + 1);
  chunk_sizes_.resize(first_dropped.chunk + 1);
  chunk_used_ = first_dropped.offset;
  for (size_t k = i; k < blocks_.size(); ++k) stored_ -= blocks_[k].count;
  blocks_.resize(i);
}

void distinct_times_t::add_to_side(std::vector<uint64_t> run) const {
  for (size_t level = 0;; ++level) {
    if (level == side_.size()) {
      side_.push_back(std::move(run));
      return;
    }
    if (side_[level].empty()) {
      side_[level] = std::move(run);
      return;
    }
    std::vector<uint64_t> merged;
    merge_distinct(side_[level].data(), side_[level].size(), run.data(), run.size(), &merged);
    std::vector<uint64_t>().swap(side_[level]);
    run.swap(merged);
  }
}

}}  // namespace velkor::sample_stats
