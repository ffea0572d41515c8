// The text form of sample_lines: the summary, the table of the ranked lines
// with the footer that counts what was left out, then each listed line's byte
// ranges by thread with the pcs that touched them. Reads a cache-line report
// and computes nothing of its own.
#ifndef TOOLS_SAMPLE_LINES_LINES_TEXT_H_
#define TOOLS_SAMPLE_LINES_LINES_TEXT_H_

#include <ostream>

#include "analysis/cache_line_report.h"

namespace velkor { namespace sample_lines {

void render_lines_text(const library::cache_line_report_t& report, std::ostream& out);

}}  // namespace velkor::sample_lines
#endif
