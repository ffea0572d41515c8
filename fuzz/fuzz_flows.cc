#include "fuzz_flows.h"

namespace velkor { namespace fuzz {

using namespace library;

flow_status_t collecting_flow_t::process_event(const qnt_event_t& event) {
  events.push_back(qnt_event_clone(event));
  return flow_status_ok;
}

}}  // namespace velkor::fuzz
