// A compact set of 64-bit sample times that answers one question: how many
// distinct times were inserted. sample_stats keeps two per line size, and a
// long recording holds tens of millions of times, so they take 8 bytes a time
// instead of a tree node each, and storage grows without copying.
#ifndef TOOLS_SAMPLE_STATS_DISTINCT_TIMES_H_
#define TOOLS_SAMPLE_STATS_DISTINCT_TIMES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velkor { namespace sample_stats {

// Times arrive mostly in ascending order. A time above every time seen so far
// is appended to an ascending run kept in chunks (no copying as it grows;
// chunks grow from 64 KiB to 1 MiB and are mapped with their pages already
// present, which spares one page fault per 4 KiB). Any other time is looked up in the run by binary search and, when
// new, kept in a side set: a sorted vector with a small buffer that is sorted
// and merged into it when it has grown to a fraction of it. Every insertion
// costs logarithmic amortized time.
class distinct_times_t {
 public:
  distinct_times_t() = default;
  ~distinct_times_t();
  distinct_times_t(distinct_times_t&& other) noexcept;
  distinct_times_t& operator=(distinct_times_t&& other) noexcept;

  void insert(uint64_t t) {
    if (run_size_ == 0 || t > run_last_) {
      append_to_run(t);
    } else if (t != run_last_) {
      insert_below_run_end(t);
    }
  }

  // The number of distinct times inserted so far.
  size_t size() const;
  bool empty() const { return run_size_ == 0; }

 private:
  struct chunk_t {
    uint64_t* times;
    size_t capacity;
    size_t count;
  };

  distinct_times_t(const distinct_times_t&) = delete;
  distinct_times_t& operator=(const distinct_times_t&) = delete;

  void append_to_run(uint64_t t);
  void add_chunk();
  void release();
  void insert_below_run_end(uint64_t t);
  bool in_run(uint64_t t) const;
  // Moves the buffered side times into the sorted side set.
  void merge_side() const;

  // The ascending run, chunk after chunk.
  std::vector<chunk_t> chunks_;
  size_t run_size_ = 0;
  uint64_t run_last_ = 0;
  // Times below the run's end that the run lacks: sorted and free of
  // duplicates, plus a buffer. merge_side() changes neither the set of times
  // nor the answer of size(), so it may run on a const object.
  mutable std::vector<uint64_t> side_;
  mutable std::vector<uint64_t> side_pending_;
};

}}  // namespace velkor::sample_stats
#endif
