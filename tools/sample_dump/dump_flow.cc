#include "dump_flow.h"

#include <cassert>

namespace velkor { namespace dump {

using namespace library;

namespace {

const char* const names[qnt_event_kind_count] = {
    "read",          "write",           "prefetch",          "sample_begin",
    "sample_end",    "sample_period",   "acquisition_begin", "acquisition_end",
    "mmap",          "munmap",          "stack",             "sample",
    "time_mapping",  "local_time",      "burst_begin",       "burst_end",
    "contexts",
};

// The kinds whose text form spans lines and ends with a newline of its own.
bool is_multi_line(qnt_event_kind_t kind) {
  return kind == kind_sample || kind == kind_time_mapping || kind == kind_local_time;
}

}  // namespace

const char* kind_name(qnt_event_kind_t kind) {
  assert(static_cast<unsigned>(kind) < qnt_event_kind_count);
  return names[kind];
}

bool kind_by_name(const std::string& name, qnt_event_kind_t* kind) {
  for (unsigned k = 0; k < qnt_event_kind_count; ++k) {
    if (name == names[k]) {
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
    all += names[k];
  }
  return all;
}

dump_flow_t::dump_flow_t(std::ostream& out, const kind_set_t& kinds)
    : out_(out), kinds_(kinds), header_(NULL), header_written_(false) {}

flow_status_t dump_flow_t::flow_init(uint64_t flow_parameter) {
  (void)flow_parameter;
  write_header();
  return out_ ? flow_status_ok : flow_status_done;
}

flow_status_t dump_flow_t::process_event(const qnt_event_t& event) {
  write_header();
  qnt_event_kind_t kind = event.get_kind();
  if (static_cast<unsigned>(kind) < qnt_event_kind_count && kinds_[kind]) {
    out_ << event;
    if (!is_multi_line(kind)) out_ << '\n';
  }
  return out_ ? flow_status_ok : flow_status_done;
}

void dump_flow_t::write_header() {
  if (header_written_) return;
  assert(header_ != NULL);
  header_written_ = true;
  out_ << *header_;
}

}}  // namespace velkor::dump
