// Flows: the consumers of decoded events. quenth_flow_t is the interface the
// decoder drives; quenth_flow_by_type_t dispatches each event by kind to one
// handler per kind; quenth_flow_filter_t passes events on to a next flow and
// is the base of filters in a chain. The encoder and sample_stats are flows.
#ifndef LIBRARY_FLOW_QUENTH_FLOW_H_
#define LIBRARY_FLOW_QUENTH_FLOW_H_

#include <cstdint>
#include <stdexcept>
#include <string>

#include "events/qnt_events.h"

namespace velkor { namespace library {

// Result of every flow operation, numbered like stream_status_t.
enum flow_status_t {
  flow_status_ok = 0,     // consumed; go on
  flow_status_done = 1,   // wants no more events; not a failure
  flow_status_error = 2,  // failed
};

// A broken flow chain.
class flow_exception_t : public std::runtime_error {
 public:
  explicit flow_exception_t(const std::string& message);
};

class quenth_flow_t {
 public:
  virtual ~quenth_flow_t() {}
  // Called at most once, before the first event, with the stream's flow
  // parameter (0 when it has no version record).
  virtual flow_status_t flow_init(uint64_t flow_parameter) = 0;
  // Called once per event in input order; the event is valid only during the
  // call, so a flow that keeps data copies it.
  virtual flow_status_t process_event(const qnt_event_t& event) = 0;
};

// Dispatches each event to the handler of its kind; kinds above 16 are
// skipped with flow_status_ok. flow_init ignores its value.
class quenth_flow_by_type_t : public quenth_flow_t {
 public:
  flow_status_t flow_init(uint64_t flow_parameter) override;
  flow_status_t process_event(const qnt_event_t& event) override;

  virtual flow_status_t read(const qnt_event_read_t& event) = 0;
  virtual flow_status_t write(const qnt_event_write_t& event) = 0;
  virtual flow_status_t prefetch(const qnt_event_prefetch_t& event) = 0;
  virtual flow_status_t sample_begin(const qnt_event_sample_begin_t& event) = 0;
  virtual flow_status_t sample_end(const qnt_event_sample_end_t& event) = 0;
  virtual flow_status_t sample_period(const qnt_event_sample_period_t& event) = 0;
  virtual flow_status_t acquisition_begin(const qnt_event_acquisition_begin_t& event) = 0;
  virtual flow_status_t acquisition_end(const qnt_event_acquisition_end_t& event) = 0;
  virtual flow_status_t mmap(const qnt_event_mmap_t& event) = 0;
  virtual flow_status_t munmap(const qnt_event_munmap_t& event) = 0;
  virtual flow_status_t stack(const qnt_event_stack_t& event) = 0;
  virtual flow_status_t sample(const qnt_event_sample_t& event) = 0;
  virtual flow_status_t time_mapping(const qnt_event_time_mapping_t& event) = 0;
  virtual flow_status_t local_time(const qnt_event_local_time_t& event) = 0;
  virtual flow_status_t burst_begin(const qnt_event_burst_begin_t& event) = 0;
  virtual flow_status_t burst_end(const qnt_event_burst_end_t& event) = 0;
  virtual flow_status_t contexts(const qnt_event_contexts_t& event) = 0;
};

// Every handler ignores its event and answers flow_status_ok: the usual base
// of a consumer that cares about a few kinds.
class quenth_flow_by_type_default_t : public quenth_flow_by_type_t {
 public:
  flow_status_t read(const qnt_event_read_t& event) override;
  flow_status_t write(const qnt_event_write_t& event) override;
  flow_status_t prefetch(const qnt_event_prefetch_t& event) override;
  flow_status_t sample_begin(const qnt_event_sample_begin_t& event) override;
  flow_status_t sample_end(const qnt_event_sample_end_t& event) override;
  flow_status_t sample_period(const qnt_event_sample_period_t& event) override;
  flow_status_t acquisition_begin(const qnt_event_acquisition_begin_t& event) override;
  flow_status_t acquisition_end(const qnt_event_acquisition_end_t& event) override;
  flow_status_t mmap(const qnt_event_mmap_t& event) override;
  flow_status_t munmap(const qnt_event_munmap_t& event) override;
  flow_status_t stack(const qnt_event_stack_t& event) override;
  flow_status_t sample(const qnt_event_sample_t& event) override;
  flow_status_t time_mapping(const qnt_event_time_mapping_t& event) override;
  flow_status_t local_time(const qnt_event_local_time_t& event) override;
  flow_status_t burst_begin(const qnt_event_burst_begin_t& event) override;
  flow_status_t burst_end(const qnt_event_burst_end_t& event) override;
  flow_status_t contexts(const qnt_event_contexts_t& event) override;
};

// Passes everything to `next` (not owned). Filters derive from it, override
// the handlers of the kinds they change or drop, and call flow_to_next for
// what they pass on. A null next throws "Flow chain broken." when the first
// initialisation or event arrives.
class quenth_flow_filter_t : public quenth_flow_by_type_t {
 public:
  explicit quenth_flow_filter_t(quenth_flow_t* next);

  flow_status_t flow_init(uint64_t flow_parameter) override;

  flow_status_t read(const qnt_event_read_t& event) override;
  flow_status_t write(const qnt_event_write_t& event) override;
  flow_status_t prefetch(const qnt_event_prefetch_t& event) override;
  flow_status_t sample_begin(const qnt_event_sample_begin_t& event) override;
  flow_status_t sample_end(const qnt_event_sample_end_t& event) override;
  flow_status_t sample_period(const qnt_event_sample_period_t& event) override;
  flow_status_t acquisition_begin(const qnt_event_acquisition_begin_t& event) override;
  flow_status_t acquisition_end(const qnt_event_acquisition_end_t& event) override;
  flow_status_t mmap(const qnt_event_mmap_t& event) override;
  flow_status_t munmap(const qnt_event_munmap_t& event) override;
  flow_status_t stack(const qnt_event_stack_t& event) override;
  flow_status_t sample(const qnt_event_sample_t& event) override;
  flow_status_t time_mapping(const qnt_event_time_mapping_t& event) override;
  flow_status_t local_time(const qnt_event_local_time_t& event) override;
  flow_status_t burst_begin(const qnt_event_burst_begin_t& event) override;
  flow_status_t burst_end(const qnt_event_burst_end_t& event) override;
  flow_status_t contexts(const qnt_event_contexts_t& event) override;

 protected:
  flow_status_t flow_to_next(const qnt_event_t& event);

  quenth_flow_t* next;
};

}}  // namespace velkor::library
#endif
