// The JSON form of sample_lines: one document on one line,
// {"format":"sample_lines-json","format_version":1,...}, with the options,
// the summary, the ranked lines with their byte ranges and pcs, and what was
// left out. Reads a cache-line report and computes nothing of its own.
#ifndef TOOLS_SAMPLE_LINES_LINES_JSON_H_
#define TOOLS_SAMPLE_LINES_LINES_JSON_H_

#include <ostream>

#include "analysis/cache_line_report.h"

namespace velkor { namespace sample_lines {

void render_lines_json(const library::cache_line_report_t& report, std::ostream& out);

}}  // namespace velkor::sample_lines
#endif
