// Command-line pieces the programs share: the --version answer, a parse that
// collects positional arguments only to refuse them, and the last-resort
// catch around a program's body. Used by the main units under tools/.
#ifndef LIBRARY_SUPPORT_PROGRAM_MAIN_H_
#define LIBRARY_SUPPORT_PROGRAM_MAIN_H_

#include <exception>
#include <string>

#include <boost/program_options.hpp>

namespace velkor { namespace program_main {

// ---- Answers -----------------------------------------------------------------

// Prints "<program> <release>" on standard output, followed by
// " (revision <commit>)" when the build knows its source revision. Returns
// the exit status: 0, or 1 after "Error: Failed to write standard output."
// when the line could not be written.
int print_version(const char* program);

// ---- Parsing -----------------------------------------------------------------

// Parses argv against `options` plus a hidden option that collects every
// positional argument. Returns false after printing "Error: <reason>" on
// standard error when the parser refuses the command line.
bool parse_command_line(int argc, char** argv,
                        const boost::program_options::options_description& options,
                        boost::program_options::variables_map* vm);

// True, after printing "Error: no positional arguments allowed" on standard
// error, when parse_command_line collected positional arguments.
bool refuse_positional_args(const boost::program_options::variables_map& vm);

// ---- Running -----------------------------------------------------------------

// The reason an exception gives: "out of memory" for std::bad_alloc, else
// its what().
std::string exception_reason(const std::exception& e);

// Returns run(argc, argv); an exception that leaves it (nothing but running
// out of memory is expected) is printed as "Error: <reason>" on standard
// error and gives 1.
int run_guarded(int (*run)(int, char**), int argc, char** argv);

}}  // namespace velkor::program_main

#endif
