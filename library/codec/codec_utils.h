// The byte buffer in which the binary event codec assembles and parses
// records, the codec's exception, and every primitive field encoding of the
// binary event stream (all multi-byte integers big-endian). Used by the
// decoder and the encoder.
#ifndef LIBRARY_CODEC_CODEC_UTILS_H_
#define LIBRARY_CODEC_CODEC_UTILS_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "events/qnt_types.h"

namespace velkor { namespace library {

// Malformed or unsupported input; is_error is false only when a flow declined
// to start with flow_status_done.
class codec_exception_t : public std::runtime_error {
 public:
  codec_exception_t(const std::string& message, bool is_error);

  // Records where the fault lies; the decoder fills it in for the faults of
  // a record. The message itself stays as it is.
  void set_record(uint64_t number, uint64_t offset, uint32_t code);
  // "In record 5 (code 16) at byte 1234 of the event stream.", or empty when
  // no record was set.
  std::string location() const;

  bool is_error;
  // The faulty record: its number (1 for the first record of the stream,
  // version records included; 0 when unknown), its code and the offset of
  // its header in the event stream (the bytes after the container header,
  // decompressed).
  uint64_t record_number = 0;
  uint64_t record_offset = 0;
  uint32_t record_code = 0;
};

// A growable byte buffer read from the front. Its capacity is always 1024
// times a power of two and never shrinks; unread bytes are moved to the front
// before it grows. assert_read() checks that each parsed unit (a record header,
// a payload) was consumed exactly, and survives that compaction.
class codec_buffer_t {
 public:
  codec_buffer_t();
  ~codec_buffer_t();

  // Appends n bytes.
  void write(const char* src, size_t n);
  // The next n unread bytes, valid until the next write; advances past them.
  // Throws "Read beyond end of buffer." and consumes nothing when fewer remain.
  // Once units are in use, a read that would run past the end of the open
  // unit throws "Unexpected number of bytes read." instead, so that a record
  // whose fields overrun its length fails at that record, whatever follows it
  // in the buffer.
  const char* read(size_t n) {
    if ((units_ && unit_end_ - read_pos_ < n) || write_pos_ - read_pos_ < n) read_failed(n);
    const char* p = data_ + read_pos_;
    read_pos_ += n;
    return p;
  }
  // Opens the next unit of n bytes; throws "Unexpected number of bytes read."
  // when the previous unit was not consumed exactly.
  void assert_read(size_t n);
  // Number of unread bytes.
  size_t size() const { return static_cast<size_t>(write_pos_ - read_pos_); }
  // Unread bytes consumed since the current unit was opened.
  uint64_t unit_consumed(uint64_t unit_length) const {
    return read_pos_ + unit_length - unit_end_;
  }

  uint64_t capacity() const { return capacity_; }
  // The open unit has been consumed exactly (true before any unit).
  bool unit_done() const { return read_pos_ == unit_end_; }

 private:
  codec_buffer_t(const codec_buffer_t&) = delete;
  codec_buffer_t& operator=(const codec_buffer_t&) = delete;

  // Throws the exception that a read of n bytes deserves.
  [[noreturn]] void read_failed(size_t n) const;

  char* data_;
  uint64_t capacity_;
  uint64_t write_pos_;
  uint64_t read_pos_;
  uint64_t unit_end_;
  bool units_;  // assert_read has been used: reads stay inside the open unit
};

// ---- Reading one record in place -----------------------------------------------

// A cursor over the bytes of one complete record, wherever they are (the
// block that brought them, or the buffer that gathered them). The decoder
// reads every field through it, inline. A read past the end of the record
// throws "Unexpected number of bytes read.": the record's fields overrun its
// length.
class codec_reader_t {
 public:
  codec_reader_t() : p_(nullptr), end_(nullptr) {}
  codec_reader_t(const char* begin, size_t length) : p_(begin), end_(begin + length) {}

  // The next n bytes; advances past them.
  const char* read(size_t n) {
    if (static_cast<size_t>(end_ - p_) < n) overrun();
    const char* p = p_;
    p_ += n;
    return p;
  }
  // Bytes of the record not read yet.
  size_t left() const { return static_cast<size_t>(end_ - p_); }

  uint8_t u8() { return static_cast<uint8_t>(*read(1)); }
  uint16_t u16() { return load16(read(2)); }
  uint32_t u32() { return load32(read(4)); }
  uint64_t u64() { return load64(read(8)); }
  // 12 bytes: four reserved, then the value.
  qnt_address_t address_v0() { return qnt_address_t(load64(read(12) + 4)); }
  // A 16-bit length L and L bytes: the text is the first L - 1 (empty for 0).
  void data16(std::string& text) {
    uint16_t length = u16();
    const char* p = read(length);
    if (length == 0) {
      text.clear();
    } else {
      text.assign(p, length - 1u);
    }
  }
  // One byte: 255 gives 0, any other byte b gives 2 to the power (b modulo 64).
  qnt_line_size_t line_size() { return qnt_line_size_from_log(u8()); }
  // The 35-byte access record.
  void access(qnt_sample_access_t& a) {
    const char* p = read(35);
    a.pc = qnt_address_t(load64(p));
    a.addr = qnt_address_t(load64(p + 8));
    a.time = load64(p + 16);
    a.stack = load32(p + 24);
    a.thread = qnt_thread_id_t(load32(p + 28));
    a.size = load16(p + 32);
    a.access_type = static_cast<qnt_access_type_t>(static_cast<unsigned char>(p[34]));
  }

  // Big-endian loads.
  static uint16_t load16(const char* p) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint16_t>((u[0] << 8) | u[1]);
  }
  static uint32_t load32(const char* p) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    return (static_cast<uint32_t>(u[0]) << 24) | (static_cast<uint32_t>(u[1]) << 16) |
           (static_cast<uint32_t>(u[2]) << 8) | static_cast<uint32_t>(u[3]);
  }
  static uint64_t load64(const char* p) {
    return (static_cast<uint64_t>(load32(p)) << 32) | load32(p + 4);
  }

 private:
  [[noreturn]] static void overrun();

  const char* p_;
  const char* end_;
};

// ---- Integers ----------------------------------------------------------------

void binary_encode_uint8(codec_buffer_t* buffer, uint8_t value);
void binary_encode_uint16(codec_buffer_t* buffer, uint16_t value);
void binary_encode_uint32(codec_buffer_t* buffer, uint32_t value);
void binary_encode_uint64(codec_buffer_t* buffer, uint64_t value);

uint8_t binary_decode_uint8(codec_buffer_t* buffer);
uint16_t binary_decode_uint16(codec_buffer_t* buffer);
uint32_t binary_decode_uint32(codec_buffer_t* buffer);
uint64_t binary_decode_uint64(codec_buffer_t* buffer);

// ---- Compound fields ---------------------------------------------------------

// 12 bytes: four reserved bytes (written as zero, ignored when read), then the
// address as a 64-bit value.
void binary_encode_address_v0(codec_buffer_t* buffer, qnt_address_t address);
qnt_address_t binary_decode_address_v0(codec_buffer_t* buffer);

// A 16-bit length L and L bytes. Texts are written with their terminating NUL
// (callers pass the text and its length plus one); reading yields the first
// L - 1 bytes, and an empty text for L = 0.
void binary_encode_data16(codec_buffer_t* buffer, const char* data, size_t data_length);
void binary_decode_data16(codec_buffer_t* buffer, std::string& text);
std::string binary_decode_data16(codec_buffer_t* buffer);

// One byte: floor(log2 size) for a size above 0, 255 for 0. Reading 255 gives
// 0, any other byte b gives 2 to the power (b modulo 64).
void binary_encode_line_size(codec_buffer_t* buffer, qnt_line_size_t size);
qnt_line_size_t binary_decode_line_size(codec_buffer_t* buffer);
uint8_t line_size_to_log(qnt_line_size_t size);

// The 35-byte access record: pc, addr, time (64-bit), stack, thread (32-bit),
// size (16-bit), access_type (8-bit).
void binary_encode_access(codec_buffer_t* buffer, const qnt_sample_access_t& access);
void binary_decode_access(codec_buffer_t* buffer, qnt_sample_access_t& access);

// Number of one bits in x.
uint32_t ones32(uint32_t x);

}}  // namespace velkor::library
#endif
