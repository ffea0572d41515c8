// Runs one compressed stream through the decompressor once with each inflate
// engine and tells whether the two runs differ in more than the decompressor
// allows. Shared by the differential test and the differential fuzz target,
// so it depends on the library alone.
#ifndef TESTS_SUPPORT_INFLATE_DIFF_H_
#define TESTS_SUPPORT_INFLATE_DIFF_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "stream/stream.h"
#include "stream/stream_gz.h"

namespace velkor { namespace testkit {

// What one process_data call did: the bytes handed to next and the sizes of
// the pieces they came in, the status it returned and the warnings it
// reported (as the string sink writes them).
struct inflate_call_t {
  std::string bytes;
  std::vector<size_t> pieces;
  library::stream_status_t status = library::stream_status_ok;
  std::string warnings;
};

struct inflate_run_t {
  std::vector<inflate_call_t> calls;
  std::string flush_warnings;  // reported by the closing flush()
  uint64_t trailing = 0;       // bytes after the end of the stream, at the end

  std::string joined() const;  // every byte handed on, in order
  bool damaged() const;        // some call answered stream_status_error
};

// Feeds the blocks to a fresh decompressor with the given engine, each from a
// buffer that is poisoned for AddressSanitizer between calls (so a stage that
// keeps reading a block shows up under the sanitizers), carries on after
// errors, then flushes.
inflate_run_t run_inflate(library::inflate_engine_t engine, const std::vector<std::string>& blocks);

// Cuts bytes into blocks of 1..max_block bytes drawn from a seeded generator.
std::vector<std::string> cut_blocks(const std::string& bytes, uint32_t seed, size_t max_block);

// Empty when the ISA-L run differs from the zlib run only as the decompressor
// allows; else a description of the first difference that is not allowed:
// - Up to the call in which zlib's output reaches 32 KiB (the opening, which
//   zlib inflates in both runs), the calls are identical.
// - After it, every call's pieces are full 16384-byte pieces but the last.
// - When neither run finds damage: statuses and warnings are identical call
//   by call and at the flush; after every call ISA-L's output is zlib's less
//   at most two final bytes (the two are the same bytes when a stream is
//   complete).
// - When either run finds damage: the shorter output is a prefix of the
//   longer, both runs report the same error text, and the other run reports
//   it too or warns at the flush that the input was cut short.
std::string compare_inflate_runs(const inflate_run_t& zlib, const inflate_run_t& isal);

// The opening that zlib inflates alone, in bytes of output.
const size_t inflate_opening_size = 32768;
// The most decoded bytes ISA-L may still owe at the end of a block.
const size_t inflate_isal_owed_bytes = 2;

}}  // namespace velkor::testkit
#endif
