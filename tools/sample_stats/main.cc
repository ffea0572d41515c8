// sample_stats: reads one sample file (or standard input), decodes its event
// stream into the statistics flow and prints the report on standard output:
// the lines some events print as they arrive, the container header, then the
// statistics. Help, errors and warnings go to standard error.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>
#include <boost/lexical_cast.hpp>
#include <boost/program_options.hpp>
#include <boost/shared_ptr.hpp>

#include "analysis/cache_line_report.h"
#include "analysis/cache_line_symbols.h"
#include "analysis/cache_lines.h"
#include "codec/codec_utils.h"
#include "flow/flow_tee.h"
#include "flow/flow_file_reader.h"
#include "sample_file_stats.h"
#include "stats_html.h"
#include "stats_json.h"
#include "stats_model.h"
#include "stats_report.h"
#include "stream/stream.h"
#include "stream/stream_container.h"
#include "support/program_main.h"
#include "support/progress_line.h"
#include "support/version_info.h"
#include "support/warning_consumer.h"
#include "symbols/symbol_options.h"

namespace po = boost::program_options;
using namespace velkor::library;
using namespace velkor::sample_stats;

const char* version_bring_in_version_info() { return version_id_version; }

namespace {

// What the command line asks for.
struct settings_t {
  std::string in_file;  // empty: standard input
  bool json = false;    // --format json
  bool html = false;    // --format html
  size_t top = 10;      // entries of a top list; 0: all
  bool reuse = false;   // reuse times, also in the text report
  bool symbols = false;
  symbolizer_options_t symbolizer;
  bool progress = true;  // on a terminal, for a large input
};

// Writes every warning to standard error, as the stderr sink does, and keeps
// its line for the JSON and HTML reports.
class kept_warnings_t : public warning_consumer_base_t {
 public:
  void warn(const warning_const_ptr_t& w) override {
    stderr_.warn(w);
    lines_.push_back(warning_severity_prefix(w->severity()) + w->what());
  }
  using warning_consumer_base_t::warn;
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  warning_consumer_stderr_t stderr_;
  std::vector<std::string> lines_;
};

// Reads the input through the flow and prints the report. Returns the exit
// status; exceptions that leave building or running the chain are the
// caller's.
int read_and_report(const settings_t& settings) {
  boost::shared_ptr<kept_warnings_t> kept(new kept_warnings_t);
  // A progress line, when there is one, makes way for each warning.
  boost::shared_ptr<warning_consumer_progress_t> around_progress(
      new warning_consumer_progress_t(kept));
  boost::shared_ptr<warning_consumer_base_t> warnings = around_progress;
  sample_file_stats_t stats;
  // The JSON and HTML reports hold the lines the text report prints as their
  // events arrive, and reuse times always; the page also the hottest cache
  // lines, counted in the same pass.
  const bool text = !settings.json && !settings.html;
  stats.set_print_events(text);
  stats.set_reuse(settings.reuse || !text);
  std::unique_ptr<stats_symbols_t> symbols;
  if (settings.symbols) {
    symbols.reset(new stats_symbols_t(settings.symbolizer, warnings));
    stats.set_symbols(symbols.get());
  }
  // The cache lines go first: with symbols they keep the mappings that both
  // analyses locate in, and count what they hold back before a mapping
  // changes.
  cache_lines_flow_t lines_flow;
  symbol_resolver_t* lines_resolver = nullptr;
  if (settings.html && symbols) {
    lines_resolver = symbols->share_resolver();
    lines_flow.follow_mappings(&lines_resolver->space());
  }
  quenth_flow_tee_t both(&lines_flow, &stats);
  quenth_flow_t* flow = settings.html ? static_cast<quenth_flow_t*>(&both) : &stats;
  // An empty path reads standard input. Reading and inflating run on a
  // thread of their own, beside the counting.
  flow_file_reader_t reader(boost::filesystem::path(settings.in_file), flow, warnings,
                            read_ahead);
  // On a terminal, a large input shows how far reading has come.
  std::unique_ptr<progress_line_t> progress;
  if (settings.progress) progress = progress_line_for(settings.in_file, STDERR_FILENO);
  if (progress) {
    progress_line_t* line = progress.get();
    reader.set_progress([line](uint64_t bytes) { line->update(bytes); });
    stats.set_before_print([line] { line->clear(); });
    around_progress->set_progress(line);
  }

  const stream_status_t status = reader.dispatch();
  around_progress->set_progress(nullptr);
  progress.reset();
  // The reason of a failed write of the lines printed while reading, before
  // anything else can change errno.
  int write_error = ferror(stdout) ? errno : 0;
  if (status == stream_status_error) {
    // The inflate stage has told its reason already; a read error or a
    // refused header has not.
    const std::string reason = reader.failure_reason();
    if (!reason.empty()) warnings->error(reason);
    std::cerr << "Failed to read input file." << std::endl;
    return 1;
  }
  // A recording cut off inside a record must not pass for a whole one, nor
  // one with something after its end, nor an empty one for a recording.
  if (reader.pending_bytes() != 0) {
    warnings->warning("The input ended inside a record; its last " +
                      boost::lexical_cast<std::string>(reader.pending_bytes()) +
                      " bytes were ignored.");
  }
  if (reader.trailing_bytes() != 0) {
    warnings->warning(boost::lexical_cast<std::string>(reader.trailing_bytes()) +
                      " bytes after the end of the compressed stream were ignored.");
  }
  if (reader.events_delivered() == 0) warnings->warning("The input holds no events.");

  errno = 0;  // from here on only writes to standard output can set it
  if (text) std::cout << reader.get_header();
  stats.count_all_danglings();
  if (stats.unmatched_end_count() != 0) {
    warnings->warning("Sample ends that never met their begin were not counted: " +
                      boost::lexical_cast<std::string>(stats.unmatched_end_count()));
  }
  const stats_model_t model = build_stats_model(stats, reader.get_header(), settings.top);
  if (!text && symbols) {
    // The names first, so that what the symbolizer has to say is among the
    // report's warnings.
    for (const line_size_report_t& r : model.line_sizes) {
      for (const top_pc_t& pc : r.top_begin_pcs) symbols->text(pc.location);
      for (const top_pc_t& pc : r.top_end_pcs) symbols->text(pc.location);
    }
  }
  if (settings.json) {
    write_stats_json(std::cout, model, stats.kept_events(), kept->lines(), symbols.get());
  } else if (settings.html) {
    cache_line_report_t lines =
        build_cache_line_report(lines_flow.result(), cache_line_report_options_t());
    if (lines_resolver != nullptr) resolve_cache_line_symbols(lines_resolver, &lines);
    write_stats_html(std::cout, model, stats.kept_events(), kept->lines(), symbols.get(), &lines);
  } else {
    print_stats_report(model, symbols.get());
  }

  // A report that did not reach its destination (a full disk, a closed
  // pipe) is a failure, not a success.
  std::cout.flush();
  const bool flushed = fflush(stdout) == 0;
  if (write_error == 0) write_error = errno;
  if (!std::cout || !flushed || ferror(stdout)) {
    std::cerr << "Error: Failed to write standard output: "
              << (write_error != 0 ? strerror(write_error) : "write error") << "." << std::endl
              << "Error: the report could not be written." << std::endl;
    return 1;
  }
  return 0;
}

// A decimal count without sign or blanks, at most 2^32; false when the text
// is none.
bool parse_count(const std::string& text, size_t* count) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > (uint64_t(1) << 32)) return false;
  *count = static_cast<size_t>(value);
  return true;
}

int run(int argc, char** argv) {
  settings_t settings;
  std::string& in_file = settings.in_file;

  const unsigned line_length = po::options_description::m_default_line_length;
  po::options_description visible("Options", line_length, line_length / 2);
  visible.add_options()
      ("help,h", "Print this help message.")
      ("in-file,i", po::value<std::string>(&in_file),
       "Specifies the input file. If no file is specified stdin is used.");
  // Beyond the options above, whose help text (--help) stays as it is:
  // --help-all lists them after the others.
  po::options_description further("Further options", line_length, line_length / 2);
  further.add_options()
      ("help-all", "Print the help of every option.")
      ("format", po::value<std::string>()->default_value("text"),
       "The report as text (the default), as one JSON document (json), which also holds "
       "the shares, reuse times and busiest thread pairs, or as one self-contained HTML page "
       "(html) with charts, sortable tables and the hottest cache lines.")
      ("top", po::value<std::string>()->default_value("10"),
       "Entries of each top list, and of the busiest pairs of threads in JSON; 0 lists all.")
      ("reuse",
       "In the text report too: the reuse times (accesses from a sample's begin to its first "
       "end) per line size and listed begin pc, in a section of their own at the end.")
      ("no-progress",
       "No progress line: without it, reading an input of 64 MiB or more, or of unknown size, "
       "shows one on standard error when that is a terminal.")
      ("symbols",
       "Show each listed program counter's function, offset, source line and module, "
       "resolved against the mappings in force when it was first counted.")
      ("symfs", po::value<std::string>(),
       "With --symbols: look up the recorded modules and their debug files under this folder "
       "(DIR/usr/bin/app for /usr/bin/app).")
      ("version", "Print the program name and version.");
  // Collects every positional argument, however many, so that all of them
  // get the one clear refusal below (and help still wins over them).
  po::options_description hidden("Options", line_length, line_length / 2);
  hidden.add_options()
      ("positional-args",
       po::value<std::vector<std::string> >()->zero_tokens()->composing(), "");
  po::options_description all("Options", line_length, line_length / 2);
  all.add(visible).add(further).add(hidden);
  po::positional_options_description positional;
  positional.add("positional-args", -1);

  // Without even a program name there is nothing to parse.
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  po::variables_map vm;
  try {
    po::store(po::command_line_parser(args).options(all).positional(positional).run(), vm);
    po::notify(vm);
  } catch (const po::error& e) {
    // An unknown option, a missing value, an option given twice.
    std::cerr << "Error: " << e.what() << "\n" << visible << std::endl;
    return 1;
  }

  if (vm.count("help")) {
    std::cerr << visible << std::endl;
    return 0;
  }
  if (vm.count("help-all")) {
    std::cerr << visible << "\n" << further << std::endl;
    return 0;
  }
  if (vm.count("version")) return velkor::program_main::print_version("sample_stats");
  if (vm.count("positional-args")) {
    std::cerr << "Error: no positional arguments allowed" << std::endl;
    return 1;
  }
  const std::string format = vm["format"].as<std::string>();
  if (format != "text" && format != "json" && format != "html") {
    std::cerr << "Error: unknown format '" << format << "'; the formats are text, json and html."
              << std::endl;
    return 1;
  }
  settings.json = format == "json";
  settings.html = format == "html";
  if (!parse_count(vm["top"].as<std::string>(), &settings.top)) {
    std::cerr << "Error: the value '" << vm["top"].as<std::string>()
              << "' of --top is not a number of entries." << std::endl;
    return 1;
  }
  settings.reuse = vm.count("reuse") > 0;
  settings.progress = vm.count("no-progress") == 0;
  settings.symbols = vm.count("symbols") > 0;
  std::string symbol_error;
  if (!check_symbol_options(settings.symbols, vm.count("symfs") > 0,
                            vm.count("symfs") ? vm["symfs"].as<std::string>() : std::string(),
                            &settings.symbolizer, &symbol_error)) {
    std::cerr << "Error: " << symbol_error << std::endl;
    return 1;
  }

  try {
    return read_and_report(settings);
  } catch (const codec_exception_t& e) {
    // A malformed record, an unsupported format version: no report, but
    // where the fault is.
    std::cerr << "Error: " << e.what() << std::endl;
    if (!e.location().empty()) std::cerr << "Error: " << e.location() << std::endl;
    return 1;
  } catch (const std::exception& e) {
    // The input cannot be opened, out of memory, a broken flow chain: no
    // report.
    std::cerr << "Error: " << velkor::program_main::exception_reason(e) << std::endl;
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  return velkor::program_main::run_guarded(run, argc, argv);
}
