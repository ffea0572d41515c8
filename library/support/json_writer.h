// The one JSON writer of the toolkit: objects, arrays, keys, integers, reals,
// booleans and strings of arbitrary bytes, with the commas in between.
// sample_dump writes its JSON lines with it, and every program that offers a
// JSON form writes its document with it.
//
// Strings: valid UTF-8 is copied as it is; '"', '\\' and the control
// characters 0x00 to 0x1f are escaped ("\n", "\t", ... or "\u00XX"). Every
// byte that is not part of a well-formed UTF-8 sequence (a stray
// continuation byte, a truncated or overlong sequence, an encoded surrogate,
// anything above U+10FFFF) is written as the escape "\uDCXX" of that byte
// (0x80 to 0xff), the lone low surrogate that Python's 'surrogateescape'
// error handler uses. No valid input produces such an escape, so the bytes
// can always be restored exactly, and the text itself is always valid UTF-8.
#ifndef LIBRARY_SUPPORT_JSON_WRITER_H_
#define LIBRARY_SUPPORT_JSON_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

namespace velkor { namespace library {

// Appends JSON tokens and puts commas between the members of objects and
// arrays. The caller keeps the nesting right: a key before each value inside
// an object, none inside an array, every open closed.
//
// Without an output stream the text stays in memory (text(), clear()). With
// one, the writer hands its text to the stream whenever it has gathered a
// spill's worth, and at end_line() and flush(): a document or line of any
// length then costs a bounded buffer, never a copy of itself.
class json_writer_t {
 public:
  // Text is gathered in memory.
  json_writer_t() : out_(nullptr), first_(true) {}
  // Text goes to out (not owned), which must outlive the writer.
  explicit json_writer_t(std::ostream* out) : out_(out), first_(true) {}

  // The text gathered and not yet handed to the stream; the whole text when
  // there is no stream.
  const std::string& text() const { return text_; }
  // Drops the gathered text (keeping its storage) and starts afresh, as at
  // the start of a line.
  void clear() {
    text_.clear();
    first_ = true;
  }
  // A newline; then, with a stream, everything gathered goes to it. The next
  // value starts a new line without a comma.
  void end_line();
  // With a stream, hands it everything gathered.
  void flush();

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
  // The shortest decimal text that reads back as the same double, with ".0"
  // after a whole number so that it reads back as a real; null for a value
  // JSON cannot hold (infinite or not a number).
  void real(double value);
  // "0x" and lower-case hexadecimal digits without padding, as a string.
  void hex_string(uint64_t value);
  void boolean(bool value);
  void null();
  // Any bytes, escaped as described above.
  void string(const std::string& bytes) { string(bytes.data(), bytes.size()); }
  void string(const char* bytes, size_t length);
  // A value that is JSON text already, copied as it is: one complete value
  // that a writer wrote before and the caller kept, so that a value written
  // again and again costs a copy. The caller vouches for the text.
  void raw_value(const char* json, size_t length) {
    separate();
    text_.append(json, length);
  }
  void raw_value(const std::string& json) { raw_value(json.data(), json.size()); }

  // ---- Shorthands for members ----
  void member(const char* name, uint64_t value);
  void member(const char* name, const std::string& value) {
    key(name);
    string(value);
  }
  void member(const char* name, const char* value);
  void real_member(const char* name, double value) {
    key(name);
    real(value);
  }
  void bool_member(const char* name, bool value) {
    key(name);
    boolean(value);
  }
  // name as a number, then name + "_hex" as a hexadecimal string.
  void address_member(const char* name, uint64_t value);

 private:
  // Text gathered before it goes to the stream.
  static constexpr size_t spill_size = 64 * 1024;
  // Names up to this long are written with their value in one piece.
  static constexpr size_t max_fast_name = 32;

  void separate() {
    if (!first_) text_ += ',';
    first_ = false;
    if (out_ != nullptr && text_.size() >= spill_size) flush();
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

  std::ostream* out_;
  std::string text_;
  bool first_;  // nothing yet in the current object or array, or a key just written
};

}}  // namespace velkor::library
#endif
