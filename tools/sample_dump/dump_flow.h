// The flow of sample_dump: writes the container header of the file, then
// every event that passes the filter, one after the other, in the library's
// text forms or as JSON lines (events/event_json.h), the first line naming
// the format: {"format":"sample_dump-json","format_version":1,"container":{...}}.
#ifndef TOOLS_SAMPLE_DUMP_DUMP_FLOW_H_
#define TOOLS_SAMPLE_DUMP_DUMP_FLOW_H_

#include <cstdint>
#include <ostream>

#include "event_filter.h"
#include "events/event_json.h"
#include "events/qnt_events.h"
#include "flow/quenth_flow.h"
#include "stream/stream_container.h"
#include "support/json_writer.h"

namespace velkor { namespace dump {

class symbol_output_t;

// Name and version of the JSON layout, given in the first line. The version
// changes when a change could break a script.
extern const char* const json_format_name;  // "sample_dump-json"
const unsigned json_format_version = 1;

enum dump_format_t {
  format_text,  // the "Container:" block, then the events' own text forms
  format_json,  // one JSON object per line: the file, then each event
};

// Writes the header before its first event (or when asked, for an input
// without events), whatever the filter says, then each event that passes
// it: the single-line text forms followed by a newline, the multi-line ones
// as they are (they end with one), JSON objects followed by a newline. Once
// the output stream has failed it answers flow_status_done, so that reading
// stops.
class dump_flow_t : public library::quenth_flow_t {
 public:
  // Neither out nor header is owned. header is read when the first text is
  // written; it must be set before the first call.
  dump_flow_t(std::ostream& out, dump_format_t format, const event_filter_t& filter);

  void set_header(const library::stream_container_header_t* header) { header_ = header; }
  // With --symbols: sees every event and adds the resolutions of the
  // printed ones (symbol_output.h). Not owned; null: none.
  void set_symbols(symbol_output_t* symbols);

  library::flow_status_t flow_init(uint64_t flow_parameter) override;
  library::flow_status_t process_event(const library::qnt_event_t& event) override;

  // Writes the header unless it has been written.
  void write_header();

 private:

  std::ostream& out_;
  dump_format_t format_;
  event_filter_t filter_;
  const library::stream_container_header_t* header_;
  bool header_written_;
  symbol_output_t* symbols_;
  // Writes each JSON line straight to out_, so that a sample with millions
  // of ends is never held whole as text.
  library::json_writer_t json_;
};

}}  // namespace velkor::dump
#endif
