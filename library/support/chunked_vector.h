// A vector that grows block by block: elements never move, so growing copies
// nothing and never holds the old and the new storage at once, which keeps
// the peak memory of a large table close to its size. Indexing costs one load
// more than std::vector. Used by the cache-line analysis, whose tables grow
// with the distinct lines of a recording.
#ifndef LIBRARY_SUPPORT_CHUNKED_VECTOR_H_
#define LIBRARY_SUPPORT_CHUNKED_VECTOR_H_

#include <cstddef>
#include <vector>

namespace velkor { namespace library {

// Blocks of 2^block_bits elements; copies like a vector of its elements.
template <class T, unsigned block_bits = 12>
class chunked_vector_t {
 public:
  static const size_t block_size = size_t(1) << block_bits;

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  T& operator[](size_t i) { return blocks_[i >> block_bits][i & (block_size - 1)]; }
  const T& operator[](size_t i) const { return blocks_[i >> block_bits][i & (block_size - 1)]; }
  T& back() { return (*this)[size_ - 1]; }
  const T& back() const { return (*this)[size_ - 1]; }

  void push_back(const T& value) { emplace_back() = value; }
  // A default-constructed element at the end.
  T& emplace_back() {
    if ((size_ & (block_size - 1)) == 0) {
      blocks_.emplace_back();
      blocks_.back().reserve(block_size);
    }
    blocks_.back().emplace_back();
    ++size_;
    return blocks_.back().back();
  }
  void clear() {
    blocks_.clear();
    size_ = 0;
  }

 private:
  // Every block but the last holds block_size elements.
  std::vector<std::vector<T> > blocks_;
  size_t size_ = 0;
};

}}  // namespace velkor::library
#endif
