// The text that sample_stats writes to standard output: the lines that the
// statistics flow prints as their events arrive, and the report that the
// driver prints after the input has ended. Everything goes to standard
// output; the mmap line through printf, the rest through std::cout, which
// share one buffer as long as the two stay synchronised (the default).
#ifndef TOOLS_SAMPLE_STATS_STATS_REPORT_H_
#define TOOLS_SAMPLE_STATS_STATS_REPORT_H_

#include <cstdint>
#include <map>
#include <string>

#include "events/qnt_events.h"
#include "sample_file_stats.h"
#include "stats_model.h"

namespace velkor { namespace sample_stats {

// t in nanoseconds since the epoch, as local time in the date-and-time format
// of the current locale (the program never sets one, so that of the POSIX
// locale: "Thu Jan  1 00:00:01 1970"). "?" when t is below one second.
std::string qnt_time_string(uint64_t t);

// ---- Lines printed as their events arrive ----

// "Acquisition begin: ", "Architecture: ", "Command line:", "User: ".
void print_acquisition_begin(const library::qnt_event_acquisition_begin_t& event);
// "Acquisition end: " and the time.
void print_acquisition_end(const library::qnt_event_acquisition_end_t& event);
// "Nominal sample period: " and the period.
void print_sample_period(const library::qnt_event_sample_period_t& event);
// "Mmap: <start>-<end> <file>", through printf.
void print_mmap(const library::qnt_event_mmap_t& event);

// ---- The report ----

// Average length in seconds of every burst that has both a begin and an
// end (an end under 0, before any begin, has none); 0 when there is none.
double average_burst_length(const std::map<uint64_t, uint64_t>& begins,
                            const std::map<uint64_t, uint64_t>& ends);

// One "Statitistics for line size" section; with symbols (may be null) the
// listed pcs gain their names.
void print_line_size_section(const line_size_report_t& report, stats_symbols_t* symbols);

// Everything after the container header: the stack count, one section per
// line size in ascending order, the time distribution, an empty line and the
// communication patterns; with reuse times, an empty line and their section.
void print_stats_report(const stats_model_t& model, stats_symbols_t* symbols);
// The same from the flow, with ten pcs per top list. Dangling samples must
// have been counted.
void print_stats_report(const sample_file_stats_t& stats);

// "Reuse times (...):" and, per line size, the counts, the median, the 90th
// percentile, the histogram by powers of two and the listed begin pcs' own.
void print_reuse_section(const stats_model_t& model);

}}  // namespace velkor::sample_stats
#endif
