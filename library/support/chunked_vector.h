// A vector that grows block by block: elements never move, so growing copies
// nothing and never holds the old and the new storage at once, which keeps
// the peak memory of a large table close to its size. Each block is mapped
// with all its pages at once rather than one page fault at a time. Indexing
// costs one load more than std::vector. Used by the cache-line analysis,
// whose tables grow with the distinct lines of a recording.
#ifndef LIBRARY_SUPPORT_CHUNKED_VECTOR_H_
#define LIBRARY_SUPPORT_CHUNKED_VECTOR_H_

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace velkor { namespace library {

// Zeroed memory of `bytes` bytes with its pages in place (throws
// std::bad_alloc when there is none), and its release.
void* chunk_memory_allocate(size_t bytes);
void chunk_memory_release(void* memory, size_t bytes);

// Blocks of 2^block_bits elements; copies like a vector of its elements. The
// elements are plain records: default-constructible, copyable, and without
// anything to destroy.
template <class T, unsigned block_bits = 12>
class chunked_vector_t {
  static_assert(std::is_trivially_destructible<T>::value, "plain records only");

 public:
  static const size_t block_size = size_t(1) << block_bits;

  chunked_vector_t() {}
  chunked_vector_t(const chunked_vector_t& other) {
    for (size_t i = 0; i < other.size(); ++i) push_back(other[i]);
  }
  chunked_vector_t& operator=(const chunked_vector_t& other) {
    chunked_vector_t copy(other);
    std::swap(blocks_, copy.blocks_);
    std::swap(size_, copy.size_);
    return *this;
  }
  ~chunked_vector_t() { clear(); }

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
      blocks_.reserve(blocks_.size() + 1);
      blocks_.push_back(static_cast<T*>(chunk_memory_allocate(block_bytes)));
    }
    T* element = new (&blocks_.back()[size_ & (block_size - 1)]) T();
    ++size_;
    return *element;
  }
  void clear() {
    for (T* block : blocks_) chunk_memory_release(block, block_bytes);
    blocks_.clear();
    size_ = 0;
  }

 private:
  static const size_t block_bytes = block_size * sizeof(T);

  // Every block but the last holds block_size elements.
  std::vector<T*> blocks_;
  size_t size_ = 0;
};

}}  // namespace velkor::library
#endif
