// sample_lines: which cache lines the threads of a recording hand to each
// other, and whether they share the bytes of a line or only the line. Reads
// one sample file (or standard input) through the cache-line analysis of the
// library, ranks the lines and prints the report as text or JSON on standard
// output. Help, errors and warnings go to standard error.

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include <boost/make_shared.hpp>
#include <boost/program_options.hpp>
#include <boost/shared_ptr.hpp>

#include "analysis/cache_line_report.h"
#include "analysis/cache_line_symbols.h"
#include "analysis/cache_lines.h"
#include "codec/codec_utils.h"
#include "flow/flow_file_reader.h"
#include "lines_json.h"
#include "lines_text.h"
#include "stream/stream.h"
#include "support/program_main.h"
#include "support/progress_line.h"
#include "support/version_info.h"
#include "support/warning_consumer.h"
#include "symbols/symbol_options.h"
#include "symbols/symbol_resolver.h"

namespace po = boost::program_options;
using namespace velkor::library;

const char* version_bring_in_version_info() { return version_id_version; }

namespace {

// A setting that cannot be used: one line on standard error, exit status 1.
struct usage_error_t {
  std::string message;
};

// A decimal number without sign, blanks or suffix, at most max.
uint64_t parse_number(const std::string& text, uint64_t max, const char* option) {
  uint64_t value = 0;
  bool valid = !text.empty();
  for (char c : text) {
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (c < '0' || c > '9' || value > (max - digit) / 10) {
      valid = false;
      break;
    }
    value = value * 10 + digit;
  }
  if (!valid) {
    throw usage_error_t{"the value '" + text + "' of --" + option + " is not a number from 0 to " +
                        std::to_string(max) + "."};
  }
  return value;
}

// Digits with at most one decimal point, from 0 to 100.
double parse_percent(const std::string& text) {
  bool digits = false, point = false, valid = !text.empty();
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      valid = false;
    }
  }
  double value = valid && digits ? std::strtod(text.c_str(), nullptr) : -1;
  if (!(value >= 0 && value <= 100)) {
    throw usage_error_t{"the value '" + text +
                        "' of --min-percent is not a number from 0 to 100."};
  }
  return value;
}

qnt_line_size_t parse_line_size(const std::string& text) {
  const uint64_t max = uint64_t(1) << 63;
  uint64_t size = 0;
  try {
    size = parse_number(text, max, "line-size");
  } catch (const usage_error_t&) {
    size = 0;
  }
  if (size == 0 || (size & (size - 1)) != 0) {
    throw usage_error_t{"the value '" + text +
                        "' of --line-size is not a power of two from 1 to " + std::to_string(max) +
                        "."};
  }
  return size;
}

void print_help(const po::options_description& desc) {
  std::cerr << "Usage: sample_lines [OPTION]..." << std::endl
            << std::endl
            << "Ranks the cache lines of a sample file by how often they pass between threads"
            << std::endl
            << "and tells false sharing from true sharing." << std::endl
            << std::endl
            << desc << std::endl;
}

int run(int argc, char** argv) {
  std::string in_file;
  std::string top = "20";
  std::string sort = "write-transfers";
  std::string min_percent = "0.1";
  std::string line_size = "64";
  std::string format = "text";

  po::options_description desc("Options", po::options_description::m_default_line_length,
                               po::options_description::m_default_line_length / 2);
  desc.add_options()
      ("help,h", "Print this help message.")
      ("version", "Print the program name and version.")
      ("in-file,i", po::value<std::string>(&in_file),
       "Specifies the input file. If no file is specified stdin is used.")
      ("top", po::value<std::string>(&top),
       "List at most this many lines (default 20; 0 lists every line that passes "
       "--min-percent).")
      ("sort", po::value<std::string>(&sort),
       ("Rank the lines by write-transfers (transfers involving a write, the default), "
        "accesses, transfers, writes or threads."))
      ("min-percent", po::value<std::string>(&min_percent),
       "Leave out lines with less than this share, in percent, of all transfers involving a "
       "write (default 0.1; 0 keeps every line).")
      ("line-size", po::value<std::string>(&line_size),
       "Line size in bytes, a power of two, for samples that carry none (default 64).")
      ("symbols",
       "Resolve the pcs of the listed lines to modules, functions, source lines and "
       "inlined calls, and each listed line's address to the global object that holds it, "
       "against the mappings in force when they were first counted.")
      ("symfs", po::value<std::string>(),
       "With --symbols: look up the recorded modules and their debug files under this "
       "folder (DIR/usr/bin/app for /usr/bin/app).")
      ("format", po::value<std::string>(&format),
       "Output format: text (default) or json, one JSON document.")
      ("no-progress",
       "No progress line: without it, reading an input of 64 MiB or more, or of unknown size, "
       "shows one on standard error when that is a terminal.");

  po::variables_map vm;
  if (!velkor::program_main::parse_command_line(argc, argv, desc, &vm)) return 1;
  if (vm.count("help")) {
    print_help(desc);
    return 0;
  }
  if (vm.count("version")) return velkor::program_main::print_version("sample_lines");
  if (velkor::program_main::refuse_positional_args(vm)) return 1;

  cache_line_report_options_t options;
  qnt_line_size_t default_line_size = 64;
  symbolizer_options_t symbolizer_options;
  try {
    options.top = parse_number(top, UINT64_MAX, "top");
    if (!cache_line_sort_by_name(sort, &options.sort)) {
      throw usage_error_t{"unknown sort key '" + sort + "'; the keys are " +
                          cache_line_sort_names() + "."};
    }
    options.min_percent = parse_percent(min_percent);
    default_line_size = parse_line_size(line_size);
    if (format != "text" && format != "json") {
      throw usage_error_t{"unknown format '" + format + "'; the formats are text and json."};
    }
    std::string symbol_error;
    if (!check_symbol_options(vm.count("symbols") > 0, vm.count("symfs") > 0,
                              vm.count("symfs") ? vm["symfs"].as<std::string>() : std::string(),
                              &symbolizer_options, &symbol_error)) {
      throw usage_error_t{symbol_error};
    }
  } catch (const usage_error_t& e) {
    std::cerr << "Error: " << e.message << std::endl;
    return 1;
  }
  if (in_file == "-") in_file.clear();

  // A progress line, when there is one, makes way for each warning.
  boost::shared_ptr<warning_consumer_progress_t> warnings(
      new warning_consumer_progress_t(boost::make_shared<warning_consumer_stderr_t>()));
  cache_lines_flow_t flow(default_line_size);
  // --symbols: the flow follows the mappings in the resolver's address
  // space; what the symbolizer says about modules comes after the report.
  boost::shared_ptr<warning_consumer_string_t> symbol_warnings(new warning_consumer_string_t);
  std::unique_ptr<symbol_resolver_t> resolver;
  if (vm.count("symbols")) {
    resolver.reset(new symbol_resolver_t(symbolizer_options, symbol_warnings));
    flow.follow_mappings(&resolver->space());
  }
  std::string failure;   // the error line, without "Error: "
  std::string location;  // where a malformed record is, when known
  uint64_t events = 0;
  try {
    // Reading and inflating on a thread of their own, beside the counting.
    flow_file_reader_t reader(in_file, &flow, warnings, read_ahead);
    // On a terminal, a large input shows how far reading has come.
    std::unique_ptr<progress_line_t> progress;
    if (!vm.count("no-progress")) progress = progress_line_for(in_file, STDERR_FILENO);
    if (progress) {
      progress_line_t* line = progress.get();
      reader.set_progress([line](uint64_t bytes) { line->update(bytes); });
      warnings->set_progress(line);
    }
    try {
      const stream_status_t status = reader.dispatch();
      warnings->set_progress(nullptr);
      progress.reset();
      if (status == stream_status_error) {
        failure = "Failed to read input file.";
        const std::string reason = reader.failure_reason();
        if (!reason.empty()) failure += " " + reason;
      }
    } catch (const codec_exception_t& e) {
      // A malformed record, an unsupported format version: what came before
      // it is still reported.
      failure = e.what();
      location = e.location();
    } catch (const std::exception& e) {
      // A flow chain broken, a table of the analysis full.
      failure = e.what();
    }
    events = reader.events_delivered();
    // A recording cut off inside a record must not pass for a whole one, nor
    // one with something after its end, nor an empty one for a recording.
    if (failure.empty() && reader.pending_bytes() != 0) {
      warnings->warning("The input ended inside a record; its last " +
                        std::to_string(reader.pending_bytes()) + " bytes were ignored.");
    }
    if (failure.empty() && reader.trailing_bytes() != 0) {
      warnings->warning(std::to_string(reader.trailing_bytes()) +
                        " bytes after the end of the compressed stream were ignored.");
    }
    if (failure.empty() && events == 0) warnings->warning("The input holds no events.");
  } catch (const stream_exception_t& e) {
    // The input cannot be opened.
    std::cerr << "Error: " << e.what() << std::endl;
    return 1;
  }

  // Nothing decoded (a container that could not be read): no report.
  if (events != 0 || failure.empty()) {
    cache_line_report_t report = build_cache_line_report(flow.result(), options);
    if (resolver != nullptr) resolve_cache_line_symbols(resolver.get(), &report);
    errno = 0;  // from here on only writes to standard output can set it
    if (format == "json") {
      velkor::sample_lines::render_lines_json(report, std::cout);
    } else {
      velkor::sample_lines::render_lines_text(report, std::cout);
    }
    // A report that did not reach its destination (a full disk, a closed
    // pipe) is a failure, not a success.
    std::cout.flush();
    const bool flushed = fflush(stdout) == 0;
    const int write_error = errno;
    if (!std::cout || !flushed || ferror(stdout)) {
      std::cerr << "Error: Failed to write standard output: "
                << (write_error != 0 ? strerror(write_error) : "write error") << "." << std::endl
                << "Error: the report could not be written." << std::endl;
      return 1;
    }
  }
  std::cerr << symbol_warnings->get_messages();
  if (!failure.empty()) {
    std::cerr << "Error: " << failure << std::endl;
    if (!location.empty()) std::cerr << "Error: " << location << std::endl;
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return velkor::program_main::run_guarded(run, argc, argv);
}
