#include "support/recording_flow.h"

#include <sstream>

namespace velkor { namespace testkit {

using namespace library;

std::unique_ptr<qnt_event_t> clone_event(const qnt_event_t& event) {
  return qnt_event_clone(event);
}

std::string event_text(const qnt_event_t& event) {
  std::ostringstream out;
  out << event;
  return out.str();
}

flow_status_t recording_flow_t::flow_init(uint64_t flow_parameter) {
  inits.push_back(flow_parameter);
  return init_status;
}

flow_status_t recording_flow_t::process_event(const qnt_event_t& event) {
  int index = static_cast<int>(events.size());
  events.push_back(clone_event(event));
  return index == answer_at_event ? answer_status : flow_status_ok;
}

std::vector<std::string> recording_flow_t::texts() const {
  std::vector<std::string> all;
  for (const auto& e : events) all.push_back(event_text(*e));
  return all;
}

}}  // namespace velkor::testkit
