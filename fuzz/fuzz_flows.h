// Flows shared by the fuzz targets.
#ifndef FUZZ_FUZZ_FLOWS_H_
#define FUZZ_FUZZ_FLOWS_H_

#include <memory>
#include <ostream>
#include <streambuf>
#include <vector>

#include "events/qnt_events.h"
#include "flow/quenth_flow.h"

namespace velkor { namespace fuzz {

// A stream buffer that drops everything.
class null_buffer_t : public std::streambuf {
 protected:
  int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Renders every event into a discarded stream.
class rendering_flow_t : public library::quenth_flow_t {
 public:
  rendering_flow_t() : out(&buffer) {}
  library::flow_status_t flow_init(uint64_t) override { return library::flow_status_ok; }
  library::flow_status_t process_event(const library::qnt_event_t& event) override {
    out << event << '\n';
    return library::flow_status_ok;
  }

 private:
  null_buffer_t buffer;
  std::ostream out;
};

// Keeps a copy of every event and the flow parameter.
class collecting_flow_t : public library::quenth_flow_t {
 public:
  library::flow_status_t flow_init(uint64_t parameter) override {
    flow_parameter = parameter;
    initialized = true;
    return library::flow_status_ok;
  }
  library::flow_status_t process_event(const library::qnt_event_t& event) override;

  bool initialized = false;
  uint64_t flow_parameter = 0;
  std::vector<std::unique_ptr<library::qnt_event_t>> events;
};

}}  // namespace velkor::fuzz
#endif
