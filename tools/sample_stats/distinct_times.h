// A compact set of 64-bit sample times that answers one question: how many
// distinct times were inserted. sample_stats keeps two per line size, and a
// long recording holds tens of millions of times, so they are stored sorted
// and delta-encoded, about three bytes a time for the recordings of real
// programs, at a bounded cost per insertion whatever order the times come
// in.
#ifndef TOOLS_SAMPLE_STATS_DISTINCT_TIMES_H_
#define TOOLS_SAMPLE_STATS_DISTINCT_TIMES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace velkor { namespace sample_stats {

// Times are gathered in a batch of a few thousand, which is sorted and
// merged into the store when full. The store is a sequence of blocks of up
// to 128 distinct times in ascending order, each block holding its first
// time and the differences to the next as variable-length integers; the
// blocks do not overlap. Times mostly arrive in ascending order, or a little
// out of it (the ends of samples trail their begins): a batch then reaches
// into the last few blocks at most, which are decoded, merged and written
// again. Times far below the end of the store (a file whose times descend,
// say) go to a side set of sorted runs merged like a binary counter, eight
// bytes a time; the store and the side set are merged once, when the count
// is asked for. Every insertion costs amortized constant time plus a
// logarithmic share for the side set.
class distinct_times_t {
 public:
  distinct_times_t();
  ~distinct_times_t();
  distinct_times_t(distinct_times_t&& other) noexcept;
  distinct_times_t& operator=(distinct_times_t&& other) noexcept;

  void insert(uint64_t t) {
    batch_.push_back(t);
    if (batch_.size() == batch_size) flush_batch();
  }

  // The number of distinct times inserted so far.
  size_t size() const;
  bool empty() const { return batch_.empty() && blocks_.empty() && side_.empty(); }

  // Bytes held, for benchmarks and tests.
  size_t memory_bytes() const;

 private:
  static constexpr size_t batch_size = 4096;
  static constexpr size_t block_times = 128;
  // How many blocks at the end of the store a batch may be merged into.
  static constexpr size_t tail_blocks = 32;

  struct block_t {
    uint64_t first;
    uint64_t last;
    uint32_t chunk;   // where its differences are: chunk and offset in it
    uint32_t offset;
    uint32_t count;   // times in the block, 1 to block_times
  };

  distinct_times_t(const distinct_times_t&) = delete;
  distinct_times_t& operator=(const distinct_times_t&) = delete;

  // Sorts the batch and merges it into the store (and the side set). The
  // set of times and the answer of size() stay the same, so this may run on
  // a const object.
  void flush_batch() const;
  // Appends sorted distinct times above every stored time, as new blocks.
  void append_blocks(const uint64_t* times, size_t n) const;
  // The times of block i, appended to out.
  void decode_block(size_t i, std::vector<uint64_t>* out) const;
  // Drops blocks i and later, and their bytes.
  void truncate_blocks(size_t i) const;
  // Adds a sorted run of distinct times below the store's recent blocks.
  void add_to_side(std::vector<uint64_t> run) const;

  mutable std::vector<uint64_t> batch_;
  // The store: the blocks and the bytes of their differences, in chunks
  // that never move.
  mutable std::vector<block_t> blocks_;
  mutable std::vector<std::unique_ptr<uint8_t[]>> chunks_;
  mutable std::vector<uint32_t> chunk_sizes_;
  mutable uint32_t chunk_used_ = 0;  // bytes used in the last chunk
  mutable size_t stored_ = 0;        // times in the store
  // Times that came below the store's recent blocks: sorted runs of
  // distinct times, level i about twice as long as level i - 1; a time may be
  // in more than one run, and in the store too. The store never takes in a
  // time below its recent blocks, whose first time only grows, so a side
  // time is in the store only if it was there when it came.
  mutable std::vector<std::vector<uint64_t>> side_;
  mutable std::vector<uint64_t> scratch_;
};

}}  // namespace velkor::sample_stats
#endif
