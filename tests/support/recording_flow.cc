#include "support/recording_flow.h"

#include <sstream>

namespace velkor { namespace testkit {

using namespace library;

namespace {

template <class T>
std::unique_ptr<qnt_event_t> copy_as(const qnt_event_t& event) {
  return std::unique_ptr<qnt_event_t>(new T(static_cast<const T&>(event)));
}

}  // namespace

std::unique_ptr<qnt_event_t> clone_event(const qnt_event_t& event) {
  switch (event.get_kind()) {
    case kind_read: return copy_as<qnt_event_read_t>(event);
    case kind_write: return copy_as<qnt_event_write_t>(event);
    case kind_prefetch: return copy_as<qnt_event_prefetch_t>(event);
    case kind_sample_begin: return copy_as<qnt_event_sample_begin_t>(event);
    case kind_sample_end: return copy_as<qnt_event_sample_end_t>(event);
    case kind_sample_period: return copy_as<qnt_event_sample_period_t>(event);
    case kind_acquisition_begin: return copy_as<qnt_event_acquisition_begin_t>(event);
    case kind_acquisition_end: return copy_as<qnt_event_acquisition_end_t>(event);
    case kind_mmap: return copy_as<qnt_event_mmap_t>(event);
    case kind_munmap: return copy_as<qnt_event_munmap_t>(event);
    case kind_stack: return copy_as<qnt_event_stack_t>(event);
    case kind_sample: return copy_as<qnt_event_sample_t>(event);
    case kind_time_mapping: return copy_as<qnt_event_time_mapping_t>(event);
    case kind_local_time: return copy_as<qnt_event_local_time_t>(event);
    case kind_burst_begin: return copy_as<qnt_event_burst_begin_t>(event);
    case kind_burst_end: return copy_as<qnt_event_burst_end_t>(event);
    case kind_contexts: return copy_as<qnt_event_contexts_t>(event);
  }
  return nullptr;
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
