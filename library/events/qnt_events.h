// The event records of a sample file: the abstract base qnt_event_t, the kind
// enumeration and one plain value class per kind. The decoder creates them,
// the encoder writes them, flows dispatch on get_kind() and read the fields.
#ifndef LIBRARY_EVENTS_QNT_EVENTS_H_
#define LIBRARY_EVENTS_QNT_EVENTS_H_

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "events/qnt_types.h"

namespace velkor { namespace library {

// The numbers are fixed: flow handler tables are listed in this order and
// statistics keyed by kind sort by it. The complete sample is 11, after stack.
enum qnt_event_kind_t {
  kind_read = 0,
  kind_write = 1,
  kind_prefetch = 2,
  kind_sample_begin = 3,
  kind_sample_end = 4,
  kind_sample_period = 5,
  kind_acquisition_begin = 6,
  kind_acquisition_end = 7,
  kind_mmap = 8,
  kind_munmap = 9,
  kind_stack = 10,
  kind_sample = 11,
  kind_time_mapping = 12,
  kind_local_time = 13,
  kind_burst_begin = 14,
  kind_burst_end = 15,
  kind_contexts = 16,
};

const unsigned qnt_event_kind_count = 17;

// The name of each kind, that of its flow handler ("read", ..., "contexts"):
// how sample_dump's --kind and the JSON forms name kinds.
const char* kind_name(qnt_event_kind_t kind);
// The kind of that name; false when there is none.
bool kind_by_name(const std::string& name, qnt_event_kind_t* kind);
// All names in kind order, separated by ", ".
std::string kind_names();

// ---- Base ----------------------------------------------------------------------

// An event. get_kind() names the concrete class: code that needs the fields
// converts the reference to the class of that kind (each class also carries
// its kind as the constant `kind`). Events have value semantics; a flow that
// keeps one copies the concrete class.
class qnt_event_t {
 public:
  virtual ~qnt_event_t() {}

  virtual qnt_event_kind_t get_kind() const = 0;
  // Writes the text form (single-line forms end without a newline, the
  // multi-line ones with a newline and a flush) and returns os.
  virtual std::ostream& stream_put(std::ostream& os) const = 0;
  // False for an event of another kind (decided before any field is read);
  // otherwise compares the fields of the class in declaration order.
  virtual bool operator==(const qnt_event_t& other) const = 0;

  bool operator!=(const qnt_event_t& other) const { return !(*this == other); }

 protected:
  qnt_event_t() {}
  qnt_event_t(const qnt_event_t&) = default;
  qnt_event_t& operator=(const qnt_event_t&) = default;
};

inline std::ostream& operator<<(std::ostream& os, const qnt_event_t& event) {
  return event.stream_put(os);
}

// Every class below: default construction zeroes the numbers and leaves the
// strings and vectors empty; copies copy every field.

// ---- Memory accesses (kinds 0, 1, 2) -------------------------------------------

class qnt_event_read_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_read;
  qnt_event_kind_t get_kind() const override { return kind_read; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  qnt_address_t pc;
  qnt_address_t addr;
  qnt_thread_id_t thread_id;
  uint16_t size = 0;
};

class qnt_event_write_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_write;
  qnt_event_kind_t get_kind() const override { return kind_write; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  qnt_address_t pc;
  qnt_address_t addr;
  qnt_thread_id_t thread_id;
  uint16_t size = 0;
};

class qnt_event_prefetch_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_prefetch;
  qnt_event_kind_t get_kind() const override { return kind_prefetch; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  qnt_address_t pc;
  qnt_address_t addr;
  qnt_thread_id_t thread_id;
  uint16_t size = 0;
};

// ---- Samples as separate begin and end (kinds 3, 4) ----------------------------

// The access that starts a sample; the end of the same sample has the same
// sample_id.
class qnt_event_sample_begin_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_sample_begin;
  qnt_event_kind_t get_kind() const override { return kind_sample_begin; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  uint64_t time = 0;
  qnt_thread_id_t thread_id;
  uint32_t sample_id = 0;
  qnt_address_t pc;
  qnt_address_t next_pc;  // the instruction after pc
  qnt_address_t addr;
  qnt_access_type_t access_type = 0;
  uint16_t access_size = 0;
  qnt_line_size_t line_size = 0;  // bytes, already converted from the logarithm
};

class qnt_event_sample_end_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_sample_end;
  qnt_event_kind_t get_kind() const override { return kind_sample_end; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  uint64_t time = 0;
  qnt_thread_id_t thread_id;
  uint32_t sample_id = 0;
  qnt_address_t pc;
  qnt_address_t addr;
  qnt_access_type_t access_type = 0;
  uint16_t access_size = 0;
  uint64_t rdist = 0;  // reuse distance
};

class qnt_event_sample_period_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_sample_period;
  qnt_event_kind_t get_kind() const override { return kind_sample_period; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  uint64_t sample_period = 0;  // nominal; the binary writer needs it to fit 32 bits
};

// ---- Acquisition (kinds 6, 7) ----------------------------------------------------

class qnt_event_acquisition_begin_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_acquisition_begin;
  qnt_event_kind_t get_kind() const override { return kind_acquisition_begin; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  uint64_t time = 0;
  uint32_t architecture = 0;  // 0 i386, 1 x86_64; not checked here
  std::vector<std::string> argv;
  std::string user;
  std::vector<uint8_t> line_sizes;  // base-2 logarithms, 255 for none
};

class qnt_event_acquisition_end_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_acquisition_end;
  qnt_event_kind_t get_kind() const override { return kind_acquisition_end; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  uint64_t time = 0;
};

// ---- Mappings (kinds 8, 9) -------------------------------------------------------

class qnt_event_mmap_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_mmap;
  qnt_event_kind_t get_kind() const override { return kind_mmap; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  uint64_t address = 0;
  uint64_t size = 0;
  uint32_t attr = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
  std::string filename;
  uint64_t offset = 0;
  uint64_t time = 0;  // 0 when the stored record has none
};

class qnt_event_munmap_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_munmap;
  qnt_event_kind_t get_kind() const override { return kind_munmap; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  uint64_t address = 0;
  uint64_t size = 0;
  uint64_t time = 0;
};

// ---- Stacks and complete samples (kinds 10, 11) ----------------------------------

// A call stack that samples refer to by id.
class qnt_event_stack_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_stack;
  qnt_event_kind_t get_kind() const override { return kind_stack; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  uint32_t id = 0;
  std::vector<qnt_address_t> return_addresses;
};

// A complete sample: the starting access and the accesses that ended it.
class qnt_event_sample_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_sample;
  qnt_event_kind_t get_kind() const override { return kind_sample; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  // Bit 0 of flags: the sample was killed. Other bits have no name.
  static constexpr uint8_t flag_killed = 1;

  qnt_sample_access_t begin;
  std::vector<qnt_sample_access_t> ends;  // possibly empty
  qnt_address_t next_pc;
  uint32_t stack = 0;      // id of the sampled instruction's stack event
  uint8_t line_size = 0;   // base-2 logarithm, 255 for none (qnt_line_size_from_log)
  uint8_t flags = 0;
};

// ---- Time bookkeeping (kinds 12, 13) ---------------------------------------------

class qnt_event_time_mapping_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_time_mapping;
  qnt_event_kind_t get_kind() const override { return kind_time_mapping; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  struct time_event_t {
    uint64_t time = 0;
    qnt_thread_id_t tid;

    bool operator==(const time_event_t& o) const { return time == o.time && tid == o.tid; }
    bool operator!=(const time_event_t& o) const { return !(*this == o); }
  };

  std::vector<time_event_t> times;
};

// One thread's clock against the global clock.
class qnt_event_local_time_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_local_time;
  qnt_event_kind_t get_kind() const override { return kind_local_time; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  qnt_thread_id_t tid;
  uint64_t global_time = 0;
  uint64_t local_time = 0;
};

// ---- Bursts and contexts (kinds 14, 15, 16) --------------------------------------

class qnt_event_burst_begin_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_burst_begin;
  qnt_event_kind_t get_kind() const override { return kind_burst_begin; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  uint64_t real_time = 0;  // nanoseconds
  uint64_t time = 0;
  // Carried through the codec unchanged; never compared or rendered.
  uint64_t opaque_1 = 0;
  uint64_t opaque_2 = 0;
};

class qnt_event_burst_end_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_burst_end;
  qnt_event_kind_t get_kind() const override { return kind_burst_end; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  uint64_t real_time = 0;
  uint64_t time = 0;
};

class qnt_event_contexts_t : public qnt_event_t {
 public:
  static constexpr qnt_event_kind_t kind = kind_contexts;
  qnt_event_kind_t get_kind() const override { return kind_contexts; }
  std::ostream& stream_put(std::ostream& os) const override;
  bool operator==(const qnt_event_t& other) const override;

  std::vector<uint32_t> contexts;  // thread ids, rendered as qnt_thread_id_t
};

// ---- Copies ------------------------------------------------------------------

// A copy of any event, of its concrete class (the class that get_kind()
// names); null for a kind outside 0 to 16. For flows that keep what they get.
std::unique_ptr<qnt_event_t> qnt_event_clone(const qnt_event_t& event);

}}  // namespace velkor::library
#endif
