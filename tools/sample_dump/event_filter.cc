#include "event_filter.h"

#include <algorithm>
#include <cassert>

namespace velkor { namespace dump {

using namespace library;

namespace {

template <class T>
const T& as(const qnt_event_t& event) {
  return static_cast<const T&>(event);
}

}  // namespace

// ---- The filter ------------------------------------------------------------------

event_filter_t::event_filter_t()
    : has_time_range_(false), time_from_(0), time_to_(UINT64_MAX) {
  kinds_.set();
}

void event_filter_t::add_thread(uint32_t thread) {
  auto at = std::lower_bound(threads_.begin(), threads_.end(), thread);
  if (at == threads_.end() || *at != thread) threads_.insert(at, thread);
}

void event_filter_t::set_time_range(uint64_t from, uint64_t to) {
  assert(from <= to);
  has_time_range_ = true;
  time_from_ = from;
  time_to_ = to;
}

bool event_filter_t::passes(const qnt_event_t& event) const {
  qnt_event_kind_t kind = event.get_kind();
  if (static_cast<unsigned>(kind) >= qnt_event_kind_count || !kinds_[kind]) return false;
  if (!threads_.empty() && !threads_pass(event)) return false;
  if (has_time_range_ && !times_pass(event)) return false;
  return true;
}

bool event_filter_t::thread_passes(uint32_t thread) const {
  return std::binary_search(threads_.begin(), threads_.end(), thread);
}

bool event_filter_t::threads_pass(const qnt_event_t& event) const {
  switch (event.get_kind()) {
    case kind_read:
      return thread_passes(as<qnt_event_read_t>(event).thread_id);
    case kind_write:
      return thread_passes(as<qnt_event_write_t>(event).thread_id);
    case kind_prefetch:
      return thread_passes(as<qnt_event_prefetch_t>(event).thread_id);
    case kind_sample_begin:
      return thread_passes(as<qnt_event_sample_begin_t>(event).thread_id);
    case kind_sample_end:
      return thread_passes(as<qnt_event_sample_end_t>(event).thread_id);
    case kind_local_time:
      return thread_passes(as<qnt_event_local_time_t>(event).tid);
    case kind_sample: {
      const qnt_event_sample_t& e = as<qnt_event_sample_t>(event);
      if (thread_passes(e.begin.thread)) return true;
      for (const qnt_sample_access_t& end : e.ends) {
        if (thread_passes(end.thread)) return true;
      }
      return false;
    }
    case kind_time_mapping:
      for (const auto& entry : as<qnt_event_time_mapping_t>(event).times) {
        if (thread_passes(entry.tid)) return true;
      }
      return false;
    case kind_contexts:
      for (uint32_t thread : as<qnt_event_contexts_t>(event).contexts) {
        if (thread_passes(thread)) return true;
      }
      return false;
    default:
      return false;
  }
}

bool event_filter_t::times_pass(const qnt_event_t& event) const {
  switch (event.get_kind()) {
    case kind_sample_begin:
      return time_passes(as<qnt_event_sample_begin_t>(event).time);
    case kind_sample_end:
      return time_passes(as<qnt_event_sample_end_t>(event).time);
    case kind_acquisition_begin:
      return time_passes(as<qnt_event_acquisition_begin_t>(event).time);
    case kind_acquisition_end:
      return time_passes(as<qnt_event_acquisition_end_t>(event).time);
    case kind_mmap:
      return time_passes(as<qnt_event_mmap_t>(event).time);
    case kind_munmap:
      return time_passes(as<qnt_event_munmap_t>(event).time);
    case kind_burst_begin:
      return time_passes(as<qnt_event_burst_begin_t>(event).time);
    case kind_burst_end:
      return time_passes(as<qnt_event_burst_end_t>(event).time);
    case kind_sample:
      return time_passes(as<qnt_event_sample_t>(event).begin.time);
    case kind_local_time:
      return time_passes(as<qnt_event_local_time_t>(event).global_time);
    case kind_time_mapping:
      for (const auto& entry : as<qnt_event_time_mapping_t>(event).times) {
        if (time_passes(entry.time)) return true;
      }
      return false;
    default:
      return false;
  }
}

}}  // namespace velkor::dump
