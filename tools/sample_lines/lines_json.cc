#include "lines_json.h"

#include "support/json_writer.h"
#include "symbols/symbol_render.h"

namespace velkor { namespace sample_lines {

using namespace library;

namespace {

void counts(json_writer_t& json, uint64_t accesses, uint64_t reads, uint64_t writes) {
  json.member("accesses", accesses);
  json.member("reads", reads);
  json.member("writes", writes);
}

// The pairs and transfer counts under the names of the line entries.
void transfers(json_writer_t& json, uint64_t pairs, const transfer_counts_t& t) {
  json.member("pairs", pairs);
  json.member("transfers", t.transfers);
  json.member("transfers_with_write", t.with_write());
  json.member("transfers_write_read", t.write_read);
  json.member("transfers_write_write", t.write_write);
  json.member("transfers_read_write", t.read_write);
  json.member("transfers_read_read", t.read_read);
}

void summary(json_writer_t& json, const cache_line_summary_t& s) {
  json.key("summary");
  json.begin_object();
  json.member("lines", s.lines);
  json.member("shared_lines", s.shared_lines);
  json.member("false_sharing_lines", s.lines_by_verdict[verdict_false_sharing]);
  json.member("true_sharing_lines", s.lines_by_verdict[verdict_true_sharing]);
  json.member("read_shared_lines", s.lines_by_verdict[verdict_read_shared]);
  json.member("private_lines", s.lines_by_verdict[verdict_private]);
  counts(json, s.accesses, s.reads, s.writes);
  transfers(json, s.pairs, s.transfers);
  json.member("samples", s.samples);
  json.member("matched_pairs", s.matched_pairs);
  json.member("unmatched_begins", s.unmatched_begins);
  json.member("unmatched_ends", s.unmatched_ends);
  json.member("samples_without_line_size", s.samples_without_line_size);
  json.member("straddling_accesses", s.straddling_accesses);
  json.member("unknown_type_accesses", s.unknown_type_accesses);
  json.member("pairs_across_lines", s.pairs_across_lines);
  json.end_object();
}

// "<name>_sym" with the object of a kept resolution, as sample_dump writes.
void symbol(json_writer_t& json, const char* name, const cache_line_report_t& report,
            uint32_t index) {
  if (index == no_symbol) return;
  json.key(name, "_sym");
  json_resolution_object(report.symbols[index].view(), &json);
}

void line(json_writer_t& json, const cache_line_report_t& report, size_t rank,
          const report_line_t& entry) {
  const cache_line_counts_t& l = entry.line;
  json.begin_object();
  json.member("rank", rank);
  json.address_member("address", l.address);
  symbol(json, "address", report, entry.symbol);
  json.member("line_size", l.line_size);
  counts(json, l.accesses, l.reads, l.writes);
  json.member("threads", l.threads);
  json.member("writer_threads", l.writer_threads);
  transfers(json, l.pairs, l.transfers);
  json.real_member("write_transfer_percent", entry.write_transfer_percent);
  json.member("verdict", cache_line_verdict_name(l.verdict));

  // Per thread: its totals, and what it did past the bound of its sites.
  json.key("by_thread");
  json.begin_array();
  const report_thread_t* other = nullptr;
  for (const report_thread_t& thread : entry.threads) {
    if (thread.other_threads) {
      other = &thread;
      continue;
    }
    json.begin_object();
    json.member("thread", thread.thread);
    counts(json, thread.accesses, thread.reads, thread.writes);
    json.member("unlisted_accesses", thread.unlisted_accesses);
    json.member("unlisted_reads", thread.unlisted_reads);
    json.member("unlisted_writes", thread.unlisted_writes);
    json.end_object();
  }
  json.end_array();
  json.key("other_threads");
  if (other == nullptr) {
    json.null();
  } else {
    json.begin_object();
    counts(json, other->accesses, other->reads, other->writes);
    json.end_object();
  }

  // Every byte range of every thread, with its pcs.
  json.key("offsets");
  json.begin_array();
  for (const report_thread_t& thread : entry.threads) {
    for (const report_range_t& range : thread.ranges) {
      json.begin_object();
      json.member("thread", thread.thread);
      json.member("offset", range.offset);
      json.member("length", range.length);
      counts(json, range.accesses, range.reads, range.writes);
      json.key("pcs");
      json.begin_array();
      for (const report_pc_t& pc : range.pcs) {
        json.begin_object();
        json.address_member("pc", pc.pc);
        symbol(json, "pc", report, pc.symbol);
        counts(json, pc.accesses, pc.reads, pc.writes);
        json.end_object();
      }
      json.end_array();
      json.end_object();
    }
  }
  json.end_array();
  json.end_object();
}

}  // namespace

void render_lines_json(const cache_line_report_t& report, std::ostream& out) {
  json_writer_t json(&out);
  json.begin_object();
  json.member("format", "sample_lines-json");
  json.member("format_version", 1);
  json.member("sort", cache_line_sort_name(report.options.sort));
  json.member("top", report.options.top);
  json.real_member("min_percent", report.options.min_percent);
  json.member("default_line_size", report.default_line_size);
  summary(json, report.summary);
  json.key("lines");
  json.begin_array();
  for (size_t i = 0; i < report.lines.size(); ++i) line(json, report, i + 1, report.lines[i]);
  json.end_array();
  json.member("lines_below_threshold", report.lines_below_threshold);
  json.member("write_transfers_below_threshold", report.write_transfers_below_threshold);
  json.member("lines_beyond_top", report.lines_beyond_top);
  json.end_object();
  json.end_line();
}

}}  // namespace velkor::sample_lines
