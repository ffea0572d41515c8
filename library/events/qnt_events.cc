#include "events/qnt_events.h"

#include <cassert>

namespace velkor { namespace library {

// Every comparison first asks `other` for its kind; only an event of the same
// kind is converted to the left operand's class and compared field by field.
// The text forms of the events live in qnt_render.cc.

namespace {

template <typename Event>
const Event* same_kind(const Event& self, const qnt_event_t& other) {
  if (other.get_kind() != self.get_kind()) return nullptr;
  return static_cast<const Event*>(&other);
}

template <typename Event>
bool access_fields_equal(const Event& a, const Event& b) {
  return a.pc == b.pc && a.addr == b.addr && a.thread_id == b.thread_id && a.size == b.size;
}

}  // namespace

bool qnt_event_read_t::operator==(const qnt_event_t& other) const {
  const qnt_event_read_t* o = same_kind(*this, other);
  return o && access_fields_equal(*this, *o);
}

bool qnt_event_write_t::operator==(const qnt_event_t& other) const {
  const qnt_event_write_t* o = same_kind(*this, other);
  return o && access_fields_equal(*this, *o);
}

bool qnt_event_prefetch_t::operator==(const qnt_event_t& other) const {
  const qnt_event_prefetch_t* o = same_kind(*this, other);
  return o && access_fields_equal(*this, *o);
}

bool qnt_event_sample_begin_t::operator==(const qnt_event_t& other) const {
  const qnt_event_sample_begin_t* o = same_kind(*this, other);
  return o && time == o->time && thread_id == o->thread_id && sample_id == o->sample_id &&
         pc == o->pc && next_pc == o->next_pc && addr == o->addr &&
         access_type == o->access_type && access_size == o->access_size &&
         line_size == o->line_size;
}

bool qnt_event_sample_end_t::operator==(const qnt_event_t& other) const {
  const qnt_event_sample_end_t* o = same_kind(*this, other);
  return o && time == o->time && thread_id == o->thread_id && sample_id == o->sample_id &&
         pc == o->pc && addr == o->addr && access_type == o->access_type &&
         access_size == o->access_size && rdist == o->rdist;
}

bool qnt_event_sample_period_t::operator==(const qnt_event_t& other) const {
  const qnt_event_sample_period_t* o = same_kind(*this, other);
  return o && sample_period == o->sample_period;
}

bool qnt_event_acquisition_begin_t::operator==(const qnt_event_t& other) const {
  const qnt_event_acquisition_begin_t* o = same_kind(*this, other);
  return o && time == o->time && architecture == o->architecture && argv == o->argv &&
         user == o->user && line_sizes == o->line_sizes;
}

bool qnt_event_acquisition_end_t::operator==(const qnt_event_t& other) const {
  const qnt_event_acquisition_end_t* o = same_kind(*this, other);
  return o && time == o->time;
}

bool qnt_event_mmap_t::operator==(const qnt_event_t& other) const {
  const qnt_event_mmap_t* o = same_kind(*this, other);
  return o && address == o->address && size == o->size && attr == o->attr &&
         device == o->device && inode == o->inode && filename == o->filename &&
         offset == o->offset && time == o->time;
}

bool qnt_event_munmap_t::operator==(const qnt_event_t& other) const {
  const qnt_event_munmap_t* o = same_kind(*this, other);
  return o && address == o->address && size == o->size && time == o->time;
}

bool qnt_event_stack_t::operator==(const qnt_event_t& other) const {
  const qnt_event_stack_t* o = same_kind(*this, other);
  return o && id == o->id && return_addresses == o->return_addresses;
}

bool qnt_event_sample_t::operator==(const qnt_event_t& other) const {
  const qnt_event_sample_t* o = same_kind(*this, other);
  return o && begin == o->begin && ends == o->ends && next_pc == o->next_pc &&
         stack == o->stack && line_size == o->line_size && flags == o->flags;
}

bool qnt_event_time_mapping_t::operator==(const qnt_event_t& other) const {
  const qnt_event_time_mapping_t* o = same_kind(*this, other);
  return o && times == o->times;
}

bool qnt_event_local_time_t::operator==(const qnt_event_t& other) const {
  const qnt_event_local_time_t* o = same_kind(*this, other);
  return o && tid == o->tid && global_time == o->global_time && local_time == o->local_time;
}

bool qnt_event_burst_begin_t::operator==(const qnt_event_t& other) const {
  const qnt_event_burst_begin_t* o = same_kind(*this, other);
  return o && real_time == o->real_time && time == o->time;  // opaque values ignored
}

bool qnt_event_burst_end_t::operator==(const qnt_event_t& other) const {
  const qnt_event_burst_end_t* o = same_kind(*this, other);
  return o && real_time == o->real_time && time == o->time;
}

bool qnt_event_contexts_t::operator==(const qnt_event_t& other) const {
  const qnt_event_contexts_t* o = same_kind(*this, other);
  return o && contexts == o->contexts;
}

namespace {

template <class T>
std::unique_ptr<qnt_event_t> copy_as(const qnt_event_t& event) {
  return std::unique_ptr<qnt_event_t>(new T(static_cast<const T&>(event)));
}

}  // namespace

std::unique_ptr<qnt_event_t> qnt_event_clone(const qnt_event_t& event) {
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

// ---- Kind names ------------------------------------------------------------------

namespace {

const char* const kind_name_table[qnt_event_kind_count] = {
    "read",          "write",           "prefetch",          "sample_begin",
    "sample_end",    "sample_period",   "acquisition_begin", "acquisition_end",
    "mmap",          "munmap",          "stack",             "sample",
    "time_mapping",  "local_time",      "burst_begin",       "burst_end",
    "contexts",
};

}  // namespace

const char* kind_name(qnt_event_kind_t kind) {
  assert(static_cast<unsigned>(kind) < qnt_event_kind_count);
  return kind_name_table[kind];
}

bool kind_by_name(const std::string& name, qnt_event_kind_t* kind) {
  for (unsigned k = 0; k < qnt_event_kind_count; ++k) {
    if (name == kind_name_table[k]) {
      *kind = static_cast<qnt_event_kind_t>(k);
      return true;
    }
  }
  return false;
}

std::string kind_names() {
  std::string all;
  for (unsigned k = 0; k < qnt_event_kind_count; ++k) {
    if (k > 0) all += ", ";
    all += kind_name_table[k];
  }
  return all;
}

}}  // namespace velkor::library
