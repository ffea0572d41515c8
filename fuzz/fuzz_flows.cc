#include "fuzz_flows.h"

namespace velkor { namespace fuzz {

using namespace library;

namespace {

template <class T>
std::unique_ptr<qnt_event_t> copy_as(const qnt_event_t& event) {
  return std::unique_ptr<qnt_event_t>(new T(static_cast<const T&>(event)));
}

}  // namespace

flow_status_t collecting_flow_t::process_event(const qnt_event_t& event) {
  switch (event.get_kind()) {
    case kind_read: events.push_back(copy_as<qnt_event_read_t>(event)); break;
    case kind_write: events.push_back(copy_as<qnt_event_write_t>(event)); break;
    case kind_prefetch: events.push_back(copy_as<qnt_event_prefetch_t>(event)); break;
    case kind_sample_begin: events.push_back(copy_as<qnt_event_sample_begin_t>(event)); break;
    case kind_sample_end: events.push_back(copy_as<qnt_event_sample_end_t>(event)); break;
    case kind_sample_period: events.push_back(copy_as<qnt_event_sample_period_t>(event)); break;
    case kind_acquisition_begin:
      events.push_back(copy_as<qnt_event_acquisition_begin_t>(event));
      break;
    case kind_acquisition_end:
      events.push_back(copy_as<qnt_event_acquisition_end_t>(event));
      break;
    case kind_mmap: events.push_back(copy_as<qnt_event_mmap_t>(event)); break;
    case kind_munmap: events.push_back(copy_as<qnt_event_munmap_t>(event)); break;
    case kind_stack: events.push_back(copy_as<qnt_event_stack_t>(event)); break;
    case kind_sample: events.push_back(copy_as<qnt_event_sample_t>(event)); break;
    case kind_time_mapping: events.push_back(copy_as<qnt_event_time_mapping_t>(event)); break;
    case kind_local_time: events.push_back(copy_as<qnt_event_local_time_t>(event)); break;
    case kind_burst_begin: events.push_back(copy_as<qnt_event_burst_begin_t>(event)); break;
    case kind_burst_end: events.push_back(copy_as<qnt_event_burst_end_t>(event)); break;
    case kind_contexts: events.push_back(copy_as<qnt_event_contexts_t>(event)); break;
  }
  return flow_status_ok;
}

}}  // namespace velkor::fuzz
