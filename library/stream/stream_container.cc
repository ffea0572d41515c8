#include "stream/stream_container.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "stream/stream_gz.h"

namespace velkor { namespace library {

namespace {

const char magic[] = "VELKOR";
const size_t magic_size = 6;

}  // namespace

// ---- The header --------------------------------------------------------------

const char* stream_container_product_name(stream_container_product_t product) {
  switch (product) {
    case product_pacemark: return "Pacemark";
    case product_loomview: return "Loomview";
    case product_glintly: return "Glintly";
    case product_pacemark_1_2: return "Pacemark 1.2";
    case product_keldo_internal: return "Keldo Internal";
  }
  return "Unknown";
}

const char* stream_container_data_type_name(stream_container_data_type_t data_type) {
  return data_type == data_type_binary_samples ? "Binary samples" : "Unknown";
}

const char* stream_container_compression_name(stream_container_compression_t compression) {
  static const char* const names[] = {"None", "Deflate", "bzip2"};
  uint32_t index = static_cast<uint32_t>(compression);  // negative values are unknown too
  return index < sizeof(names) / sizeof(names[0]) ? names[index] : "Unknown";
}

bool operator==(const stream_container_header_t& a, const stream_container_header_t& b) {
  return a.version == b.version && a.product == b.product && a.data_type == b.data_type &&
         a.compression == b.compression;
}

bool operator!=(const stream_container_header_t& a, const stream_container_header_t& b) {
  return !(a == b);
}

std::ostream& operator<<(std::ostream& out, const stream_container_header_t& header) {
  out << "Container:" << std::endl;
  out << "  Version: " << static_cast<int>(header.version) << std::endl;
  if (header.version == 0) return out;
  out << "  Product: " << stream_container_product_name(header.product) << "("
      << static_cast<int32_t>(header.product) << ")" << std::endl;
  out << "  Data type: " << stream_container_data_type_name(header.data_type) << "("
      << static_cast<int32_t>(header.data_type) << ")" << std::endl;
  out << "  Compression: " << stream_container_compression_name(header.compression) << "("
      << static_cast<int32_t>(header.compression) << ")" << std::endl;
  return out;
}

// ---- Writer ------------------------------------------------------------------

stream_container_writer_t::stream_container_writer_t(
    const stream_container_header_t& header, stream_t* next,
    boost::shared_ptr<warning_consumer_base_t> warnings, int deflate_level)
    : header_(header), next_(next) {
  if (header_.version != 0) {
    write_header();
    switch (header_.compression) {
      case compression_deflate: break;
      case compression_none: return;
      case compression_bzip2: throw stream_exception_t("BZip2 compression unsupported.");
      default: throw stream_exception_t("Illegal compression specified.");
    }
  } else {
    // Legacy: no header on disk, and the payload is deflated whatever the
    // caller asked for, since a reader inflates every headerless stream.
    header_ = stream_container_header_t();
  }
  compressor_.reset(new stream_gz_compress_t(next_, warnings, deflate_level));
}

stream_container_writer_t::~stream_container_writer_t() {
  // The compressor finishes the deflate stream into next here.
  compressor_.reset();
}

void stream_container_writer_t::write_header() {
  char bytes[stream_container_header_size];
  memcpy(bytes, magic, magic_size);
  bytes[6] = 0x00;
  bytes[7] = static_cast<char>(stream_container_header_size);
  bytes[8] = static_cast<char>(header_.version);
  bytes[9] = static_cast<char>(header_.product & 0xff);
  bytes[10] = static_cast<char>(header_.data_type & 0xff);
  bytes[11] = static_cast<char>(header_.compression & 0xff);
  if (next_->process_data(bytes, sizeof(bytes)) != stream_status_ok) {
    throw stream_exception_t("Failed to write container header.");
  }
}

stream_status_t stream_container_writer_t::process_data(const char* data, size_t length) {
  return compressor_ ? compressor_->process_data(data, length) : next_->process_data(data, length);
}

stream_status_t stream_container_writer_t::flush() {
  return compressor_ ? compressor_->flush() : next_->flush();
}

// ---- Reader ------------------------------------------------------------------

stream_container_reader_t::stream_container_reader_t(
    stream_t* next, boost::shared_ptr<warning_consumer_base_t> warnings)
    : next_(next),
      received_(0),
      warnings_(warnings),
      refused_(stream_status_ok),
      not_a_sample_file_(false) {
  memset(header_buffer_, 0, sizeof(header_buffer_));
}

stream_container_reader_t::~stream_container_reader_t() {
  if (received_ < stream_container_header_size) {
    // Too short for a header and never flushed (the chain stopped early):
    // whatever arrived is taken as a legacy stream. A destructor has nobody
    // to report to, so statuses and exceptions are dropped.
    try {
      header_ = stream_container_header_t();
      setup_reader_from_header();
      target()->process_data(header_buffer_, received_);
    } catch (...) {
    }
  }
  decompressor_.reset();
  warnings_.reset();
}

stream_status_t stream_container_reader_t::process_data(const char* data, size_t len) {
  if (received_ == stream_container_header_size) {
    if (refused_ != stream_status_ok) return refused_;
    return forward(data, len);
  }

  assert(len <= 0x7fffffff);
  size_t used = std::min(len, stream_container_header_size - received_);
  if (used > 0) memcpy(header_buffer_ + received_, data, used);
  received_ += static_cast<uint32_t>(used);
  if (received_ < stream_container_header_size) return stream_status_ok;

  int header_length = decode_header();
  if (header_length < 0) return refused_ = stream_status_error;
  stream_status_t status = process_header(header_);
  if (status != stream_status_ok) return refused_ = status;
  try {
    setup_reader_from_header();
  } catch (...) {
    return refused_ = stream_status_error;
  }

  // Header bytes beyond the header's own length are payload.
  size_t skip = static_cast<size_t>(header_length);
  if (skip < stream_container_header_size) {
    status = forward(header_buffer_ + skip, stream_container_header_size - skip);
    if (status != stream_status_ok) return status;
  }
  if (len > used) return forward(data + used, len - used);
  return stream_status_ok;
}

stream_status_t stream_container_reader_t::forward(const char* data, size_t length) {
  stream_status_t status = target()->process_data(data, length);
  if (status == stream_status_error && !not_a_sample_file_ && lacks_zlib_header()) {
    not_a_sample_file_ = true;
    warnings_->error(
        "The input is not a sample file: it starts with neither a container header nor a zlib "
        "header.");
  }
  return status;
}

bool stream_container_reader_t::lacks_zlib_header() const {
  if (header_.version != 1 || !decompressor_ || memcmp(header_buffer_, magic, magic_size) == 0) {
    return false;
  }
  // The zlib header: method 8 with a window of at most 32 KiB, and the two
  // bytes as a big-endian number a multiple of 31.
  const unsigned char* b = reinterpret_cast<const unsigned char*>(header_buffer_);
  bool is_zlib = (b[0] & 0x0f) == 8 && (b[0] >> 4) <= 7 && ((b[0] << 8) | b[1]) % 31 == 0;
  return !is_zlib;
}

std::string stream_container_reader_t::refusal() const {
  if (refused_ == stream_status_ok || received_ < stream_container_header_size) {
    return std::string();
  }
  if (header_.version > 1) {
    return "Container version " + std::to_string(header_.version) + " is not supported.";
  }
  if (header_.compression != compression_none && header_.compression != compression_deflate) {
    return std::string("Compression ") + stream_container_compression_name(header_.compression) +
           "(" + std::to_string(header_.compression) + ") is not supported.";
  }
  return std::string();
}

stream_status_t stream_container_reader_t::flush() {
  if (received_ < stream_container_header_size) {
    // The input ended before a whole header: what arrived is a legacy stream.
    // Decide now, so that it is inflated and decoded (and its errors
    // reported) before the flush passes, not after the caller has moved on.
    uint32_t held = received_;
    header_ = stream_container_header_t();
    try {
      setup_reader_from_header();
    } catch (...) {
      return stream_status_error;
    }
    received_ = stream_container_header_size;
    if (held > 0) {
      stream_status_t status = forward(header_buffer_, held);
      if (status != stream_status_ok) return status;
    }
  }
  return target()->flush();
}

stream_status_t stream_container_reader_t::process_header(stream_container_header_t& header) {
  if (header.version == 0) header = stream_container_header_t();
  return stream_status_ok;
}

int stream_container_reader_t::decode_header() {
  if (memcmp(header_buffer_, magic, magic_size) != 0) {
    header_.version = 0;
    return 0;
  }
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(header_buffer_);
  header_.version = bytes[8];
  header_.product = static_cast<stream_container_product_t>(bytes[9]);
  header_.data_type = static_cast<stream_container_data_type_t>(bytes[10]);
  header_.compression = static_cast<stream_container_compression_t>(bytes[11]);
  if (header_.version > 1) return -1;
  return (bytes[6] << 8) | bytes[7];
}

void stream_container_reader_t::setup_reader_from_header() {
  if (header_.version == 0) return;
  switch (header_.compression) {
    case compression_deflate:
      decompressor_.reset(new stream_gz_decompress_t(next_, warnings_));
      return;
    case compression_none: return;
    case compression_bzip2: throw stream_exception_t("BZip2 compression unsupported.");
    default: throw stream_exception_t("Illegal compression specified.");
  }
}

}}  // namespace velkor::library
