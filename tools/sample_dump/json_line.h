// Builds one line of JSON text in a reusable buffer: objects, arrays, keys,
// unsigned and signed integers, booleans and strings of arbitrary bytes.
// sample_dump writes each event of its JSON form with it.
//
// Strings: valid UTF-8 is copied as it is; '"', '\\' and the control
// characters 0x00 to 0x1f are escaped ("\n", "\t", ... or "\u00XX"). Every
// byte that is not part of a well-formed UTF-8 sequence (a stray
// continuation byte, a truncated or overlong sequence, an encoded surrogate,
// anything above U+10FFFF) is written as the escape "\uDCXX" of that byte
// (0x80 to 0xff), the lone low surrogate that Python's 'surrogateescape'
// error handler uses. No valid input produces such an escape, so the bytes
// can always be restored exactly, and the line itself is always valid UTF-8.
#ifndef TOOLS_SAMPLE_DUMP_JSON_LINE_H_
#define TOOLS_SAMPLE_DUMP_JSON_LINE_H_

#include <cstdint>
#include <string>

namespace velkor { namespace dump {

// Appends JSON tokens and puts commas between the members of objects and
// arrays. The caller keeps the nesting right: a key before each value inside
// an object, none inside an array, every open closed.
class json_line_t {
 public:
  json_line_t() : first_(true) {}

  // Empties the line (keeping its storage) for the next one.
  void clear() {
    text_.clear();
    first_ = true;
  }
  const std::string& text() const { return text_; }

  // ---- Structure ----
  void begin_object() { open('{'); }
  void end_object() { close('}'); }
  void begin_array() { open('['); }
  void end_array() { close(']'); }
  // A member name, name + suffix, given as plain ASCII without characters to
  // escape.
  void key(const char* name, const char* suffix = "");

  // ---- Values ----
  void number(uint64_t value);
  void signed_number(int64_t value);
  // "0x" and lower-case hexadecimal digits without padding, as a string.
  void hex_string(uint64_t value);
  void boolean(bool value);
  void null();
  // Any bytes, escaped as described above.
  void string(const std::string& bytes) { string(bytes.data(), bytes.size()); }
  void string(const char* bytes, size_t length);

  // ---- Shorthands for members ----
  void member(const char* name, uint64_t value) {
    key(name);
    number(value);
  }
  void member(const char* name, const std::string& value) {
    key(name);
    string(value);
  }
  void member(const char* name, const char* value);
  // name as a number, then name + "_hex" as a hexadecimal string.
  void address_member(const char* name, uint64_t value);

 private:
  void separate() {
    if (!first_) text_ += ',';
    first_ = false;
  }
  void open(char bracket) {
    separate();
    text_ += bracket;
    first_ = true;
  }
  void close(char bracket) {
    text_ += bracket;
    first_ = false;
  }

  std::string text_;
  bool first_;  // nothing yet in the current object or array, or a key just written
};

}}  // namespace velkor::dump
#endif
