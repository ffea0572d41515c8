#include "flow/quenth_flow.h"

namespace velkor { namespace library {

flow_exception_t::flow_exception_t(const std::string& message) : std::runtime_error(message) {}

flow_status_t quenth_flow_by_type_t::flow_init(uint64_t) { return flow_status_ok; }

flow_status_t quenth_flow_by_type_t::process_event(const qnt_event_t& event) {
  switch (static_cast<uint32_t>(event.get_kind())) {
    case kind_read: return read(static_cast<const qnt_event_read_t&>(event));
    case kind_write: return write(static_cast<const qnt_event_write_t&>(event));
    case kind_prefetch: return prefetch(static_cast<const qnt_event_prefetch_t&>(event));
    case kind_sample_begin:
      return sample_begin(static_cast<const qnt_event_sample_begin_t&>(event));
    case kind_sample_end: return sample_end(static_cast<const qnt_event_sample_end_t&>(event));
    case kind_sample_period:
      return sample_period(static_cast<const qnt_event_sample_period_t&>(event));
    case kind_acquisition_begin:
      return acquisition_begin(static_cast<const qnt_event_acquisition_begin_t&>(event));
    case kind_acquisition_end:
      return acquisition_end(static_cast<const qnt_event_acquisition_end_t&>(event));
    case kind_mmap: return mmap(static_cast<const qnt_event_mmap_t&>(event));
    case kind_munmap: return munmap(static_cast<const qnt_event_munmap_t&>(event));
    case kind_stack: return stack(static_cast<const qnt_event_stack_t&>(event));
    case kind_sample: return sample(static_cast<const qnt_event_sample_t&>(event));
    case kind_time_mapping:
      return time_mapping(static_cast<const qnt_event_time_mapping_t&>(event));
    case kind_local_time: return local_time(static_cast<const qnt_event_local_time_t&>(event));
    case kind_burst_begin: return burst_begin(static_cast<const qnt_event_burst_begin_t&>(event));
    case kind_burst_end: return burst_end(static_cast<const qnt_event_burst_end_t&>(event));
    case kind_contexts: return contexts(static_cast<const qnt_event_contexts_t&>(event));
    default: return flow_status_ok;  // a kind this framework does not know
  }
}

flow_status_t quenth_flow_by_type_default_t::read(const qnt_event_read_t&) { return flow_status_ok; }
flow_status_t quenth_flow_by_type_default_t::write(const qnt_event_write_t&) { return flow_status_ok; }
flow_status_t quenth_flow_by_type_default_t::prefetch(const qnt_event_prefetch_t&) {
  return flow_status_ok;
}
flow_status_t quenth_flow_by_type_default_t::sample_begin(const qnt_event_sample_begin_t&) {
  return flow_status_ok;
}
flow_status_t quenth_flow_by_type_default_t::sample_end(const qnt_event_sample_end_t&) {
  return flow_status_ok;
}
flow_status_t quenth_flow_by_type_default_t::sample_period(const qnt_event_sample_period_t&) {
  return flow_status_ok;
}
flow_status_t quenth_flow_by_type_default_t::acquisition_begin(
    const qnt_event_acquisition_begin_t&) {
  return flow_status_ok;
}
flow_status_t quenth_flow_by_type_default_t::acquisition_end(const qnt_event_acquisition_end_t&) {
  return flow_status_ok;
}
flow_status_t quenth_flow_by_type_default_t::mmap(const qnt_event_mmap_t&) { return flow_status_ok; }
flow_status_t quenth_flow_by_type_default_t::munmap(const qnt_event_munmap_t&) {
  return flow_status_ok;
}
flow_status_t quenth_flow_by_type_default_t::stack(const qnt_event_stack_t&) {
  return flow_status_ok;
}
flow_status_t quenth_flow_by_type_default_t::sample(const qnt_event_sample_t&) {
  return flow_status_ok;
}
flow_status_t quenth_flow_by_type_default_t::time_mapping(const qnt_event_time_mapping_t&) {
  return flow_status_ok;
}
flow_status_t quenth_flow_by_type_default_t::local_time(const qnt_event_local_time_t&) {
  return flow_status_ok;
}
flow_status_t quenth_flow_by_type_default_t::burst_begin(const qnt_event_burst_begin_t&) {
  return flow_status_ok;
}
flow_status_t quenth_flow_by_type_default_t::burst_end(const qnt_event_burst_end_t&) {
  return flow_status_ok;
}
flow_status_t quenth_flow_by_type_default_t::contexts(const qnt_event_contexts_t&) {
  return flow_status_ok;
}

quenth_flow_filter_t::quenth_flow_filter_t(quenth_flow_t* next_flow) : next(next_flow) {}

flow_status_t quenth_flow_filter_t::flow_init(uint64_t flow_parameter) {
  if (next == NULL) throw flow_exception_t("Flow chain broken.");
  return next->flow_init(flow_parameter);
}

flow_status_t quenth_flow_filter_t::flow_to_next(const qnt_event_t& event) {
  if (next == NULL) throw flow_exception_t("Flow chain broken.");
  return next->process_event(event);
}

flow_status_t quenth_flow_filter_t::read(const qnt_event_read_t& e) { return flow_to_next(e); }
flow_status_t quenth_flow_filter_t::write(const qnt_event_write_t& e) { return flow_to_next(e); }
flow_status_t quenth_flow_filter_t::prefetch(const qnt_event_prefetch_t& e) {
  return flow_to_next(e);
}
flow_status_t quenth_flow_filter_t::sample_begin(const qnt_event_sample_begin_t& e) {
  return flow_to_next(e);
}
flow_status_t quenth_flow_filter_t::sample_end(const qnt_event_sample_end_t& e) {
  return flow_to_next(e);
}
flow_status_t quenth_flow_filter_t::sample_period(const qnt_event_sample_period_t& e) {
  return flow_to_next(e);
}
flow_status_t quenth_flow_filter_t::acquisition_begin(const qnt_event_acquisition_begin_t& e) {
  return flow_to_next(e);
}
flow_status_t quenth_flow_filter_t::acquisition_end(const qnt_event_acquisition_end_t& e) {
  return flow_to_next(e);
}
flow_status_t quenth_flow_filter_t::mmap(const qnt_event_mmap_t& e) { return flow_to_next(e); }
flow_status_t quenth_flow_filter_t::munmap(const qnt_event_munmap_t& e) { return flow_to_next(e); }
flow_status_t quenth_flow_filter_t::stack(const qnt_event_stack_t& e) { return flow_to_next(e); }
flow_status_t quenth_flow_filter_t::sample(const qnt_event_sample_t& e) { return flow_to_next(e); }
flow_status_t quenth_flow_filter_t::time_mapping(const qnt_event_time_mapping_t& e) {
  return flow_to_next(e);
}
flow_status_t quenth_flow_filter_t::local_time(const qnt_event_local_time_t& e) {
  return flow_to_next(e);
}
flow_status_t quenth_flow_filter_t::burst_begin(const qnt_event_burst_begin_t& e) {
  return flow_to_next(e);
}
flow_status_t quenth_flow_filter_t::burst_end(const qnt_event_burst_end_t& e) {
  return flow_to_next(e);
}
flow_status_t quenth_flow_filter_t::contexts(const qnt_event_contexts_t& e) {
  return flow_to_next(e);
}

}}  // namespace velkor::library
