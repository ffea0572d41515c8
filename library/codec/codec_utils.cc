#include "codec/codec_utils.h"

#include <cassert>
#include <cstring>

#include "support/vk_alloc.h"

namespace velkor { namespace library {

codec_exception_t::codec_exception_t(const std::string& message, bool error)
    : std::runtime_error(message), is_error(error) {}

void codec_exception_t::set_record(uint64_t number, uint64_t offset, uint32_t code) {
  record_number = number;
  record_offset = offset;
  record_code = code;
}

std::string codec_exception_t::location() const {
  if (record_number == 0) return std::string();
  return "In record " + std::to_string(record_number) + " (code " + std::to_string(record_code) +
         ") at byte " + std::to_string(record_offset) + " of the event stream.";
}

codec_buffer_t::codec_buffer_t()
    : data_(NULL), capacity_(0), write_pos_(0), read_pos_(0), unit_end_(0), units_(false) {}

codec_buffer_t::~codec_buffer_t() { vk_free(data_); }

void codec_buffer_t::write(const char* src, size_t n) {
  if (capacity_ - write_pos_ < n) {
    uint64_t unread = write_pos_ - read_pos_;
    if (unread > 0 && read_pos_ > 0) memmove(data_, data_ + read_pos_, unread);
    unit_end_ -= read_pos_;
    write_pos_ = unread;
    read_pos_ = 0;
    uint64_t need = 2 * (write_pos_ + n);
    if (need > capacity_) {
      uint64_t capacity = 1024;
      while (capacity < need) capacity *= 2;
      data_ = static_cast<char*>(vk_realloc(data_, capacity));
      capacity_ = capacity;
    }
  }
  if (n > 0) memcpy(data_ + write_pos_, src, n);
  write_pos_ += n;
}

void codec_buffer_t::read_failed(size_t n) const {
  if (units_ && unit_end_ - read_pos_ < n) {
    throw codec_exception_t("Unexpected number of bytes read.", true);
  }
  throw codec_exception_t("Read beyond end of buffer.", true);
}

void codec_reader_t::overrun() { throw codec_exception_t("Unexpected number of bytes read.", true); }

void codec_buffer_t::assert_read(size_t n) {
  if (read_pos_ != unit_end_) throw codec_exception_t("Unexpected number of bytes read.", true);
  unit_end_ = read_pos_ + n;
  units_ = true;
}

namespace {

inline uint16_t load16(const char* p) {
  const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint16_t>((u[0] << 8) | u[1]);
}

inline uint32_t load32(const char* p) {
  const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
  return (static_cast<uint32_t>(u[0]) << 24) | (static_cast<uint32_t>(u[1]) << 16) |
         (static_cast<uint32_t>(u[2]) << 8) | static_cast<uint32_t>(u[3]);
}

inline uint64_t load64(const char* p) {
  return (static_cast<uint64_t>(load32(p)) << 32) | load32(p + 4);
}

inline void store32(char* p, uint32_t v) {
  p[0] = static_cast<char>(v >> 24);
  p[1] = static_cast<char>(v >> 16);
  p[2] = static_cast<char>(v >> 8);
  p[3] = static_cast<char>(v);
}

}  // namespace

void binary_encode_uint8(codec_buffer_t* buffer, uint8_t value) {
  char b = static_cast<char>(value);
  buffer->write(&b, 1);
}

void binary_encode_uint16(codec_buffer_t* buffer, uint16_t value) {
  char b[2] = {static_cast<char>(value >> 8), static_cast<char>(value)};
  buffer->write(b, 2);
}

void binary_encode_uint32(codec_buffer_t* buffer, uint32_t value) {
  char b[4];
  store32(b, value);
  buffer->write(b, 4);
}

void binary_encode_uint64(codec_buffer_t* buffer, uint64_t value) {
  char b[8];
  store32(b, static_cast<uint32_t>(value >> 32));
  store32(b + 4, static_cast<uint32_t>(value));
  buffer->write(b, 8);
}

uint8_t binary_decode_uint8(codec_buffer_t* buffer) {
  return static_cast<uint8_t>(*buffer->read(1));
}

uint16_t binary_decode_uint16(codec_buffer_t* buffer) { return load16(buffer->read(2)); }

uint32_t binary_decode_uint32(codec_buffer_t* buffer) { return load32(buffer->read(4)); }

uint64_t binary_decode_uint64(codec_buffer_t* buffer) { return load64(buffer->read(8)); }

void binary_encode_address_v0(codec_buffer_t* buffer, qnt_address_t address) {
  char b[12] = {0, 0, 0, 0};
  uint64_t value = address;
  store32(b + 4, static_cast<uint32_t>(value >> 32));
  store32(b + 8, static_cast<uint32_t>(value));
  buffer->write(b, 12);
}

qnt_address_t binary_decode_address_v0(codec_buffer_t* buffer) {
  return qnt_address_t(load64(buffer->read(12) + 4));
}

void binary_encode_data16(codec_buffer_t* buffer, const char* data, size_t data_length) {
  assert(data != __null);  // the texts of these checks are kept as shipped
  assert(data_length <= (65535));
  binary_encode_uint16(buffer, static_cast<uint16_t>(data_length));
  buffer->write(data, data_length);
}

void binary_decode_data16(codec_buffer_t* buffer, std::string& text) {
  uint16_t length = binary_decode_uint16(buffer);
  const char* p = buffer->read(length);
  if (length == 0) {
    text.clear();
  } else {
    text.assign(p, length - 1u);
  }
}

std::string binary_decode_data16(codec_buffer_t* buffer) {
  std::string text;
  binary_decode_data16(buffer, text);
  return text;
}

uint32_t ones32(uint32_t x) {
  x -= ((x >> 1) & 0x55555555);
  x = (((x >> 2) & 0x33333333) + (x & 0x33333333));
  x = (((x >> 4) + x) & 0x0f0f0f0f);
  x += (x >> 8);
  x += (x >> 16);
  return x & 0x0000003f;
}

uint8_t line_size_to_log(qnt_line_size_t size) {
  uint64_t v = size;
  if (v == 0) return 255;
  // Set every bit below the highest one, drop the highest: the count of the
  // remaining ones is floor(log2 v).
  v |= v >> 1;
  v |= v >> 2;
  v |= v >> 4;
  v |= v >> 8;
  v |= v >> 16;
  v |= v >> 32;
  v >>= 1;
  return static_cast<uint8_t>(ones32(static_cast<uint32_t>(v)) +
                              ones32(static_cast<uint32_t>(v >> 32)));
}

void binary_encode_line_size(codec_buffer_t* buffer, qnt_line_size_t size) {
  binary_encode_uint8(buffer, line_size_to_log(size));
}

qnt_line_size_t binary_decode_line_size(codec_buffer_t* buffer) {
  return qnt_line_size_from_log(binary_decode_uint8(buffer));
}

void binary_encode_access(codec_buffer_t* buffer, const qnt_sample_access_t& access) {
  binary_encode_uint64(buffer, access.pc);
  binary_encode_uint64(buffer, access.addr);
  binary_encode_uint64(buffer, access.time);
  binary_encode_uint32(buffer, access.stack);
  binary_encode_uint32(buffer, access.thread);
  binary_encode_uint16(buffer, access.size);
  binary_encode_uint8(buffer, access.access_type);
}

void binary_decode_access(codec_buffer_t* buffer, qnt_sample_access_t& access) {
  const char* p = buffer->read(35);
  access.pc = qnt_address_t(load64(p));
  access.addr = qnt_address_t(load64(p + 8));
  access.time = load64(p + 16);
  access.stack = load32(p + 24);
  access.thread = qnt_thread_id_t(load32(p + 28));
  access.size = load16(p + 32);
  access.access_type = static_cast<qnt_access_type_t>(static_cast<unsigned char>(p[34]));
}

}}  // namespace velkor::library
