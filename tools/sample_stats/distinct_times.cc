#include "distinct_times.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

namespace velkor { namespace sample_stats {

namespace {

const size_t first_chunk_bytes = 64 * 1024;
const size_t largest_chunk_bytes = 1024 * 1024;

uint64_t* map_chunk(size_t bytes) {
  void* p = mmap(NULL, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE,
                 -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return static_cast<uint64_t*>(p);
}

}  // namespace

distinct_times_t::~distinct_times_t() { release(); }

distinct_times_t::distinct_times_t(distinct_times_t&& other) noexcept
    : chunks_(std::move(other.chunks_)),
      run_size_(other.run_size_),
      run_last_(other.run_last_),
      side_(std::move(other.side_)),
      side_pending_(std::move(other.side_pending_)) {
  other.chunks_.clear();
  other.run_size_ = 0;
}

distinct_times_t& distinct_times_t::operator=(distinct_times_t&& other) noexcept {
  if (this != &other) {
    release();
    chunks_ = std::move(other.chunks_);
    run_size_ = other.run_size_;
    run_last_ = other.run_last_;
    side_ = std::move(other.side_);
    side_pending_ = std::move(other.side_pending_);
    other.chunks_.clear();
    other.run_size_ = 0;
  }
  return *this;
}

void distinct_times_t::release() {
  for (const chunk_t& chunk : chunks_) munmap(chunk.times, chunk.capacity * sizeof(uint64_t));
  chunks_.clear();
}

void distinct_times_t::add_chunk() {
  size_t bytes = chunks_.empty()
                     ? first_chunk_bytes
                     : std::min(largest_chunk_bytes, 2 * chunks_.back().capacity * sizeof(uint64_t));
  chunks_.push_back(chunk_t{map_chunk(bytes), bytes / sizeof(uint64_t), 0});
}

void distinct_times_t::append_to_run(uint64_t t) {
  if (chunks_.empty() || chunks_.back().count == chunks_.back().capacity) add_chunk();
  chunk_t& chunk = chunks_.back();
  chunk.times[chunk.count++] = t;
  ++run_size_;
  run_last_ = t;
}

bool distinct_times_t::in_run(uint64_t t) const {
  // The last chunk whose first time is not above t, then t within it.
  size_t low = 0, high = chunks_.size();
  while (high - low > 1) {
    size_t middle = (low + high) / 2;
    if (chunks_[middle].times[0] <= t) {
      low = middle;
    } else {
      high = middle;
    }
  }
  const chunk_t& chunk = chunks_[low];
  return std::binary_search(chunk.times, chunk.times + chunk.count, t);
}

void distinct_times_t::insert_below_run_end(uint64_t t) {
  if (in_run(t)) return;
  side_pending_.push_back(t);
  if (side_pending_.size() >= side_.size() / 8 + 256) merge_side();
}

size_t distinct_times_t::size() const {
  if (!side_pending_.empty()) merge_side();
  return run_size_ + side_.size();
}

void distinct_times_t::merge_side() const {
  std::sort(side_pending_.begin(), side_pending_.end());
  side_pending_.erase(std::unique(side_pending_.begin(), side_pending_.end()),
                      side_pending_.end());
  size_t middle = side_.size();
  side_.insert(side_.end(), side_pending_.begin(), side_pending_.end());
  std::inplace_merge(side_.begin(), side_.begin() + static_cast<std::ptrdiff_t>(middle),
                     side_.end());
  side_.erase(std::unique(side_.begin(), side_.end()), side_.end());
  side_pending_.clear();
}

}}  // namespace velkor::sample_stats
