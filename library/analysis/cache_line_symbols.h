// Names for what a cache-line report lists: each pc of a listed line as
// code (function, source line, inlined calls, module) and each listed
// line's address as data (the global object that holds it), resolved
// against the mappings in force when the analysis first counted them. Used
// by sample_lines --symbols; symbols/symbol_render.h shows the answers.
#ifndef LIBRARY_ANALYSIS_CACHE_LINE_SYMBOLS_H_
#define LIBRARY_ANALYSIS_CACHE_LINE_SYMBOLS_H_

#include "analysis/cache_line_report.h"
#include "symbols/symbol_resolver.h"

namespace velkor { namespace library {

// Fills in report->symbols and the symbol of every listed line and pc,
// each distinct (module, offset, role) resolved once. The report must come
// from a flow that followed the mappings of resolver's address space
// (cache_lines_flow_t::follow_mappings(&resolver->space())); without the
// locations that this notes, nothing changes.
void resolve_cache_line_symbols(symbol_resolver_t* resolver, cache_line_report_t* report);

}}  // namespace velkor::library
#endif
