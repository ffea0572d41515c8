#include "support/seeded_hash.h"

#include <sys/random.h>
#include <unistd.h>

#include <chrono>

namespace velkor { namespace library {

hash_seed_t draw_hash_seed() {
  hash_seed_t seed = {};
  size_t got = 0;
  char* bytes = reinterpret_cast<char*>(seed.words);
  while (got < sizeof(seed.words)) {
    ssize_t n = getrandom(bytes + got, sizeof(seed.words) - got, 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof(seed.words)) {
    // No random source: the clock and the process id still differ from run
    // to run, which keeps a file from being crafted against one fixed seed.
    uint64_t x = static_cast<uint64_t>(
                     std::chrono::steady_clock::now().time_since_epoch().count()) ^
                 (static_cast<uint64_t>(getpid()) << 32);
    for (uint64_t& word : seed.words) {
      x += 0x9e3779b97f4a7c15ull;  // splitmix64
      uint64_t z = x;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
      word ^= z ^ (z >> 31);
    }
  }
  // The multipliers must not be zero (nor even: the low bits would be lost).
  seed.words[1] |= 1;
  seed.words[3] |= 1;
  return seed;
}

}}  // namespace velkor::library
