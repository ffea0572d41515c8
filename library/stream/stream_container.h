// Container stages: the 12-byte header that starts every sample file, and the
// reader and writer that strip or emit it and insert inflate or deflate as the
// header asks. Built by the flow file reader and by stream_pack.
//
// On disk: "VELKOR", a big-endian 16-bit header length (12), then one byte
// each of version, product, data type and compression. With compression 1
// the payload is one zlib stream; a legacy file has no header and is one zlib
// stream as a whole.
#ifndef LIBRARY_STREAM_STREAM_CONTAINER_H_
#define LIBRARY_STREAM_STREAM_CONTAINER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>

#include <boost/shared_ptr.hpp>

#include <string>

#include "stream/stream.h"
#include "stream/stream_gz.h"
#include "support/warning_consumer.h"

namespace velkor { namespace library {

// ---- The header --------------------------------------------------------------

// The writing product; any 32-bit value may appear in a decoded header.
enum stream_container_product_t : int32_t {
  product_pacemark = 0,
  product_loomview = 1,
  product_glintly = 2,
  product_pacemark_1_2 = 3,
  product_keldo_internal = 255,
};

enum stream_container_data_type_t : int32_t {
  data_type_binary_samples = 0,  // the binary event stream
};

enum stream_container_compression_t : int32_t {
  compression_none = 0,
  compression_deflate = 1,
  compression_bzip2 = 2,  // named, never supported
};

// Printable names; "Unknown" for values outside the tables.
const char* stream_container_product_name(stream_container_product_t product);
const char* stream_container_data_type_name(stream_container_data_type_t data_type);
const char* stream_container_compression_name(stream_container_compression_t compression);

// A default-constructed header is the default header: what a reader holds
// before any byte arrived and what a legacy stream is taken to be.
struct stream_container_header_t {
  uint8_t version = 1;  // 0: legacy (no header on disk), 1: current format
  stream_container_product_t product = product_pacemark;
  stream_container_data_type_t data_type = data_type_binary_samples;
  stream_container_compression_t compression = compression_deflate;
};

bool operator==(const stream_container_header_t& a, const stream_container_header_t& b);
bool operator!=(const stream_container_header_t& a, const stream_container_header_t& b);

// The "Container:" block: version, and for a nonzero version the product,
// data type and compression, each as name(value), one per line.
std::ostream& operator<<(std::ostream& out, const stream_container_header_t& header);

// Size of the header on disk.
const size_t stream_container_header_size = 12;

// ---- Stages ------------------------------------------------------------------

// Emits the header to next at construction (nothing for version 0), then
// passes every block on, through a deflate stage of its own when the header
// names compression 1 or version 0 (legacy: always deflated, the stored
// header becomes the default header). Owns the deflate stage, whose last bytes
// reach next when the writer is destroyed: destroy the writer before next.
class stream_container_writer_t : public stream_t {
 public:
  // Throws stream_exception_t "Failed to write container header." when next
  // refuses the header, "BZip2 compression unsupported." or "Illegal
  // compression specified." (after the header was written), or the deflate
  // stage's exception. deflate_level is the zlib level of the deflate stage
  // (-1: zlib's default; 1 fastest to 9 smallest).
  stream_container_writer_t(const stream_container_header_t& header, stream_t* next,
                            boost::shared_ptr<warning_consumer_base_t> warnings,
                            int deflate_level = -1);
  ~stream_container_writer_t() override;

  stream_status_t process_data(const char* data, size_t length) override;
  stream_status_t flush() override;

  // The header as written (the default header for a legacy stream).
  const stream_container_header_t& get_header() const { return header_; }

 private:
  stream_container_writer_t(const stream_container_writer_t&) = delete;
  stream_container_writer_t& operator=(const stream_container_writer_t&) = delete;

  void write_header();

  stream_container_header_t header_;
  stream_t* next_;
  std::unique_ptr<stream_t> compressor_;  // null when the payload is passed raw
};

// Collects the header from the first 12 bytes, however they are split into
// blocks, then hands every later byte to the target: the inflate stage it
// inserted, or next. Owns the inflate stage; never owns next.
//
// A stream that does not start with "VELKOR" is a legacy stream: all of it,
// from the first byte, is inflated. When it does not start with a zlib
// header either and inflating fails, an error on the sink says that the
// input is no sample file at all. A header the reader refuses (version
// above 1, unsupported compression, a nonzero status from process_header)
// answers that status, and the same status for every later block, which is
// not passed on. A stream that ends (flush) before 12 bytes arrived is taken
// as legacy there; one that never sees a flush is handed on when the reader
// is destroyed. Flush only at the end of the input while a header may still
// be arriving.
class stream_container_reader_t : public stream_t {
 public:
  stream_container_reader_t(stream_t* next, boost::shared_ptr<warning_consumer_base_t> warnings);
  ~stream_container_reader_t() override;

  stream_status_t process_data(const char* data, size_t length) override;
  // Flushes the inflate stage if there is one, else next; first decides on a
  // stream shorter than a header (see above).
  stream_status_t flush() override;

  // Sees, and may change, the decoded header before the reader acts on it; a
  // nonzero status stops the reader. By default turns a version-0 header into
  // the default header.
  virtual stream_status_t process_header(stream_container_header_t& header);

  // The default header until 12 bytes have arrived; afterwards the header as
  // decoded and as process_header left it.
  const stream_container_header_t& get_header() const { return header_; }

  // Why the header was refused ("Container version 2 is not supported.",
  // "Compression bzip2(2) is not supported."); empty when it was not, or
  // when process_header refused it.
  std::string refusal() const;
  // Bytes after the end of the compressed payload, which were ignored; 0
  // for a raw payload.
  uint64_t trailing_bytes() const {
    return decompressor_ ? decompressor_->trailing_bytes() : 0;
  }

 private:
  stream_container_reader_t(const stream_container_reader_t&) = delete;
  stream_container_reader_t& operator=(const stream_container_reader_t&) = delete;

  // Interprets the collected bytes: 0 without the magic, -1 for a version
  // above 1, else the header length field.
  int decode_header();
  // Inserts the inflate stage when the header asks for one; throws
  // stream_exception_t for a compression it cannot read.
  void setup_reader_from_header();
  stream_t* target() const {
    return decompressor_ ? static_cast<stream_t*>(decompressor_.get()) : next_;
  }
  // Hands bytes to the target; adds the reason when a legacy stream that
  // has no zlib header fails.
  stream_status_t forward(const char* data, size_t length);
  // A legacy stream whose first two bytes are no zlib header.
  bool lacks_zlib_header() const;

  stream_t* next_;
  std::unique_ptr<stream_gz_decompress_t> decompressor_;
  stream_container_header_t header_;
  char header_buffer_[stream_container_header_size];
  uint32_t received_;  // header bytes collected so far, 0 to 12
  boost::shared_ptr<warning_consumer_base_t> warnings_;
  stream_status_t refused_;  // nonzero once the header has been refused
  bool not_a_sample_file_;   // told that the input is neither container nor zlib
};

}}  // namespace velkor::library
#endif
