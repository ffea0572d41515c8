#include "stats_html.h"

#include <algorithm>
#include <map>
#include <sstream>

#include "events/event_json.h"
#include "events/quenth.h"
#include "stats_json.h"
#include "stats_report.h"
#include "support/json_writer.h"
#include "symbols/symbol_render.h"

namespace velkor { namespace sample_stats {

using namespace library;

namespace {

// Type pairs listed in the hover text of a matrix cell, at most.
const size_t cell_types = 4;

std::string hex_text(uint64_t v) {
  std::ostringstream text;
  text << "0x" << std::hex << v;
  return text.str();
}

void recording(json_writer_t* json, const std::vector<std::unique_ptr<qnt_event_t>>& kept) {
  const qnt_event_acquisition_begin_t* begin = nullptr;
  const qnt_event_acquisition_end_t* end = nullptr;
  const qnt_event_sample_period_t* period = nullptr;
  uint64_t mappings = 0;
  for (const auto& event : kept) {
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
      case kind_mmap: ++mappings; break;
      default: break;
    }
  }
  json->key("recording");
  json->begin_object();
  if (begin != nullptr) {
    json->key("argv");
    json->begin_array();
    for (const std::string& a : begin->argv) json->string(a);
    json->end_array();
    json->member("user", begin->user);
    json->member("begin_time_text", qnt_time_string(begin->time));
  }
  if (end != nullptr) json->member("end_time_text", qnt_time_string(end->time));
  if (period != nullptr) json->member("nominal_sample_period", period->sample_period);
  json->member("mappings", mappings);
  json->end_object();
}

void pcs(json_writer_t* json, const char* name, const std::vector<top_pc_t>& list,
         stats_symbols_t* symbols) {
  json->key(name);
  json->begin_array();
  for (const top_pc_t& pc : list) {
    json->begin_object();
    json->key("pc_hex");
    json->hex_string(pc.pc);
    json->member("samples", pc.samples);
    json->real_member("percent", pc.percent);
    if (symbols != nullptr && pc.location != no_location) {
      json->member("symbol", symbols->text(pc.location));
    }
    json->member("reuse_median", pc.reuse.median);
    json->member("reuse_p90", pc.reuse.p90);
    json->end_object();
  }
  json->end_array();
}

void line_sizes(json_writer_t* json, const stats_model_t& model, stats_symbols_t* symbols) {
  json->key("line_sizes");
  json->begin_array();
  for (const line_size_report_t& r : model.line_sizes) {
    json->begin_object();
    json->member("line_size", r.line_size);
    json->member("sample_begin_events", r.begin_events);
    json->member("sample_end_events", r.end_events);
    json->member("sample_begin_times", r.begin_times);
    json->member("sample_end_times", r.end_times);
    json->member("acquisition_accesses", r.acquisition_accesses);
    json->real_member("real_sample_period", r.real_sample_period);
    json->member("dangling_samples", r.danglings);
    pcs(json, "top_begin_pcs", r.top_begin_pcs, symbols);
    pcs(json, "top_end_pcs", r.top_end_pcs, symbols);
    write_line_size_counts_json(json, r);
    json->end_object();
  }
  json->end_array();
}

// The matrix of the busiest threads (by pairs they take part in), the others
// together, with the commonest type pairs of each cell for its hover text.
void communication(json_writer_t* json, const stats_model_t& model) {
  std::map<uint32_t, uint64_t> per_thread;
  for (const thread_pair_report_t& p : model.thread_pairs) {
    per_thread[p.from_thread.value] += p.count;
    per_thread[p.to_thread.value] += p.count;
  }
  std::vector<std::pair<uint64_t, uint32_t>> ranked;  // (pairs, thread)
  for (const auto& t : per_thread) ranked.push_back({t.second, t.first});
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const std::pair<uint64_t, uint32_t>& a,
                      const std::pair<uint64_t, uint32_t>& b) { return a.first > b.first; });
  std::vector<uint32_t> shown;
  for (size_t i = 0; i < ranked.size() && i < html_matrix_threads; ++i) shown.push_back(ranked[i].second);
  std::sort(shown.begin(), shown.end());
  const size_t others = ranked.size() > shown.size() ? ranked.size() - shown.size() : 0;
  auto index_of = [&shown](uint32_t thread) {
    auto at = std::lower_bound(shown.begin(), shown.end(), thread);
    return at != shown.end() && *at == thread ? static_cast<size_t>(at - shown.begin())
                                              : shown.size();
  };

  struct cell_t {
    uint64_t count = 0;
    std::vector<std::pair<uint64_t, std::string>> types;
  };
  std::map<std::pair<size_t, size_t>, cell_t> cells;
  for (const communication_report_t& c : model.communication) {
    cell_t& cell = cells[{index_of(c.key.from_thread.value), index_of(c.key.to_thread.value)}];
    cell.count += c.count;
    cell.types.push_back({c.count, std::string(get_access_type_str(c.key.from_type)) + "\u2192" +
                                       get_access_type_str(c.key.to_type)});
  }

  json->key("communication");
  json->begin_object();
  json->member("pairs", model.communication_total);
  json->member("same_thread", model.same_thread_pairs);
  json->member("cross_thread", model.cross_thread_pairs);
  json->member("other_threads", others);
  json->key("threads");
  json->begin_array();
  for (uint32_t t : shown) json->string(std::to_string(t));
  if (others > 0) json->string("others");
  json->end_array();
  json->key("cells");
  json->begin_array();
  for (auto& entry : cells) {
    cell_t& cell = entry.second;
    std::stable_sort(cell.types.begin(), cell.types.end(),
                     [](const std::pair<uint64_t, std::string>& a,
                        const std::pair<uint64_t, std::string>& b) { return a.first > b.first; });
    std::string types;
    for (size_t i = 0; i < cell.types.size() && i < cell_types; ++i) {
      if (i > 0) types += "\n";
      types += cell.types[i].second + ": " + std::to_string(cell.types[i].first);
    }
    if (cell.types.size() > cell_types) types += "\n\u2026";
    json->begin_object();
    json->member("from", entry.first.first);
    json->member("to", entry.first.second);
    json->member("count", cell.count);
    json->real_member("percent", 100.0 * static_cast<double>(cell.count) /
                                     static_cast<double>(model.communication_total));
    json->member("types", types);
    json->end_object();
  }
  json->end_array();
  json->key("busiest");
  json->begin_array();
  for (const communication_report_t& c : model.communication_by_count) {
    json->begin_object();
    json->member("from_thread", c.key.from_thread.value);
    json->member("to_thread", c.key.to_thread.value);
    json->member("from_type_name", get_access_type_str(c.key.from_type));
    json->member("to_type_name", get_access_type_str(c.key.to_type));
    json->member("count", c.count);
    json->real_member("percent", c.percent);
    json->end_object();
  }
  json->end_array();
  json->end_object();
}

void cache_lines(json_writer_t* json, const cache_line_report_t& report) {
  const cache_line_summary_t& s = report.summary;
  json->key("cache_lines");
  json->begin_object();
  json->member("lines", s.lines);
  json->member("shared_lines", s.shared_lines);
  json->member("false_sharing_lines", s.lines_by_verdict[verdict_false_sharing]);
  json->member("true_sharing_lines", s.lines_by_verdict[verdict_true_sharing]);
  json->member("read_shared_lines", s.lines_by_verdict[verdict_read_shared]);
  json->member("transfers", s.transfers.transfers);
  json->member("transfers_with_write", s.transfers.with_write());
  json->key("list");
  json->begin_array();
  for (const report_line_t& line : report.lines) {
    const cache_line_counts_t& c = line.line;
    json->begin_object();
    json->key("address_hex");
    json->hex_string(c.address);
    json->member("line_size", c.line_size);
    json->member("verdict", cache_line_verdict_name(c.verdict));
    json->member("accesses", c.accesses);
    json->member("writes", c.writes);
    json->member("threads", c.threads);
    json->member("transfers_with_write", c.transfers.with_write());
    json->real_member("write_transfer_percent", line.write_transfer_percent);
    if (line.symbol != no_symbol) {
      json->member("data_symbol", resolution_text(report.symbols[line.symbol].view()));
    }
    json->key("by_thread");
    json->begin_array();
    for (const report_thread_t& t : line.threads) {
      if (t.other_threads) continue;
      json->begin_object();
      json->member("thread", t.thread.value);
      json->key("ranges");
      json->begin_array();
      for (const report_range_t& r : t.ranges) {
        json->begin_object();
        json->member("offset", r.offset);
        json->member("length", r.length);
        json->member("accesses", r.accesses);
        json->member("reads", r.reads);
        json->member("writes", r.writes);
        json->key("pcs");
        json->begin_array();
        for (const report_pc_t& pc : r.pcs) {
          std::string text = hex_text(pc.pc) + ": " + std::to_string(pc.accesses) + " accesses";
          if (pc.symbol != no_symbol) {
            text += "  ";
            append_resolution_text(report.symbols[pc.symbol].view(), &text);
          }
          json->string(text);
        }
        json->end_array();
        json->end_object();
      }
      json->end_array();
      json->end_object();
    }
    json->end_array();
    json->end_object();
  }
  json->end_array();
  json->end_object();
}

}  // namespace

void write_stats_html(std::ostream& out, const stats_model_t& model,
                      const std::vector<std::unique_ptr<qnt_event_t>>& kept_events,
                      const std::vector<std::string>& warnings, stats_symbols_t* symbols,
                      const cache_line_report_t* lines) {
  json_writer_t json;
  json.begin_object();
  json.key("container");
  json_container_object(model.header, &json);
  json.member("stacks", model.stacks);
  json.key("warnings");
  json.begin_array();
  for (const std::string& w : warnings) json.string(w);
  json.end_array();
  recording(&json, kept_events);
  line_sizes(&json, model, symbols);
  json.key("time_distribution");
  json.begin_object();
  json.member("accesses_per_bucket", model.bucket_width);
  json.key("buckets");
  json.begin_array();
  for (uint64_t n : model.time_buckets) json.number(n);
  json.end_array();
  json.end_object();
  communication(&json, model);
  if (lines != nullptr) cache_lines(&json, *lines);
  json.end_object();

  // Inside a script element no text may close it: '<' only appears in
  // strings, where \u003c stands for it.
  std::string data;
  data.reserve(json.text().size());
  for (char c : json.text()) {
    if (c == '<') {
      data += "\\u003c";
    } else {
      data += c;
    }
  }
  out << report_page_head << data << report_page_tail;
}

}}  // namespace velkor::sample_stats
