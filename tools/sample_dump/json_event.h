// The JSON form of sample_dump: one object per line, first the file, then one
// per event. Scripts rely on this layout; change it only together with
// json_format_version, the README and the manual page.
//
// File line: {"format":"sample_dump-json","format_version":1,"container":{...}}
// with the container header's version, product, data_type and compression as
// numbers and product_name, data_type_name and compression_name as text.
//
// Event lines: "kind" (the kind's name, as --kind takes it), then every field
// of the event under its own name, in declaration order: numbers as JSON
// integers, exact to 64 bits; addresses and program counters also as
// "<name>_hex" strings ("0x1000"); access types as the number and
// "access_type_name"; line sizes in bytes (0: none); texts as JSON strings
// (see support/json_writer.h for bytes that are not UTF-8); sampled accesses and time
// mapping entries as objects, lists as arrays. With --symbols, members
// "<name>_sym" after the addresses (symbol_output.h).
#ifndef TOOLS_SAMPLE_DUMP_JSON_EVENT_H_
#define TOOLS_SAMPLE_DUMP_JSON_EVENT_H_

#include <cstdint>
#include <vector>

#include "events/qnt_events.h"
#include "stream/stream_container.h"
#include "support/json_writer.h"

namespace velkor { namespace dump {

// Name and version of the layout, given in the file line.
extern const char* const json_format_name;  // "sample_dump-json"
const unsigned json_format_version = 1;

// Adds members after the addresses of an event (sample_dump --symbols):
// called after "<name>" and "<name>_hex" of every code address (pc,
// next_pc) and data address (addr), and after "return_addresses_hex" of a
// stack, to write members of its own.
class json_address_annotator_t {
 public:
  virtual ~json_address_annotator_t() {}
  virtual void code_address(const char* name, uint64_t address, library::json_writer_t* line) = 0;
  virtual void data_address(const char* name, uint64_t address, library::json_writer_t* line) = 0;
  virtual void return_addresses(const char* name, const std::vector<library::qnt_address_t>& addresses,
                                library::json_writer_t* line) = 0;
};

// Append one complete object (without a newline) to line.
void json_file_object(const library::stream_container_header_t& header, library::json_writer_t* line);
// annotator (not owned) may be null.
void json_event_object(const library::qnt_event_t& event, library::json_writer_t* line,
                       json_address_annotator_t* annotator = nullptr);

}}  // namespace velkor::dump
#endif
