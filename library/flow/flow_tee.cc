#include "flow/flow_tee.h"

namespace velkor { namespace library {

flow_status_t quenth_flow_tee_t::flow_init(uint64_t flow_parameter) {
  flow_status_t status = first_->flow_init(flow_parameter);
  if (status != flow_status_ok) return status;
  return second_->flow_init(flow_parameter);
}

flow_status_t quenth_flow_tee_t::process_event(const qnt_event_t& event) {
  flow_status_t status = first_->process_event(event);
  if (status != flow_status_ok) return status;
  return second_->process_event(event);
}

}}  // namespace velkor::library
