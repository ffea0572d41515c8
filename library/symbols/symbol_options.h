// The command-line side of symbols, the same in every program that offers
// them: --symbols, and --symfs DIR, the folder under which the recorded
// modules and their debug files are looked up. Used by sample_dump,
// sample_stats and sample_lines.
#ifndef LIBRARY_SYMBOLS_SYMBOL_OPTIONS_H_
#define LIBRARY_SYMBOLS_SYMBOL_OPTIONS_H_

#include <string>

#include "symbols/symbolizer.h"

namespace velkor { namespace library {

// Checks what the command line asked for and fills options->root. False,
// with the reason in *error, for --symfs without --symbols and for a --symfs
// that names no folder.
bool check_symbol_options(bool symbols, bool has_symfs, const std::string& symfs,
                          symbolizer_options_t* options, std::string* error);

}}  // namespace velkor::library
#endif
