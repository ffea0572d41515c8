// A flow for tests: keeps a copy and the text form of every event it gets,
// the flow_init calls, and can answer a chosen status at a chosen event.
#ifndef TESTS_SUPPORT_RECORDING_FLOW_H_
#define TESTS_SUPPORT_RECORDING_FLOW_H_

#include <memory>
#include <string>
#include <vector>

#include "events/qnt_events.h"
#include "flow/quenth_flow.h"

namespace velkor { namespace testkit {

// A copy of any event, of its concrete class.
std::unique_ptr<library::qnt_event_t> clone_event(const library::qnt_event_t& event);

// The text form of an event (operator<<).
std::string event_text(const library::qnt_event_t& event);

class recording_flow_t : public library::quenth_flow_t {
 public:
  library::flow_status_t flow_init(uint64_t flow_parameter) override;
  library::flow_status_t process_event(const library::qnt_event_t& event) override;

  std::vector<std::string> texts() const;

  std::vector<uint64_t> inits;  // flow_init arguments, in order
  std::vector<std::unique_ptr<library::qnt_event_t>> events;
  library::flow_status_t init_status = library::flow_status_ok;
  int answer_at_event = -1;  // index of the event that gets answer_status
  library::flow_status_t answer_status = library::flow_status_ok;
};

}}  // namespace velkor::testkit
#endif
