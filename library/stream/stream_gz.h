// Deflate stages over zlib, in the zlib format (two-byte header, deflate data,
// Adler-32 trailer). The container writer and reader insert them for
// compressed payloads and legacy files; they can also be used on their own.
#ifndef LIBRARY_STREAM_STREAM_GZ_H_
#define LIBRARY_STREAM_STREAM_GZ_H_

#include <zlib.h>

#include <cstddef>

#include <boost/shared_ptr.hpp>

#include "stream/stream.h"
#include "support/warning_consumer.h"

namespace velkor { namespace library {

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
// 16384 bytes per call, straight from a stack buffer. Corrupt input is
// reported to `warnings` and answered with stream_status_error. Bytes after
// the end of the compressed stream are ignored, in the block that holds the
// end and in every later block.
class stream_gz_decompress_t : public stream_t {
 public:
  // Throws stream_exception_t when zlib cannot be set up. `warnings` must not
  // be null.
  stream_gz_decompress_t(stream_t* next, boost::shared_ptr<warning_consumer_base_t> warnings);
  ~stream_gz_decompress_t() override;

  stream_status_t process_data(const char* data, size_t length) override;
  // Inflates nothing; flushes next. A flush marks the end of the input: when
  // compressed bytes arrived but the stream's end never did, the input was
  // cut short, and a warning says so (the status is next's, as ever).
  stream_status_t flush() override;

 private:
  stream_gz_decompress_t(const stream_gz_decompress_t&) = delete;
  stream_gz_decompress_t& operator=(const stream_gz_decompress_t&) = delete;

  stream_t* next_;
  z_stream zstream_;
  boost::shared_ptr<warning_consumer_base_t> warnings_;
  bool ended_;   // the end of the compressed stream has been seen
  bool failed_;  // an inflate error has been reported
};

}}  // namespace velkor::library
#endif
