#include "dump_flow.h"

#include <cassert>

#include "events/qnt_render.h"
#include "symbol_output.h"

namespace velkor { namespace dump {

using namespace library;

const char* const json_format_name = "sample_dump-json";

namespace {

// The kinds whose text form spans lines and ends with a newline of its own.
bool is_multi_line(qnt_event_kind_t kind) {
  return kind == kind_sample || kind == kind_time_mapping || kind == kind_local_time;
}

}  // namespace

dump_flow_t::dump_flow_t(std::ostream& out, dump_format_t format, const event_filter_t& filter)
    : out_(out),
      format_(format),
      filter_(filter),
      header_(NULL),
      header_written_(false),
      symbols_(nullptr),
      json_(&out) {
  // Texts from the file show control characters as \xNN: a newline in a
  // file name must not start a line that looks like an event.
  out_ << escape_texts;
}

void dump_flow_t::set_symbols(symbol_output_t* symbols) {
  symbols_ = symbols;
  if (symbols_ != nullptr) {
    symbols_->set_form(format_ == format_json ? symbol_output_t::form_json
                                              : symbol_output_t::form_text);
  }
}

flow_status_t dump_flow_t::flow_init(uint64_t flow_parameter) {
  (void)flow_parameter;
  write_header();
  return out_ ? flow_status_ok : flow_status_done;
}

flow_status_t dump_flow_t::process_event(const qnt_event_t& event) {
  write_header();
  // The mappings change with every mmap and munmap, printed or not.
  if (symbols_ != nullptr) symbols_->observe(event);
  if (filter_.passes(event)) {
    if (format_ == format_json) {
      json_event_object(event, &json_, symbols_);
      json_.end_line();
    } else {
      out_ << event;
      if (!is_multi_line(event.get_kind())) out_ << '\n';
      if (symbols_ != nullptr) symbols_->write_text(event, out_);
    }
  }
  return out_ ? flow_status_ok : flow_status_done;
}

void dump_flow_t::write_header() {
  if (header_written_) return;
  assert(header_ != NULL);
  header_written_ = true;
  if (format_ == format_json) {
    json_.begin_object();
    json_.member("format", json_format_name);
    json_.member("format_version", json_format_version);
    json_.key("container");
    json_container_object(*header_, &json_);
    json_.end_object();
    json_.end_line();
  } else {
    out_ << *header_;
  }
}

}}  // namespace velkor::dump
