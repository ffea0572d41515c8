// Deflate stages in the zlib format (two-byte header, deflate data, Adler-32
// trailer). The container writer and reader insert them for compressed
// payloads and legacy files; they can also be used on their own. zlib
// compresses; inflating is done by ISA-L when the build has it (about twice
// as fast), else by zlib.
#ifndef LIBRARY_STREAM_STREAM_GZ_H_
#define LIBRARY_STREAM_STREAM_GZ_H_

#include <zlib.h>

#include <cstddef>
#include <cstdint>

#include <boost/shared_ptr.hpp>

#include "stream/stream.h"
#include "support/warning_consumer.h"

namespace velkor { namespace library {

// The library that inflates. Production code takes the build's default; the
// differential tests and fuzz target run both on the same input.
enum inflate_engine_t {
  inflate_engine_zlib,
  inflate_engine_isal,
};

// ISA-L when the build has it, else zlib.
inflate_engine_t inflate_engine_default();
// zlib always; ISA-L when the build has it.
bool inflate_engine_available(inflate_engine_t engine);
const char* inflate_engine_name(inflate_engine_t engine);

// Deflates every block and pushes the compressed bytes to next, at most 4096
// bytes per call. One compressor writes exactly one zlib stream: its final
// bytes and the trailer reach next only when it is destroyed, so next must
// outlive it. Errors go to `warnings` and come back as stream_status_error.
// When next answers a nonzero status, the rest of the current block is
// dropped; later calls and the finishing step never read it.
class stream_gz_compress_t : public stream_t {
 public:
  // Throws stream_exception_t when zlib cannot be set up (a level outside
  // zlib's -1 to 9 among the reasons). `warnings` must not be null. The level
  // trades speed for size: 1 is fastest, 9 smallest, -1 zlib's default (6).
  stream_gz_compress_t(stream_t* next, boost::shared_ptr<warning_consumer_base_t> warnings,
                       int level = Z_DEFAULT_COMPRESSION);
  ~stream_gz_compress_t() override;

  stream_status_t process_data(const char* data, size_t length) override;
  // Ends the compressed data so far on a byte boundary, then flushes next.
  stream_status_t flush() override;

 private:
  stream_gz_compress_t(const stream_gz_compress_t&) = delete;
  stream_gz_compress_t& operator=(const stream_gz_compress_t&) = delete;

  stream_status_t internal_deflate(const char* data, size_t length, int flush_mode);

  stream_t* next_;
  z_stream zstream_;
  boost::shared_ptr<warning_consumer_base_t> warnings_;
};

// Inflates every block and pushes the decompressed bytes to next, at most
// 16384 bytes per call: full pieces of 16384 while a block yields more, then
// what is left when the block is used up or the stream ends. Corrupt input is
// reported to `warnings` and answered with stream_status_error, again on
// every later call. Bytes after the end of the compressed stream are ignored,
// in the block that holds the end and in every later block, and counted
// (trailing_bytes), so that a caller can tell that they were there.
//
// With ISA-L, zlib inflates the opening of every stream (its first 32 KiB of
// output) while ISA-L follows in step; ISA-L then carries on alone. Damage in
// the opening is thus reported exactly as zlib reports it. What can differ
// from a zlib-only stage:
// - ISA-L may hold back up to two decoded bytes at the end of a block (it
//   decodes short codes in groups and waits for the whole group); they go out
//   first with the next block, so piece boundaries at block ends can shift by
//   up to two bytes, and a stream cut short can lose up to two final bytes.
// - Damage after the opening may be found a little earlier or later, so the
//   amount handed on before the error, the call that reports it, or (when the
//   input also ends early) whether it is reported at all can differ; ISA-L
//   may hand on bytes decoded from a damaged block header before the error.
// - After next answered a nonzero status, ISA-L may have taken more of the
//   block than zlib would have; a caller that carries on continues from there.
class stream_gz_decompress_t : public stream_t {
 public:
  // Inflates with the build's default engine. Throws stream_exception_t when
  // the engine cannot be set up. `warnings` must not be null.
  stream_gz_decompress_t(stream_t* next, boost::shared_ptr<warning_consumer_base_t> warnings);
  // The same with a chosen engine; one the build lacks throws
  // stream_exception_t.
  stream_gz_decompress_t(stream_t* next, boost::shared_ptr<warning_consumer_base_t> warnings,
                         inflate_engine_t engine);
  ~stream_gz_decompress_t() override;

  stream_status_t process_data(const char* data, size_t length) override;
  // Inflates nothing; flushes next. A flush marks the end of the input: when
  // compressed bytes arrived but the stream's end never did, the input was
  // cut short, and a warning says so (the status is next's, as ever).
  stream_status_t flush() override;

  // Bytes that arrived after the end of the compressed stream (a second
  // stream, garbage); they were not inflated.
  uint64_t trailing_bytes() const { return trailing_; }

 private:
  struct isal_t;  // ISA-L's state and output buffer

  stream_gz_decompress_t(const stream_gz_decompress_t&) = delete;
  stream_gz_decompress_t& operator=(const stream_gz_decompress_t&) = delete;

  void init(inflate_engine_t engine);
  stream_status_t inflate_zlib(const char* data, size_t length, size_t* used);
  void follow_with_isal(const char* data, size_t length);
  stream_status_t inflate_isal(const char* data, size_t length);
  stream_status_t fail(const char* text);

  stream_t* next_;
  z_stream zstream_;
  boost::shared_ptr<warning_consumer_base_t> warnings_;
  bool zlib_open_;       // zstream_ holds zlib state to release
  isal_t* isal_;         // owned; null when zlib does all the work
  bool isal_leads_;      // ISA-L has taken over from zlib
  uint64_t isal_skip_;   // bytes ISA-L still owes that zlib has handed on
  bool received_;        // compressed bytes have arrived
  bool ended_;           // the end of the compressed stream has been seen
  uint64_t trailing_;    // bytes received after that end
  const char* failure_;  // the damage found, reported again on later calls; or null
  bool failure_told_;    // failure_ has been reported
};

}}  // namespace velkor::library
#endif
