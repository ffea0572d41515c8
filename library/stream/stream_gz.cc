#include "stream/stream_gz.h"

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <boost/lexical_cast.hpp>

namespace velkor { namespace library {

namespace {

// zlib's compatibility check compares only the major version; the stages are
// written against the 1.2 interface.
const char zlib_version_text[] = "1.2.7";
const size_t deflate_out_size = 4096;
const size_t inflate_out_size = 16384;

voidpf my_alloc(voidpf opaque, uInt items, uInt size) {
  (void)opaque;
  // zlib asks for small blocks; a request whose size does not fit 32 bits is
  // refused rather than wrapped into a short allocation.
  uint64_t bytes = static_cast<uint64_t>(items) * size;
  if (bytes > 0xffffffffu) return Z_NULL;
  return malloc(static_cast<size_t>(bytes));
}

void my_free(voidpf opaque, voidpf address) {
  (void)opaque;
  free(address);
}

void prepare(z_stream& zstream) {
  memset(&zstream, 0, sizeof(zstream));
  zstream.zalloc = my_alloc;
  zstream.zfree = my_free;
  zstream.opaque = Z_NULL;
}

// Forgets the rest of the caller's block: it is valid only during the call
// that brought it.
void drop_input(z_stream& zstream) {
  zstream.next_in = Z_NULL;
  zstream.avail_in = 0;
}

std::string decimal(int value) { return boost::lexical_cast<std::string>(value); }

}  // namespace

// ---- Compression -------------------------------------------------------------

stream_gz_compress_t::stream_gz_compress_t(stream_t* next,
                                           boost::shared_ptr<warning_consumer_base_t> warnings,
                                           int level)
    : next_(next), warnings_(warnings) {
  assert(warnings_);
  prepare(zstream_);
  int result = deflateInit_(&zstream_, level, zlib_version_text,
                            static_cast<int>(sizeof(z_stream)));
  if (result != Z_OK) {
    throw stream_exception_t("Failed to initialize libz: deflateInit error " + decimal(result) +
                             ".");
  }
}

stream_gz_compress_t::~stream_gz_compress_t() {
  // Writes the final block and the trailer into next. A failure has been
  // reported to the sink already; a destructor has nobody to tell.
  try {
    internal_deflate(NULL, 0, Z_FINISH);
  } catch (...) {
  }
  deflateEnd(&zstream_);
}

stream_status_t stream_gz_compress_t::process_data(const char* data, size_t length) {
  return internal_deflate(data, length, Z_NO_FLUSH);
}

stream_status_t stream_gz_compress_t::flush() {
  stream_status_t status = internal_deflate(NULL, 0, Z_SYNC_FLUSH);
  if (status != stream_status_ok) return status;
  return next_->flush();
}

stream_status_t stream_gz_compress_t::internal_deflate(const char* data, size_t len,
                                                       int flush_mode) {
  z_stream& zstream = zstream_;
  assert(zstream.avail_in == 0);
  assert(len <= 0xffffffff);
  zstream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  zstream.avail_in = static_cast<uInt>(len);

  char out[deflate_out_size];
  for (;;) {
    zstream.next_out = reinterpret_cast<Bytef*>(out);
    zstream.avail_out = static_cast<uInt>(sizeof(out));
    int result = deflate(&zstream, flush_mode);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
      drop_input(zstream);
      warnings_->error("Error " + decimal(result) + " when calling deflate().");
      return stream_status_error;
    }
    size_t produced = sizeof(out) - zstream.avail_out;
    if (produced > 0) {
      stream_status_t status = next_->process_data(out, produced);
      if (status != stream_status_ok) {
        drop_input(zstream);
        return status;
      }
    }
    // Stream end, or no progress possible: all input has been taken.
    if (result != Z_OK) return stream_status_ok;
    if (zstream.avail_out == 0) continue;  // more output may be pending
    if (flush_mode != Z_FINISH) return stream_status_ok;
  }
}

// ---- Decompression -----------------------------------------------------------

stream_gz_decompress_t::stream_gz_decompress_t(stream_t* next,
                                               boost::shared_ptr<warning_consumer_base_t> warnings)
    : next_(next), warnings_(warnings), ended_(false), failed_(false) {
  assert(warnings_);
  prepare(zstream_);
  int result = inflateInit_(&zstream_, zlib_version_text, static_cast<int>(sizeof(z_stream)));
  if (result != Z_OK) {
    throw stream_exception_t("Failed to initialize libz: inflateInit error " + decimal(result) +
                             ".");
  }
}

stream_gz_decompress_t::~stream_gz_decompress_t() { inflateEnd(&zstream_); }

stream_status_t stream_gz_decompress_t::process_data(const char* buffer, size_t len) {
  z_stream& zstream = zstream_;
  assert(buffer);
  assert(zstream.avail_in == 0);
  assert(len <= 0xffffffff);
  if (ended_) return stream_status_ok;
  zstream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(buffer));
  zstream.avail_in = static_cast<uInt>(len);

  char out[inflate_out_size];
  for (;;) {
    zstream.next_out = reinterpret_cast<Bytef*>(out);
    zstream.avail_out = static_cast<uInt>(sizeof(out));
    int zresult = inflate(&zstream, Z_SYNC_FLUSH);
    assert(zresult != (-2));  // Z_STREAM_ERROR: only a broken state gives it
    const char* failure = NULL;
    switch (zresult) {
      case Z_OK:
      case Z_STREAM_END:
      case Z_BUF_ERROR: {
        size_t produced = sizeof(out) - zstream.avail_out;
        if (produced > 0) {
          stream_status_t status = next_->process_data(out, produced);
          if (status != stream_status_ok) {
            drop_input(zstream);
            return status;
          }
        }
        break;
      }
      case Z_NEED_DICT: failure = "deflate() returned Z_NEED_DICT."; break;
      case Z_DATA_ERROR: failure = "deflate() returned Z_DATA_ERROR."; break;
      case Z_MEM_ERROR: failure = "deflate() returned Z_MEM_ERROR."; break;
      default: break;
    }
    if (failure != NULL) {
      drop_input(zstream);
      failed_ = true;
      warnings_->error(failure);
      return stream_status_error;
    }
    if (zresult == Z_STREAM_END) {
      // What follows the end of the compressed stream is not inflated.
      ended_ = true;
      drop_input(zstream);
      return stream_status_ok;
    }
    if (zstream.avail_out != 0) {
      drop_input(zstream);  // all input used; nothing is left but the pointer
      return stream_status_ok;
    }
  }
}

stream_status_t stream_gz_decompress_t::flush() {
  if (!ended_ && !failed_ && zstream_.total_in > 0) {
    warnings_->warning("The compressed stream ended before its end; the input was cut short.");
  }
  return next_->flush();
}

}}  // namespace velkor::library
