// The JSON form of events and of the container header: one object each.
// sample_dump writes a file as JSON lines of them, sample_stats its recorded
// acquisition and mapping events. Scripts rely on this layout; change it only
// together with the format versions of those programs, the README and the
// manual pages.
//
// Container: version, product, data_type and compression as numbers and
// product_name, data_type_name and compression_name as text.
//
// Events: "kind" (the kind's name, kind_name()), then every field of the
// event under its own name, in declaration order: numbers as JSON integers,
// exact to 64 bits; addresses and program counters also as "<name>_hex"
// strings ("0x1000"); access types as the number and "access_type_name";
// line sizes in bytes (0: none); texts as JSON strings (see
// support/json_writer.h for bytes that are not UTF-8); sampled accesses and
// time mapping entries as objects, lists as arrays. An annotator may add
// members after the addresses (sample_dump --symbols: "<name>_sym").
#ifndef LIBRARY_EVENTS_EVENT_JSON_H_
#define LIBRARY_EVENTS_EVENT_JSON_H_

#include <cstdint>
#include <vector>

#include "events/qnt_events.h"
#include "stream/stream_container.h"
#include "support/json_writer.h"

namespace velkor { namespace library {

// Adds members after the addresses of an event: called after "<name>" and
// "<name>_hex" of every code address (pc, next_pc) and data address (addr),
// and after "return_addresses_hex" of a stack, to write members of its own.
class json_address_annotator_t {
 public:
  virtual ~json_address_annotator_t() {}
  virtual void code_address(const char* name, uint64_t address, json_writer_t* line) = 0;
  virtual void data_address(const char* name, uint64_t address, json_writer_t* line) = 0;
  virtual void return_addresses(const char* name, const std::vector<qnt_address_t>& addresses,
                                json_writer_t* line) = 0;
};

// "i386", "x86_64", or "unknown" for any other value.
const char* architecture_name(uint32_t architecture);

// The container header as one object.
void json_container_object(const stream_container_header_t& header, json_writer_t* json);
// One event as one object; annotator (not owned) may be null.
void json_event_object(const qnt_event_t& event, json_writer_t* json,
                       json_address_annotator_t* annotator = nullptr);

}}  // namespace velkor::library
#endif
