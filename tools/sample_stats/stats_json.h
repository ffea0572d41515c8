// sample_stats --format json: the whole report as one JSON document, for
// scripts. It holds every section of the text report with raw values, read
// from the same record (stats_model.h), and what the text leaves out: shares,
// reuse times, the busiest pairs of threads. Keys may be added within a
// format version, never removed or changed; the manual page lists them.
//
//   {"format":"sample_stats-json","format_version":1,
//    "container":{...},                       as sample_dump writes it
//    "event_lines":[{"kind":...},...],         the events the text prints at once,
//                                              in their order, as sample_dump's JSON
//    "acquisition":{...}, "mmaps":[...], "stacks":N,
//    "line_sizes":[{...}], "time_distribution":{...},
//    "communication":[...], "communication_by_count":[...],
//    "communication_totals":{...}, "warnings":[...]}
#ifndef TOOLS_SAMPLE_STATS_STATS_JSON_H_
#define TOOLS_SAMPLE_STATS_STATS_JSON_H_

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "events/qnt_events.h"
#include "stats_model.h"
#include "stats_symbols.h"
#include "support/json_writer.h"

namespace velkor { namespace sample_stats {

extern const char* const stats_json_format_name;  // "sample_stats-json"
const unsigned stats_json_format_version = 1;

// Writes the document and a newline to out. kept_events are the events the
// text report prints as they arrive (sample_file_stats_t::kept_events);
// warnings the lines also written to standard error, without their
// newlines. With symbols (may be null) every listed pc gains "pc_sym".
void write_stats_json(std::ostream& out, const stats_model_t& model,
                      const std::vector<std::unique_ptr<library::qnt_event_t>>& kept_events,
                      const std::vector<std::string>& warnings, stats_symbols_t* symbols);

// The members of a line size's object that the HTML page's data shares with
// the document: "bursts" (when the file has any), "access_type_counts" and
// "reuse_times".
void write_line_size_counts_json(library::json_writer_t* json, const line_size_report_t& r);

}}  // namespace velkor::sample_stats
#endif
