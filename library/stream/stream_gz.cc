#include "stream/stream_gz.h"

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include <boost/lexical_cast.hpp>

#ifdef VK_WITH_ISAL
#include <isa-l/igzip_lib.h>
#endif

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

namespace {

const char need_dict_text[] = "deflate() returned Z_NEED_DICT.";
const char data_error_text[] = "deflate() returned Z_DATA_ERROR.";
const char mem_error_text[] = "deflate() returned Z_MEM_ERROR.";

}  // namespace

#ifdef VK_WITH_ISAL
namespace {

// ISA-L inflates straight into the buffer it is given only while that buffer
// has room for about 64 KiB; with less it decodes up to 64 KiB ahead into a
// buffer of its own and reports damage found there before the bytes in front
// of it are out. The stage gives it seven pieces of room and keeps at most two
// back, so that every byte decoded before a damage is in hand when the damage
// is reported.
const size_t isal_staging_size = 7 * inflate_out_size;

// zlib inflates the first 32 KiB of output of every stream, ISA-L following in
// step. A distance that reaches before the stream's start can only occur that
// early, and this is where a file that is no deflate stream at all fails:
// zlib reports both exactly, ISA-L would hand on bytes of the damaged match or
// of a damaged first block header first.
const uint64_t isal_takeover_output = 32768;

// Hands `length` bytes to next in pieces of at most 16384, the way the zlib
// loop does from its full buffers. Stops at the first nonzero status.
stream_status_t hand_on(stream_t* next, const unsigned char* data, size_t length) {
  for (size_t at = 0; at < length; at += inflate_out_size) {
    size_t piece = std::min(inflate_out_size, length - at);
    stream_status_t status = next->process_data(reinterpret_cast<const char*>(data) + at, piece);
    if (status != stream_status_ok) return status;
  }
  return stream_status_ok;
}

}  // namespace

struct stream_gz_decompress_t::isal_t {
  // A match that reaches before the stream's start makes ISA-L copy from up to
  // 32 KiB in front of its output before it reports the damage; the state in
  // front of the staging buffer keeps that read inside this object.
  inflate_state state;
  unsigned char staging[isal_staging_size];
};
#else
struct stream_gz_decompress_t::isal_t {};
#endif

inflate_engine_t inflate_engine_default() {
#ifdef VK_WITH_ISAL
  return inflate_engine_isal;
#else
  return inflate_engine_zlib;
#endif
}

bool inflate_engine_available(inflate_engine_t engine) {
  return engine == inflate_engine_zlib || engine == inflate_engine_default();
}

const char* inflate_engine_name(inflate_engine_t engine) {
  return engine == inflate_engine_isal ? "ISA-L" : "zlib";
}

stream_gz_decompress_t::stream_gz_decompress_t(stream_t* next,
                                               boost::shared_ptr<warning_consumer_base_t> warnings)
    : stream_gz_decompress_t(next, warnings, inflate_engine_default()) {}

stream_gz_decompress_t::stream_gz_decompress_t(stream_t* next,
                                               boost::shared_ptr<warning_consumer_base_t> warnings,
                                               inflate_engine_t engine)
    : next_(next),
      warnings_(warnings),
      zlib_open_(false),
      isal_(NULL),
      isal_leads_(false),
      isal_skip_(0),
      received_(false),
      ended_(false),
      trailing_(0),
      failure_(NULL),
      failure_told_(false) {
  assert(warnings_);
  if (!inflate_engine_available(engine)) {
    throw stream_exception_t(std::string("This build cannot inflate with ") +
                             inflate_engine_name(engine) + ".");
  }
  std::unique_ptr<isal_t> isal;
#ifdef VK_WITH_ISAL
  if (engine == inflate_engine_isal) {
    // The state is zeroed before ISA-L sets it up; the staging buffer needs
    // no clearing: ISA-L reads only what it wrote there, or the state in
    // front of it.
    isal.reset(new isal_t);
    memset(&isal->state, 0, sizeof(isal->state));
    isal_inflate_init(&isal->state);
    isal->state.crc_flag = ISAL_ZLIB;  // header and Adler-32 trailer checked
  }
#endif
  prepare(zstream_);
  int result = inflateInit_(&zstream_, zlib_version_text, static_cast<int>(sizeof(z_stream)));
  if (result != Z_OK) {
    throw stream_exception_t("Failed to initialize libz: inflateInit error " + decimal(result) +
                             ".");
  }
  zlib_open_ = true;
  isal_ = isal.release();
}

stream_gz_decompress_t::~stream_gz_decompress_t() {
  if (zlib_open_) inflateEnd(&zstream_);
  delete isal_;
}

stream_status_t stream_gz_decompress_t::process_data(const char* buffer, size_t len) {
  assert(buffer);
  assert(zstream_.avail_in == 0);
  assert(len <= 0xffffffff);
  if (ended_) {
    trailing_ += len;
    return stream_status_ok;
  }
  if (failure_ != NULL) return fail(failure_);  // the stream stays broken
  if (len > 0) received_ = true;
  if (isal_leads_) return inflate_isal(buffer, len);
  size_t used = 0;
  stream_status_t status = inflate_zlib(buffer, len, &used);
  if (isal_ != NULL) follow_with_isal(buffer, used);
  return status;
}

stream_status_t stream_gz_decompress_t::flush() {
  if (!ended_ && !failure_told_ && received_) {
    warnings_->warning("The compressed stream ended before its end; the input was cut short.");
  }
  return next_->flush();
}

stream_status_t stream_gz_decompress_t::fail(const char* text) {
  failure_ = text;
  failure_told_ = true;
  warnings_->error(text);
  return stream_status_error;
}

stream_status_t stream_gz_decompress_t::inflate_zlib(const char* buffer, size_t len,
                                                     size_t* used) {
  z_stream& zstream = zstream_;
  zstream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(buffer));
  zstream.avail_in = static_cast<uInt>(len);
  // Every way out forgets the rest of the block, which is valid only during
  // this call, and tells how much of it zlib took.
  auto leave = [&](stream_status_t status) {
    *used = len - zstream.avail_in;
    drop_input(zstream);
    return status;
  };

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
          if (status != stream_status_ok) return leave(status);
        }
        break;
      }
      case Z_NEED_DICT: failure = need_dict_text; break;
      case Z_DATA_ERROR: failure = data_error_text; break;
      case Z_MEM_ERROR: failure = mem_error_text; break;
      default: break;
    }
    if (failure != NULL) return leave(fail(failure));
    if (zresult == Z_STREAM_END) {
      // What follows the end of the compressed stream is not inflated.
      ended_ = true;
      trailing_ += zstream.avail_in;
      return leave(stream_status_ok);
    }
    if (zstream.avail_out != 0) return leave(stream_status_ok);  // all input used
  }
}

#ifdef VK_WITH_ISAL

// ISA-L takes the bytes zlib took and decodes them into the staging buffer,
// where they are dropped. Once zlib's output passes the opening and both agree,
// ISA-L leads; should ISA-L ever disagree, zlib goes on alone.
void stream_gz_decompress_t::follow_with_isal(const char* buffer, size_t len) {
  inflate_state& state = isal_->state;
  bool agrees = !ended_ && failure_ == NULL;
  state.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(buffer));
  state.avail_in = static_cast<uint32_t>(len);
  while (agrees) {
    state.next_out = isal_->staging;
    state.avail_out = static_cast<uint32_t>(isal_staging_size);
    int result = isal_inflate(&state);
    if (result < 0 || result == ISAL_NEED_DICT || state.block_state == ISAL_BLOCK_FINISH) {
      agrees = false;
    } else if (state.avail_out != 0) {
      agrees = state.avail_in == 0;
      break;
    }
  }
  state.next_in = NULL;
  state.avail_in = 0;
  // ISA-L may owe a few bytes that zlib has handed on already: short codes it
  // decodes only in whole groups, and the overflow of its last match.
  if (agrees && (state.total_out > zstream_.total_out ||
                 zstream_.total_out - state.total_out > isal_staging_size)) {
    agrees = false;
  }
  if (!agrees) {
    delete isal_;
    isal_ = NULL;
    return;
  }
  if (zstream_.total_out < isal_takeover_output) return;
  isal_skip_ = zstream_.total_out - state.total_out;
  isal_leads_ = true;
  inflateEnd(&zstream_);
  zlib_open_ = false;
}

stream_status_t stream_gz_decompress_t::inflate_isal(const char* buffer, size_t len) {
  inflate_state& state = isal_->state;
  unsigned char* const staging = isal_->staging;
  state.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(buffer));
  state.avail_in = static_cast<uint32_t>(len);
  auto leave = [&](stream_status_t status) {
    state.next_in = NULL;  // valid only during this call
    state.avail_in = 0;
    return status;
  };

  size_t fill = 0;  // decoded bytes in the staging buffer, not yet handed on
  for (;;) {
    state.next_out = staging + fill;
    state.avail_out = static_cast<uint32_t>(isal_staging_size - fill);
    int result = isal_inflate(&state);
    size_t produced = isal_staging_size - state.avail_out - fill;
    if (isal_skip_ > 0 && produced > 0) {
      size_t skip = static_cast<size_t>(std::min<uint64_t>(isal_skip_, produced));
      memmove(staging + fill, staging + fill + skip, produced - skip);
      produced -= skip;
      isal_skip_ -= skip;
    }
    fill += produced;

    if (result < 0 || result == ISAL_NEED_DICT) {
      // zlib hands on the full pieces that end before the damage; the bytes
      // after the last of them are dropped, and so is a piece that ends right
      // at the damage. Bytes ISA-L decoded but holds back count as decoded.
      size_t good = fill;
      if (state.tmp_out_valid > state.tmp_out_processed) {
        good += static_cast<size_t>(state.tmp_out_valid - state.tmp_out_processed);
      }
      size_t whole = good == 0 ? 0 : (good - 1) / inflate_out_size * inflate_out_size;
      whole = std::min(whole, fill - fill % inflate_out_size);
      failure_ = result == ISAL_NEED_DICT ? need_dict_text : data_error_text;
      stream_status_t status = hand_on(next_, staging, whole);
      // A successor that stops first hears of the damage on the next call.
      if (status != stream_status_ok) return leave(status);
      return leave(fail(failure_));
    }

    bool finished = state.block_state == ISAL_BLOCK_FINISH;
    bool input_used = state.avail_out != 0;  // ISA-L stops early only when out of input
    size_t out_now = fill;
    if (!finished && !input_used) {
      // Full pieces only; and zlib hands on a full buffer only once more
      // output follows, since damage right behind it drops it.
      out_now = fill - fill % inflate_out_size;
      if (out_now == fill && out_now > 0) out_now -= inflate_out_size;
    }
    stream_status_t status = hand_on(next_, staging, out_now);
    if (status != stream_status_ok) return leave(status);
    if (finished) {
      // What follows the end of the compressed stream is not inflated.
      ended_ = true;
      // ISA-L reads ahead into a bit buffer: whole bytes still there were
      // not part of the stream either.
      trailing_ += state.avail_in;
      if (state.read_in_length > 0) trailing_ += static_cast<uint64_t>(state.read_in_length) / 8;
      return leave(stream_status_ok);
    }
    if (input_used) return leave(stream_status_ok);
    memmove(staging, staging + out_now, fill - out_now);
    fill -= out_now;
  }
}

#else

void stream_gz_decompress_t::follow_with_isal(const char*, size_t) {}

stream_status_t stream_gz_decompress_t::inflate_isal(const char*, size_t) {
  return stream_status_error;  // never reached: ISA-L never leads in this build
}

#endif

}}  // namespace velkor::library
