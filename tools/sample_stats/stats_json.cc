#include "stats_json.h"

#include "events/event_json.h"
#include "events/quenth.h"
#include "stats_report.h"
#include "support/json_writer.h"
#include "symbols/symbol_render.h"

namespace velkor { namespace sample_stats {

using namespace library;

const char* const stats_json_format_name = "sample_stats-json";

namespace {

void access_type(json_writer_t* json, const char* name, qnt_access_type_t type) {
  json->member(name, type);
  json->member((std::string(name) + "_name").c_str(), get_access_type_str(type));
}

void reuse_summary(json_writer_t* json, const reuse_summary_t& reuse) {
  json->begin_object();
  json->member("samples", reuse.samples);
  json->member("median", reuse.median);
  json->member("p90", reuse.p90);
  json->end_object();
}

void top_pcs(json_writer_t* json, const char* name, const std::vector<top_pc_t>& pcs,
             bool with_reuse, stats_symbols_t* symbols) {
  json->key(name);
  json->begin_array();
  for (const top_pc_t& pc : pcs) {
    json->begin_object();
    json->address_member("pc", pc.pc);
    json->member("samples", pc.samples);
    json->real_member("percent", pc.percent);
    if (symbols != nullptr && pc.location != no_location) {
      json->key("pc_sym");
      json_resolution_object(symbols->resolution(pc.location), json);
    }
    if (with_reuse) {
      json->key("reuse_times");
      reuse_summary(json, pc.reuse);
    }
    json->end_object();
  }
  json->end_array();
}

void line_size(json_writer_t* json, const line_size_report_t& r, stats_symbols_t* symbols) {
  json->begin_object();
  json->member("line_size", r.line_size);
  json->member("sample_begin_events", r.begin_events);
  json->member("sample_end_events", r.end_events);
  json->member("sample_begin_times", r.begin_times);
  json->member("sample_end_times", r.end_times);
  json->member("acquisition_accesses", r.acquisition_accesses);
  json->real_member("real_sample_period", r.real_sample_period);
  json->member("dangling_samples", r.danglings);
  top_pcs(json, "top_begin_pcs", r.top_begin_pcs, true, symbols);
  top_pcs(json, "top_end_pcs", r.top_end_pcs, false, symbols);
  write_line_size_counts_json(json, r);
  json->end_object();
}

void communication_entry(json_writer_t* json, const communication_report_t& c) {
  json->begin_object();
  json->member("from_thread", c.key.from_thread.value);
  json->member("to_thread", c.key.to_thread.value);
  access_type(json, "from_type", c.key.from_type);
  access_type(json, "to_type", c.key.to_type);
  json->member("count", c.count);
  json->real_member("percent", c.percent);
  json->end_object();
}

// The last acquisition begin and end and sample period of the file, and its
// mappings in order.
void acquisition(json_writer_t* json,
                 const std::vector<std::unique_ptr<qnt_event_t>>& kept_events) {
  const qnt_event_acquisition_begin_t* begin = nullptr;
  const qnt_event_acquisition_end_t* end = nullptr;
  const qnt_event_sample_period_t* period = nullptr;
  for (const auto& event : kept_events) {
    switch (event->get_kind()) {
      case kind_acquisition_begin:
        begin = static_cast<const qnt_event_acquisition_begin_t*>(event.get());
        break;
      case kind_acquisition_end:
        end = static_cast<const qnt_event_acquisition_end_t*>(event.get());
        break;
      case kind_sample_period:
        period = static_cast<const qnt_event_sample_period_t*>(event.get());
        break;
      default: break;
    }
  }
  json->key("acquisition");
  json->begin_object();
  if (begin != nullptr) {
    json->member("begin_time", begin->time);
    json->member("begin_time_text", qnt_time_string(begin->time));
    json->member("architecture", begin->architecture);
    json->member("architecture_name", architecture_name(begin->architecture));
    json->key("argv");
    json->begin_array();
    for (const std::string& argument : begin->argv) json->string(argument);
    json->end_array();
    json->member("user", begin->user);
  }
  if (end != nullptr) {
    json->member("end_time", end->time);
    json->member("end_time_text", qnt_time_string(end->time));
  }
  if (period != nullptr) json->member("nominal_sample_period", period->sample_period);
  json->end_object();

  json->key("mmaps");
  json->begin_array();
  for (const auto& event : kept_events) {
    if (event->get_kind() != kind_mmap) continue;
    const qnt_event_mmap_t& m = static_cast<const qnt_event_mmap_t&>(*event);
    json->begin_object();
    json->address_member("address", m.address);
    json->address_member("end", m.address + m.size);
    json->member("size", m.size);
    json->address_member("offset", m.offset);
    json->member("filename", m.filename);
    json->member("time", m.time);
    json->end_object();
  }
  json->end_array();
}

}  // namespace

void write_line_size_counts_json(json_writer_t* json, const line_size_report_t& r) {
  if (r.has_bursts) {
    json->key("bursts");
    json->begin_object();
    json->member("begins", r.burst_begins);
    json->member("ends", r.burst_ends);
    json->real_member("average_length_seconds", r.average_burst_seconds);
    json->end_object();
  }
  json->key("access_type_counts");
  json->begin_array();
  for (const auto& type : r.access_types) {
    json->begin_object();
    access_type(json, "access_type", type.first);
    json->member("count", type.second);
    json->end_object();
  }
  json->end_array();
  json->key("reuse_times");
  json->begin_object();
  json->member("samples", r.reuse.samples);
  json->member("median", r.reuse.median);
  json->member("p90", r.reuse.p90);
  json->key("histogram");
  json->begin_array();
  for (const reuse_range_t& range : r.reuse_ranges) {
    json->begin_object();
    json->member("from", range.from);
    json->member("to", range.to);
    json->member("samples", range.samples);
    json->end_object();
  }
  json->end_array();
  json->key("without_end");
  json->begin_object();
  json->member("dangling", r.danglings);
  json->member("killed", r.killed);
  json->member("without_ends", r.without_ends);
  json->end_object();
  json->member("ends_before_begins", r.ends_before_begins);
  json->end_object();
}

void write_stats_json(std::ostream& out, const stats_model_t& model,
                      const std::vector<std::unique_ptr<qnt_event_t>>& kept_events,
                      const std::vector<std::string>& warnings, stats_symbols_t* symbols) {
  json_writer_t json(&out);
  json.begin_object();
  json.member("format", stats_json_format_name);
  json.member("format_version", stats_json_format_version);
  json.key("container");
  json_container_object(model.header, &json);

  json.key("event_lines");
  json.begin_array();
  for (const auto& event : kept_events) json_event_object(*event, &json);
  json.end_array();
  acquisition(&json, kept_events);

  json.member("stacks", model.stacks);
  json.member("top", model.top);
  json.key("line_sizes");
  json.begin_array();
  for (const line_size_report_t& r : model.line_sizes) line_size(&json, r, symbols);
  json.end_array();

  json.key("time_distribution");
  json.begin_object();
  json.member("accesses_per_bucket", model.bucket_width);
  json.key("buckets");
  json.begin_array();
  for (uint64_t count : model.time_buckets) json.number(count);
  json.end_array();
  json.end_object();

  json.key("communication");
  json.begin_array();
  for (const communication_report_t& c : model.communication) communication_entry(&json, c);
  json.end_array();
  json.key("communication_by_count");
  json.begin_array();
  for (const communication_report_t& c : model.communication_by_count) {
    communication_entry(&json, c);
  }
  json.end_array();
  json.key("communication_totals");
  json.begin_object();
  json.member("pairs", model.communication_total);
  json.member("same_thread", model.same_thread_pairs);
  json.member("cross_thread", model.cross_thread_pairs);
  json.key("thread_pairs");
  json.begin_array();
  for (const thread_pair_report_t& p : model.thread_pairs) {
    json.begin_object();
    json.member("from_thread", p.from_thread.value);
    json.member("to_thread", p.to_thread.value);
    json.member("count", p.count);
    json.real_member("percent", p.percent);
    json.end_object();
  }
  json.end_array();
  json.end_object();

  json.key("warnings");
  json.begin_array();
  for (const std::string& w : warnings) json.string(w);
  json.end_array();
  json.end_object();
  json.end_line();
}

}}  // namespace velkor::sample_stats
