// sample_stats --format html: one self-contained page to look at, from the
// same record as the text and JSON reports (stats_model.h) and, when given,
// the hottest cache lines of the cache-line analysis: the recording, the
// counts per line size, the time distribution and the reuse times as bar
// charts, the top program counters as sortable tables, the communication as
// a thread-by-thread matrix beside the busiest pairs, and each hot line's
// bytes by thread. Everything is inline (style, SVG, plain JavaScript); the
// page asks for nothing and stays a few hundred kilobytes whatever the
// recording's size.
#ifndef TOOLS_SAMPLE_STATS_STATS_HTML_H_
#define TOOLS_SAMPLE_STATS_STATS_HTML_H_

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/cache_line_report.h"
#include "events/qnt_events.h"
#include "stats_model.h"
#include "stats_symbols.h"

namespace velkor { namespace sample_stats {

// The page around the data (stats_html_page.cc).
extern const char* const report_page_head;
extern const char* const report_page_tail;

// The most threads the matrix shows one by one; the others are one row and
// column together.
const size_t html_matrix_threads = 32;

// Writes the page to out. lines (may be null) are the hottest cache lines;
// kept_events and warnings as for the JSON report; with symbols (may be
// null) the listed pcs gain their names.
void write_stats_html(std::ostream& out, const stats_model_t& model,
                      const std::vector<std::unique_ptr<library::qnt_event_t>>& kept_events,
                      const std::vector<std::string>& warnings, stats_symbols_t* symbols,
                      const library::cache_line_report_t* lines);

}}  // namespace velkor::sample_stats
#endif
