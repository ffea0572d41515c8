#include "events/qnt_types.h"

#include <cassert>
#include <cstring>
#include <locale>
#include <sstream>

#include "events/quenth.h"

namespace velkor { namespace library {

// ---- Sampled access ----------------------------------------------------------

bool qnt_sample_access_t::is_read(bool include_prefetch) const {
  qnt_access_classes_t c = get_access_classes(access_type);
  if (!(c & access_class_read)) return false;
  return include_prefetch || !(c & access_class_prefetch);
}

bool qnt_sample_access_t::is_write(bool include_prefetch) const {
  qnt_access_classes_t c = get_access_classes(access_type);
  if (!(c & access_class_write)) return false;
  return include_prefetch || !(c & access_class_prefetch);
}

bool qnt_sample_access_t::is_prefetch() const {
  return (get_access_classes(access_type) & access_class_prefetch) != 0;
}

bool qnt_sample_access_t::is_proper() const {
  qnt_access_classes_t c = get_access_classes(access_type);
  // Every known type reads, writes or flushes, so the first test only turns
  // away types without classes (unknown ones).
  if (!(c & (access_class_read | access_class_write))) return false;
  return !(c & (access_class_prefetch | access_class_flush));
}

bool operator==(const qnt_sample_access_t& a, const qnt_sample_access_t& b) {
  return a.pc == b.pc && a.addr == b.addr && a.time == b.time && a.stack == b.stack &&
         a.thread == b.thread && a.size == b.size && a.access_type == b.access_type;
}

bool operator!=(const qnt_sample_access_t& a, const qnt_sample_access_t& b) {
  return !(a == b);
}

// ---- Access filters ----------------------------------------------------------

bool qnt_access_filter_any(qnt_access_classes_t) { return true; }

bool qnt_access_filter_rd(qnt_access_classes_t c) {
  return (c & access_class_read) && !(c & access_class_prefetch);
}

bool qnt_access_filter_wr(qnt_access_classes_t c) {
  return (c & access_class_write) && !(c & (access_class_prefetch | access_class_nta));
}

bool qnt_access_filter_wr_wrnta(qnt_access_classes_t c) {
  return (c & access_class_write) && !(c & access_class_prefetch);
}

bool qnt_access_filter_rw(qnt_access_classes_t c) {
  return qnt_access_filter_rd(c) || qnt_access_filter_wr(c);
}

bool qnt_access_filter_pf(qnt_access_classes_t c) { return (c & access_class_prefetch) != 0; }

// ---- Prefetch classes --------------------------------------------------------

namespace {

struct prefetch_class_entry_t {
  const char* name;
  uint16_t value;
};

// Searched in order; ends with an empty entry.
const prefetch_class_entry_t prefetch_classes[] = {
    {"prefetch", 2},    {"prefetchw", 4},   {"prefetchnta", 8},
    {"prefetcht0", 16}, {"prefetcht1", 32}, {"prefetcht2", 64},
    {nullptr, 0},
};

}  // namespace

uint16_t qnt_prefetch_class_by_name(const char* name) {
  if (name == nullptr) return 0;
  for (const prefetch_class_entry_t* e = prefetch_classes; e->name != nullptr; ++e) {
    if (std::strcmp(e->name, name) == 0) return e->value;
  }
  return 0;
}

// ---- Sizes with units --------------------------------------------------------

uint64_t qnt_parse_num_string(const char* s) {
  assert(s != 0);
  uint64_t value = 0;
  for (; *s >= '0' && *s <= '9'; ++s) value = value * 10 + uint64_t(*s - '0');
  switch (*s) {
    case 'k': case 'K': return value << 10;
    case 'm': case 'M': return value << 20;
    case 'g': case 'G': return value << 30;
    case 't': case 'T': return value << 40;
    case 'p': case 'P': return value << 50;
    default: return value;
  }
}

std::string qnt_format_num_string(uint64_t n) {
  if (n == 0) return "0";
  static const char* const units[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
  unsigned highest_bit = 63 - unsigned(__builtin_clzll(n));
  unsigned i = highest_bit / 10;
  double quotient = double(n) / double(uint64_t(1) << (10 * i));
  std::ostringstream out;
  out.imbue(std::locale::classic());  // never a grouping or a decimal comma
  out << quotient << ' ' << units[i];
  return out.str();
}

}}  // namespace velkor::library
