// Texts from a recording (file names, user, command line) shown on a
// terminal or in a line-oriented report: control characters would break
// lines, forge report lines or reach the terminal as escape sequences, so
// they are shown as \xNN. Used by the text outputs of the programs and by the
// event renderings of a stream that asks for it.
#ifndef LIBRARY_SUPPORT_PRINTABLE_TEXT_H_
#define LIBRARY_SUPPORT_PRINTABLE_TEXT_H_

#include <ostream>
#include <string>

namespace velkor { namespace library {

// The bytes 0x00 to 0x1f and 0x7f as "\x" and two lower-case hex digits;
// every other byte as it is.
std::string printable_text(const std::string& text);
void write_printable_text(std::ostream& os, const std::string& text);

}}  // namespace velkor::library
#endif
