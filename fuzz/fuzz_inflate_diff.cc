// Fuzz target: the decompressor once with zlib and once with ISA-L on the same
// input cut into the same fuzzer-chosen blocks. The input is taken as a
// compressed stream, or first wrapped into a valid zlib stream (so that the
// fuzzer reaches deep into long streams) and then optionally damaged. Any
// difference in bytes, pieces, statuses or warnings beyond what the
// decompressor allows aborts.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "stream/stream_gz.h"
#include "support/inflate_diff.h"

using namespace velkor::library;
using velkor::testkit::compare_inflate_runs;
using velkor::testkit::cut_blocks;
using velkor::testkit::inflate_run_t;
using velkor::testkit::run_inflate;

namespace {

// One zlib stream of `payload` with the given level (0 to 9) and strategy
// (0 to 4). The compressors are set up once per level and strategy and reset
// for every stream: setting one up allocates a quarter megabyte, which
// costs more than the rest of a run under the sanitizers.
std::string deflate_with(const std::string& payload, int level, int strategy) {
  static z_stream compressors[10][5];
  static bool ready[10][5];
  z_stream& z = compressors[level][strategy];
  if (!ready[level][strategy]) {
    if (deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy) != Z_OK) abort();
    ready[level][strategy] = true;
  } else if (deflateReset(&z) != Z_OK) {
    abort();
  }
  std::string out(deflateBound(&z, payload.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data()));
  z.avail_in = static_cast<uInt>(payload.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) abort();
  out.resize(z.total_out);
  return out;
}

// The payload repeated, every copy slightly changed, so that a short input
// still gives an output past the opening that zlib inflates alone; at most
// 40 KiB (the opening and a quarter as much again: enough for ISA-L to take
// over and carry on alone), to keep the runs quick.
std::string stretch(const std::string& payload, unsigned copies, uint32_t seed) {
  const size_t most = 40 * 1024;
  if (!payload.empty()) copies = std::min<size_t>(copies, std::max<size_t>(1, most / payload.size()));
  std::string out;
  uint32_t x = seed | 1;
  for (unsigned c = 0; c < copies; ++c) {
    size_t start = out.size();
    out += payload;
    for (size_t i = start; i < out.size(); i += 1 + (x % 61)) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      out[i] = static_cast<char>(out[i] + (x & 3));
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!inflate_engine_available(inflate_engine_isal)) return 0;
  FuzzedDataProvider input(data, size);
  uint8_t mode = input.ConsumeIntegral<uint8_t>();
  size_t max_block = 1 + input.ConsumeIntegral<uint16_t>() % 8192;
  uint32_t block_seed = input.ConsumeIntegral<uint32_t>();
  std::string stream;
  if (mode & 1) {
    // zlib's strategies are the numbers 0 to 4: default, filtered, Huffman
    // only, runs, fixed codes.
    int level = input.ConsumeIntegralInRange<int>(0, 9);
    int strategy = input.ConsumeIntegralInRange<int>(0, 4);
    unsigned copies = input.ConsumeIntegralInRange<unsigned>(1, 64);
    uint32_t stretch_seed = input.ConsumeIntegral<uint32_t>();
    uint32_t spots[3];
    for (uint32_t& s : spots) s = input.ConsumeIntegral<uint32_t>();
    uint8_t trailing = input.ConsumeIntegral<uint8_t>();
    stream = deflate_with(stretch(input.ConsumeRemainingBytesAsString(), copies, stretch_seed),
                          level, strategy);
    switch ((mode >> 1) & 3) {
      case 1:  // flipped bits
        for (uint32_t s : spots) stream[s % stream.size()] ^= static_cast<char>(1 << (s >> 29));
        break;
      case 2:  // cut short
        stream.resize(spots[0] % stream.size());
        break;
      case 3:  // one flipped bit and bytes after the end
        stream[spots[0] % stream.size()] ^= static_cast<char>(1 << (spots[0] >> 29));
        stream.append(trailing, static_cast<char>(spots[1]));
        break;
      default:
        break;
    }
  } else {
    // At most 16 KiB: a crafted stream inflates to a thousand times its size.
    stream = input.ConsumeBytesAsString(16384);
  }

  // Block sizes are drawn from 1 to max_block, so a long stream takes some
  // sixty calls: tiny blocks of a long stream add time, not paths.
  max_block = std::max(max_block, 1 + stream.size() / 32);
  std::vector<std::string> blocks = cut_blocks(stream, block_seed, max_block);
  inflate_run_t zlib = run_inflate(inflate_engine_zlib, blocks);
  inflate_run_t isal = run_inflate(inflate_engine_isal, blocks);
  std::string difference = compare_inflate_runs(zlib, isal);
  if (!difference.empty()) {
    fprintf(stderr, "zlib and ISA-L differ: %s\n", difference.c_str());
    abort();
  }
  return 0;
}
