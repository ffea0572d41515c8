// Text forms of the event model beyond the scalar ones: padded address
// renderings, sets and vectors of addresses. The stream operators of the
// scalar types, of the sampled access and of the events are declared beside
// their types (qnt_types.h, qnt_events.h); all of them are defined in
// qnt_render.cc. Used by dump and debugging output.
#ifndef LIBRARY_EVENTS_QNT_RENDER_H_
#define LIBRARY_EVENTS_QNT_RENDER_H_

#include <ostream>
#include <set>
#include <vector>

#include "events/qnt_events.h"
#include "events/qnt_types.h"

namespace velkor { namespace library {

// Selects the padded rendering of the value it refers to: an address as
// "0x%016x", the elements of a set or vector of addresses likewise. Holds a
// reference and owns nothing; build it in the output expression itself:
//   os << pad(event.pc);
template <typename T>
struct pad_t {
  explicit pad_t(const T& v) : value(v) {}
  const T& value;
};

template <typename T>
pad_t<T> pad(const T& value) {
  return pad_t<T>(value);
}

// ---- Texts ----

// Makes the event renderings on this stream show the texts they carry (user,
// command line, file name) through printable_text (support/printable_text.h):
// control characters as \xNN. Without it they are written as stored.
//   os << escape_texts << event;
std::ios_base& escape_texts(std::ios_base& stream);
bool texts_escaped(std::ios_base& stream);

// ---- Addresses ----

// "0x" and exactly sixteen lower-case hex digits.
std::ostream& operator<<(std::ostream& os, const pad_t<qnt_address_t>& address);

// "(" the addresses, unpadded, separated by "," without blanks, ")"; "()" when
// empty. Sets in ascending order, vectors in their order.
std::ostream& operator<<(std::ostream& os, const std::set<qnt_address_t>& addresses);
std::ostream& operator<<(std::ostream& os, const std::vector<qnt_address_t>& addresses);

// The same with every address padded to sixteen digits.
std::ostream& operator<<(std::ostream& os, const pad_t<std::set<qnt_address_t> >& addresses);
std::ostream& operator<<(std::ostream& os,
                         const pad_t<std::vector<qnt_address_t> >& addresses);

}}  // namespace velkor::library
#endif
