// Hashing of keys that come from input files (program counters, sample ids,
// thread pairs, addresses). A crafted file must not be able to choose keys
// that collide: every process draws its own random seed, and the keys go
// through a keyed multiply-fold mix before a table sees them. Used by every
// hash table whose keys are read from a recording.
#ifndef LIBRARY_SUPPORT_SEEDED_HASH_H_
#define LIBRARY_SUPPORT_SEEDED_HASH_H_

#include <cstddef>
#include <cstdint>

namespace velkor { namespace library {

// ---- The seed --------------------------------------------------------------

struct hash_seed_t {
  uint64_t words[4];
};

// Drawn once per process from the system's random source (getrandom), with
// the clock and the process id as a fallback should that fail.
hash_seed_t draw_hash_seed();

inline const hash_seed_t& hash_seed() {
  static const hash_seed_t seed = draw_hash_seed();
  return seed;
}

// ---- The mix ---------------------------------------------------------------

// The 128-bit product of a and b, its halves folded together by xor.
inline uint64_t folded_multiply(uint64_t a, uint64_t b) {
  unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

// Two keyed rounds: every bit of the key reaches every bit of the result,
// and which keys share a bucket depends on the seed.
inline uint64_t seeded_hash64(uint64_t key) {
  const hash_seed_t& seed = hash_seed();
  return folded_multiply(folded_multiply(key ^ seed.words[0], seed.words[1]) ^ seed.words[2],
                         seed.words[3]);
}

// Two words, such as a pair of thread ids and a pair of access types.
inline uint64_t seeded_hash64(uint64_t first, uint64_t second) {
  const hash_seed_t& seed = hash_seed();
  uint64_t h = folded_multiply(first ^ seed.words[0], seed.words[1]);
  return folded_multiply(h ^ second ^ seed.words[2], seed.words[3]);
}

// The hash functor for standard and Boost hash tables of integer keys.
struct seeded_hash_t {
  size_t operator()(uint64_t key) const { return static_cast<size_t>(seeded_hash64(key)); }
};

}}  // namespace velkor::library
#endif
