// The flow of sample_dump: writes every event it receives in the library's
// text form, one event after the other, after the container block of the
// file. Also the names by which the command line selects event kinds.
#ifndef TOOLS_SAMPLE_DUMP_DUMP_FLOW_H_
#define TOOLS_SAMPLE_DUMP_DUMP_FLOW_H_

#include <bitset>
#include <cstdint>
#include <ostream>
#include <string>

#include "events/qnt_events.h"
#include "flow/quenth_flow.h"
#include "stream/stream_container.h"

namespace velkor { namespace dump {

// The handler name of each kind ("read", ..., "contexts"), indexed by kind.
const char* kind_name(library::qnt_event_kind_t kind);
// The kind whose handler has this name; false when there is none.
bool kind_by_name(const std::string& name, library::qnt_event_kind_t* kind);
// All names in kind order, separated by ", ".
std::string kind_names();

typedef std::bitset<library::qnt_event_kind_count> kind_set_t;

// Writes the container block before its first event (or when asked, for an
// input without events), then each event of a selected kind: the single-line
// forms followed by a newline, the multi-line ones as they are (they end with
// one). Once the output stream has failed it answers flow_status_done, so
// that reading stops.
class dump_flow_t : public library::quenth_flow_t {
 public:
  // Neither out nor header is owned. header is read when the first text is
  // written; it must be set before the first call.
  dump_flow_t(std::ostream& out, const kind_set_t& kinds);

  void set_header(const library::stream_container_header_t* header) { header_ = header; }

  library::flow_status_t flow_init(uint64_t flow_parameter) override;
  library::flow_status_t process_event(const library::qnt_event_t& event) override;

  // Writes the container block unless it has been written.
  void write_header();

 private:
  std::ostream& out_;
  kind_set_t kinds_;
  const library::stream_container_header_t* header_;
  bool header_written_;
};

}}  // namespace velkor::dump
#endif
