#include "support/json_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace velkor { namespace library {

namespace {

const char hex_digits[] = "0123456789abcdef";

bool in(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

// The length of the well-formed UTF-8 sequence of two or more bytes that
// starts at s (n bytes available), or 0 when there is none there.
size_t utf8_sequence(const unsigned char* s, size_t n) {
  unsigned char lead = s[0];
  if (in(lead, 0xc2, 0xdf)) return n >= 2 && in(s[1], 0x80, 0xbf) ? 2 : 0;
  if (in(lead, 0xe0, 0xef)) {
    if (n < 3) return 0;
    // No overlong forms (after e0), no surrogates (after ed).
    unsigned char low = lead == 0xe0 ? 0xa0 : 0x80;
    unsigned char high = lead == 0xed ? 0x9f : 0xbf;
    return in(s[1], low, high) && in(s[2], 0x80, 0xbf) ? 3 : 0;
  }
  if (in(lead, 0xf0, 0xf4)) {
    if (n < 4) return 0;
    // No overlong forms (after f0), nothing above U+10FFFF (after f4).
    unsigned char low = lead == 0xf0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xf4 ? 0x8f : 0xbf;
    return in(s[1], low, high) && in(s[2], 0x80, 0xbf) && in(s[3], 0x80, 0xbf) ? 4 : 0;
  }
  return 0;
}

void append_u_escape(std::string* text, unsigned high_byte, unsigned char low_byte) {
  char escape[6] = {'\\', 'u', hex_digits[high_byte >> 4], hex_digits[high_byte & 15],
                    hex_digits[low_byte >> 4], hex_digits[low_byte & 15]};
  text->append(escape, sizeof(escape));
}

}  // namespace

void json_writer_t::end_line() {
  text_ += '\n';
  first_ = true;
  flush();
}

void json_writer_t::flush() {
  if (out_ == nullptr || text_.empty()) return;
  out_->write(text_.data(), static_cast<std::streamsize>(text_.size()));
  text_.clear();
}

void json_writer_t::key(const char* name, const char* suffix) {
  separate();
  size_t name_length = strlen(name);
  size_t suffix_length = strlen(suffix);
  char token[max_fast_name * 2 + 4];
  if (name_length + suffix_length <= max_fast_name * 2) {
    // One append for the whole token: keys are written by the million.
    char* p = token;
    *p++ = '"';
    memcpy(p, name, name_length);
    p += name_length;
    memcpy(p, suffix, suffix_length);
    p += suffix_length;
    *p++ = '"';
    *p++ = ':';
    text_.append(token, static_cast<size_t>(p - token));
  } else {
    text_ += '"';
    text_.append(name, name_length);
    text_.append(suffix, suffix_length);
    text_ += "\":";
  }
  first_ = true;  // the value follows without a comma
}

void json_writer_t::number(uint64_t value) {
  separate();
  char digits[20];
  auto end = std::to_chars(digits, digits + sizeof(digits), value).ptr;
  text_.append(digits, static_cast<size_t>(end - digits));
}

void json_writer_t::signed_number(int64_t value) {
  separate();
  char digits[20];
  auto end = std::to_chars(digits, digits + sizeof(digits), value).ptr;
  text_.append(digits, static_cast<size_t>(end - digits));
}

void json_writer_t::real(double value) {
  if (!std::isfinite(value)) {
    null();
    return;
  }
  separate();
  char digits[32];
  auto end = std::to_chars(digits, digits + sizeof(digits), value).ptr;
  text_.append(digits, static_cast<size_t>(end - digits));
  // A real stays a real for every reader: 50 is written as 50.0.
  if (std::find_if(digits, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
    text_ += ".0";
  }
}

void json_writer_t::hex_string(uint64_t value) {
  separate();
  char token[20] = {'"', '0', 'x'};
  char* end = std::to_chars(token + 3, token + 19, value, 16).ptr;
  *end++ = '"';
  text_.append(token, static_cast<size_t>(end - token));
}

void json_writer_t::boolean(bool value) {
  separate();
  text_ += value ? "true" : "false";
}

void json_writer_t::null() {
  separate();
  text_ += "null";
}

void json_writer_t::string(const char* bytes, size_t length) {
  separate();
  const unsigned char* s = reinterpret_cast<const unsigned char*>(bytes);
  text_ += '"';
  size_t i = 0;
  while (i < length) {
    // Plain ASCII in one run.
    size_t run = i;
    while (run < length && s[run] >= 0x20 && s[run] < 0x80 && s[run] != '"' && s[run] != '\\') {
      ++run;
    }
    text_.append(bytes + i, run - i);
    i = run;
    if (i == length) break;

    unsigned char c = s[i];
    if (c >= 0x80) {
      size_t n = utf8_sequence(s + i, length - i);
      if (n > 0) {
        text_.append(bytes + i, n);
        i += n;
      } else {
        append_u_escape(&text_, 0xdc, c);
        ++i;
      }
      continue;
    }
    switch (c) {
      case '"': text_ += "\\\""; break;
      case '\\': text_ += "\\\\"; break;
      case '\b': text_ += "\\b"; break;
      case '\f': text_ += "\\f"; break;
      case '\n': text_ += "\\n"; break;
      case '\r': text_ += "\\r"; break;
      case '\t': text_ += "\\t"; break;
      default: append_u_escape(&text_, 0x00, c); break;
    }
    ++i;
  }
  text_ += '"';
}

void json_writer_t::member(const char* name, const char* value) {
  key(name);
  string(value, strlen(value));
}

void json_writer_t::member(const char* name, uint64_t value) {
  size_t length = strlen(name);
  if (length > max_fast_name) {
    key(name);
    number(value);
    return;
  }
  // "name":digits in one append.
  separate();
  char token[max_fast_name + 24];
  char* p = token;
  *p++ = '"';
  memcpy(p, name, length);
  p += length;
  *p++ = '"';
  *p++ = ':';
  p = std::to_chars(p, token + sizeof(token), value).ptr;
  text_.append(token, static_cast<size_t>(p - token));
}

void json_writer_t::address_member(const char* name, uint64_t value) {
  size_t length = strlen(name);
  if (length > max_fast_name) {
    key(name);
    number(value);
    key(name, "_hex");
    hex_string(value);
    return;
  }
  // "name":digits,"name_hex":"0x..." in one append.
  separate();
  char token[max_fast_name * 2 + 64];
  char* p = token;
  *p++ = '"';
  memcpy(p, name, length);
  p += length;
  *p++ = '"';
  *p++ = ':';
  p = std::to_chars(p, p + 20, value).ptr;
  *p++ = ',';
  *p++ = '"';
  memcpy(p, name, length);
  p += length;
  memcpy(p, "_hex\":\"0x", 9);
  p += 9;
  p = std::to_chars(p, p + 16, value, 16).ptr;
  *p++ = '"';
  text_.append(token, static_cast<size_t>(p - token));
}

}}  // namespace velkor::library
