#include "support/printable_text.h"

namespace velkor { namespace library {

namespace {

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }

}  // namespace

std::string printable_text(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (is_control(c)) {
      out += "\\x";
      out += digits[c >> 4];
      out += digits[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

void write_printable_text(std::ostream& os, const std::string& text) {
  for (char ch : text) {
    if (is_control(static_cast<unsigned char>(ch))) {
      os << printable_text(text);
      return;
    }
  }
  os << text;
}

}}  // namespace velkor::library
