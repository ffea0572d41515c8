// Hands every event of one reading to two flows in turn, so that one pass
// over a file feeds two analyses: sample_stats --format html runs the
// statistics and the cache-line analysis over the same events.
#ifndef LIBRARY_FLOW_FLOW_TEE_H_
#define LIBRARY_FLOW_FLOW_TEE_H_

#include <cstdint>

#include "flow/quenth_flow.h"

namespace velkor { namespace library {

// Neither flow is owned. The first status other than flow_status_ok (of
// the first flow, then of the second) is the tee's; the second flow does
// not see an event that the first refused.
class quenth_flow_tee_t : public quenth_flow_t {
 public:
  quenth_flow_tee_t(quenth_flow_t* first, quenth_flow_t* second)
      : first_(first), second_(second) {}

  flow_status_t flow_init(uint64_t flow_parameter) override;
  flow_status_t process_event(const qnt_event_t& event) override;

 private:
  quenth_flow_t* first_;
  quenth_flow_t* second_;
};

}}  // namespace velkor::library
#endif
