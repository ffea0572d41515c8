// Scalar types of the event model (addresses, thread ids, access types, line
// sizes), the record of one sampled access, the access filters, the prefetch
// class lookup and the size parser and formatter. Used by the event records,
// the codec and the statistics program.
#ifndef LIBRARY_EVENTS_QNT_TYPES_H_
#define LIBRARY_EVENTS_QNT_TYPES_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace velkor { namespace library {

// ---- Addresses and thread ids ----------------------------------------------
//
// Both are thin wrappers around one unsigned integer rather than typedefs, so
// that they can have stream operators of their own: an address prints as
// "0x%x" whatever the stream's number base, a thread id as a decimal number.
// Operators for typedefs of uint64_t or uint32_t would catch every integer of
// those types. The wrappers cost nothing (one member, trivially copyable,
// constexpr) and convert implicitly in both directions, so they are compared,
// ordered (std::set, std::map, multi_index), hashed and passed to integer code
// as their plain value; arithmetic yields the plain integer type.
//
// The stream operators are declared here, beside the types, so that no unit
// can see a type without them and print the converted decimal value instead.
// Pass `.value` (not the wrapper) to printf and to format directives: a
// formatter that takes streamable values would render the wrapper through its
// own operator ("0x...").

struct qnt_address_t {
  uint64_t value;

  constexpr qnt_address_t() : value(0) {}
  constexpr qnt_address_t(uint64_t v) : value(v) {}  // implicit on purpose
  constexpr operator uint64_t() const { return value; }
};

struct qnt_thread_id_t {
  uint32_t value;

  constexpr qnt_thread_id_t() : value(0) {}
  constexpr qnt_thread_id_t(uint32_t v) : value(v) {}  // implicit on purpose
  constexpr operator uint32_t() const { return value; }
};

// "0x" and lower-case hex digits, no padding (printf's "0x%x"); the stream's
// flags are neither read nor changed.
std::ostream& operator<<(std::ostream& os, const qnt_address_t& address);
// The value through the stream's own unsigned-integer output.
std::ostream& operator<<(std::ostream& os, const qnt_thread_id_t& thread);

// ---- Access types and classes ----------------------------------------------

// One of the thirteen access types below (0 to 12). A damaged file can carry
// any byte here; the lookups in quenth.h answer a placeholder for those.
typedef uint8_t qnt_access_type_t;

const qnt_access_type_t qnt_access_rd = 0;               // "RD"
const qnt_access_type_t qnt_access_wr = 1;               // "WR"
const qnt_access_type_t qnt_access_pf = 2;               // "PF"
const qnt_access_type_t qnt_access_rdwr = 3;             // "RDWR"
const qnt_access_type_t qnt_access_pf_amd = 4;           // "PF_AMD"
const qnt_access_type_t qnt_access_pf_amd_w = 5;         // "PF_AMD_W"
const qnt_access_type_t qnt_access_pf_intel_nta = 6;     // "PF_Intel_NTA"
const qnt_access_type_t qnt_access_pf_intel_t0 = 7;      // "PF_Intel_T0"
const qnt_access_type_t qnt_access_pf_intel_t1 = 8;      // "PF_Intel_T1"
const qnt_access_type_t qnt_access_pf_intel_t2 = 9;      // "PF_Intel_T2"
const qnt_access_type_t qnt_access_clflush = 10;         // "CLFLUSH"
const qnt_access_type_t qnt_access_nta_rd = 11;          // "NTA_RD"
const qnt_access_type_t qnt_access_nta_wr = 12;          // "NTA_WR"
const unsigned qnt_access_type_count = 13;

// Bit set of the classes of an access type.
typedef uint8_t qnt_access_classes_t;

const qnt_access_classes_t access_class_read = 1;
const qnt_access_classes_t access_class_write = 2;
const qnt_access_classes_t access_class_prefetch = 4;
const qnt_access_classes_t access_class_nta = 8;
const qnt_access_classes_t access_class_flush = 16;

// ---- Line sizes --------------------------------------------------------------

// A cache-line size in bytes (a power of two, or 0 for none).
typedef uint64_t qnt_line_size_t;

// Where a line size is stored in one byte, the byte is its base-2 logarithm and
// 255 means none: 255 -> 0, any other v -> 2 to the power (v modulo 64).
constexpr qnt_line_size_t qnt_line_size_from_log(uint8_t log) {
  return log == 255 ? 0 : qnt_line_size_t(1) << (log % 64);
}

// ---- Sampled access ----------------------------------------------------------

// One memory access of a sample: the begin or one of the ends of a sample
// event. Default construction zeroes every field.
struct qnt_sample_access_t {
  qnt_address_t pc;
  qnt_address_t addr;
  uint64_t time = 0;
  uint32_t stack = 0;
  qnt_thread_id_t thread;
  uint16_t size = 0;
  qnt_access_type_t access_type = 0;

  // All derived from get_access_classes(access_type). An access type outside
  // 0 to 12 has no classes: it is neither read, write, prefetch nor proper.
  // False without the read bit; with it, true when prefetches are included,
  // else only when the prefetch bit is clear.
  bool is_read(bool include_prefetch) const;
  // The same with the write bit.
  bool is_write(bool include_prefetch) const;
  bool is_prefetch() const;
  // A genuine data access: no prefetch, no flush (non-temporal ones count).
  bool is_proper() const;
};

// Equal when all seven fields are equal.
bool operator==(const qnt_sample_access_t& a, const qnt_sample_access_t& b);
bool operator!=(const qnt_sample_access_t& a, const qnt_sample_access_t& b);

// "time T, thread: TID, pc 0x<16 hex>, stack S, addr 0x<16 hex>, size N,
// type NAME", no newline.
std::ostream& operator<<(std::ostream& os, const qnt_sample_access_t& access);

// ---- Access filters ----------------------------------------------------------

// Select accesses by their class bit set (not by access type).
typedef bool (*qnt_access_filter_t)(qnt_access_classes_t classes);

bool qnt_access_filter_any(qnt_access_classes_t classes);       // always
bool qnt_access_filter_rd(qnt_access_classes_t classes);        // read, no prefetch
bool qnt_access_filter_wr(qnt_access_classes_t classes);        // write, no prefetch, no nta
bool qnt_access_filter_wr_wrnta(qnt_access_classes_t classes);  // write, no prefetch
bool qnt_access_filter_rw(qnt_access_classes_t classes);        // rd or wr
bool qnt_access_filter_pf(qnt_access_classes_t classes);        // prefetch

// ---- Prefetch classes --------------------------------------------------------

// The single-bit value of a prefetch instruction name ("prefetch" 2,
// "prefetchw" 4, "prefetchnta" 8, "prefetcht0" 16, "prefetcht1" 32,
// "prefetcht2" 64); exact, case-sensitive match. 0 for null or unknown names.
uint16_t qnt_prefetch_class_by_name(const char* name);

// ---- Sizes with units --------------------------------------------------------

// Leading decimal digits (wrapping on overflow), then an optional unit letter
// K, M, G, T or P in either case (shift by 10, 20, 30, 40, 50 bits). Nothing
// after the first non-digit is examined; no sign, no error. s must not be null.
uint64_t qnt_parse_num_string(const char* s);

// "0" for 0; otherwise n divided by the largest power of 1024 not above it,
// in the default floating-point format (six significant digits), a blank and
// the unit: "1 B", "1.5 kB", "1024 kB", "16 EB".
std::string qnt_format_num_string(uint64_t n);

}}  // namespace velkor::library

namespace std {
template <>
struct hash<velkor::library::qnt_address_t> {
  size_t operator()(const velkor::library::qnt_address_t& a) const noexcept {
    return hash<uint64_t>()(a.value);
  }
};
template <>
struct hash<velkor::library::qnt_thread_id_t> {
  size_t operator()(const velkor::library::qnt_thread_id_t& t) const noexcept {
    return hash<uint32_t>()(t.value);
  }
};
}  // namespace std

#endif
