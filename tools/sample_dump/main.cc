// sample_dump: prints a sample file event by event. Reads the file (or
// standard input) like sample_stats, through the flow file reader, and
// writes the container header and then every event, or the events of chosen
// kinds, threads and times, in the library's text forms or as JSON lines. A
// damaged file is dumped up to the damage and then reported, with exit
// status 1.

#include <unistd.h>

#include <cstdint>
#include <exception>
#include <iostream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>
#include <boost/shared_ptr.hpp>

#include "codec/codec_utils.h"
#include "dump_flow.h"
#include "event_filter.h"
#include "flow/flow_file_reader.h"
#include "output_buffer.h"
#include "stream/stream.h"
#include "stream/stream_container.h"
#include "support/program_main.h"
#include "support/progress_line.h"
#include "support/version_info.h"
#include "support/warning_consumer.h"
#include "symbol_output.h"

namespace po = boost::program_options;
using namespace velkor::library;
using velkor::dump::dump_flow_t;
using velkor::dump::dump_format_t;
using velkor::dump::event_filter_t;
using velkor::dump::kind_set_t;
using velkor::dump::output_buffer_t;

const char* version_bring_in_version_info() { return version_id_version; }

namespace {

void print_help(const po::options_description& desc) {
  std::cerr << "Usage: sample_dump [OPTION]..." << std::endl
            << std::endl
            << "Prints the container header and every event of a sample file." << std::endl
            << std::endl
            << desc << std::endl;
}

// The values of an option, each of which may hold several separated by
// commas, one by one.
std::vector<std::string> split_commas(const std::vector<std::string>& values) {
  std::vector<std::string> items;
  for (const std::string& value : values) {
    size_t start = 0;
    for (;;) {
      size_t comma = value.find(',', start);
      items.push_back(value.substr(start, comma == std::string::npos ? comma : comma - start));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  return items;
}

// A decimal number without sign, blanks or suffix, at most max; false when
// the text is none.
bool parse_number(const std::string& text, uint64_t max, uint64_t* number) {
  uint64_t value = 0;
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (max - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *number = value;
  return true;
}

// The filter that the --kind, --thread, --time-from and --time-to values
// describe. False, with the reason, for a value that is no kind, thread or
// time, and for an empty time range.
bool parse_filter(const po::variables_map& vm, event_filter_t* filter, std::string* error) {
  if (vm.count("kind")) {
    kind_set_t kinds;
    for (const std::string& name : split_commas(vm["kind"].as<std::vector<std::string> >())) {
      qnt_event_kind_t kind;
      if (!kind_by_name(name, &kind)) {
        *error = "unknown event kind '" + name + "'; the kinds are " +
                 kind_names() + ".";
        return false;
      }
      kinds.set(kind);
    }
    filter->set_kinds(kinds);
  }
  if (vm.count("thread")) {
    for (const std::string& id : split_commas(vm["thread"].as<std::vector<std::string> >())) {
      uint64_t thread;
      if (!parse_number(id, UINT32_MAX, &thread)) {
        *error = "the value '" + id + "' of --thread is not a thread id from 0 to " +
                 std::to_string(UINT32_MAX) + ".";
        return false;
      }
      filter->add_thread(static_cast<uint32_t>(thread));
    }
  }
  uint64_t bounds[2] = {0, UINT64_MAX};
  const char* const bound_options[2] = {"time-from", "time-to"};
  for (int i = 0; i < 2; ++i) {
    if (!vm.count(bound_options[i])) continue;
    const std::string& text = vm[bound_options[i]].as<std::string>();
    if (!parse_number(text, UINT64_MAX, &bounds[i])) {
      *error = "the value '" + text + "' of --" + bound_options[i] +
               " is not a time from 0 to " + std::to_string(UINT64_MAX) + ".";
      return false;
    }
  }
  if (bounds[0] > bounds[1]) {
    *error = "the time range is empty: --time-from " + std::to_string(bounds[0]) +
             " is after --time-to " + std::to_string(bounds[1]) + ".";
    return false;
  }
  if (vm.count("time-from") || vm.count("time-to")) filter->set_time_range(bounds[0], bounds[1]);
  return true;
}

// Keeps the warnings of the reading chain until the events before them are
// out, so that on a terminal they follow the last event printed, and tells
// whether one of them says that the input is damaged.
class held_warnings_t : public warning_consumer_base_t {
 public:
  void warn(const warning_const_ptr_t& w) override {
    text_ += warning_severity_prefix(w->severity()) + w->what() + "\n";
    if (w->severity() >= warning_base_t::severity_warning) damaged_ = true;
  }
  using warning_consumer_base_t::warn;

  const std::string& text() const { return text_; }
  bool damaged() const { return damaged_; }

 private:
  std::string text_;
  bool damaged_ = false;
};

// Why reading failed, when no stage has said it on the sink (a read error,
// a refused container header).
std::string read_failure(const flow_file_reader_t& reader) {
  std::string text = "Failed to read input file.";
  const std::string reason = reader.failure_reason();
  if (!reason.empty()) text += " " + reason;
  return text;
}

int run(int argc, char** argv) {
  std::string in_file;
  std::string format = "text";

  po::options_description desc("Options", po::options_description::m_default_line_length,
                               po::options_description::m_default_line_length / 2);
  desc.add_options()
      ("help,h", "Print this help message.")
      ("version", "Print the program name and version.")
      ("in-file,i", po::value<std::string>(&in_file),
       "Specifies the input file. If no file is specified stdin is used.")
      ("format", po::value<std::string>(&format),
       "Output format: text (default), the events' text forms, or json, one JSON object "
       "per line: the file, then each event.")
      ("kind", po::value<std::vector<std::string> >(),
       "Print only events of this kind (read, write, prefetch, sample_begin, sample_end, "
       "sample_period, acquisition_begin, acquisition_end, mmap, munmap, stack, sample, "
       "time_mapping, local_time, burst_begin, burst_end, contexts); repeat it or separate "
       "names by commas for several.")
      ("thread", po::value<std::vector<std::string> >(),
       "Print only events of this thread (an access, sample begin or end, or local time of "
       "it; a sample, time mapping or contexts event that names it); repeat it or separate "
       "ids by commas for several. Events without a thread are left out.")
      ("time-from", po::value<std::string>(),
       "Print only events whose time is at least this (which time, per kind: see "
       "sample_dump(1)). Events without a time are left out.")
      ("time-to", po::value<std::string>(),
       "Print only events whose time is at most this. Events without a time are left out.")
      ("no-progress",
       "No progress line: without it, reading an input of 64 MiB or more, or of unknown size, "
       "shows one on standard error when that is a terminal and the output is not.");
  velkor::dump::add_symbol_options(&desc);

  po::variables_map vm;
  if (!velkor::program_main::parse_command_line(argc, argv, desc, &vm)) return 1;
  if (vm.count("help")) {
    print_help(desc);
    return 0;
  }
  if (vm.count("version")) return velkor::program_main::print_version("sample_dump");
  if (velkor::program_main::refuse_positional_args(vm)) return 1;
  dump_format_t dump_format;
  if (format == "text") {
    dump_format = velkor::dump::format_text;
  } else if (format == "json") {
    dump_format = velkor::dump::format_json;
  } else {
    std::cerr << "Error: unknown format '" << format << "'; the formats are text and json."
              << std::endl;
    return 1;
  }
  event_filter_t filter;
  std::string filter_error;
  if (!parse_filter(vm, &filter, &filter_error)) {
    std::cerr << "Error: " << filter_error << std::endl;
    return 1;
  }
  // --symbols: its warnings are printed after the output, like those of reading.
  boost::shared_ptr<warning_consumer_string_t> symbol_warnings(new warning_consumer_string_t);
  std::unique_ptr<velkor::dump::symbol_output_t> symbols;
  std::string symbol_error;
  if (!velkor::dump::symbol_output_from_options(vm, symbol_warnings, &symbols, &symbol_error)) {
    std::cerr << "Error: " << symbol_error << std::endl;
    return 1;
  }
  if (in_file == "-") in_file.clear();

  output_buffer_t buffer(STDOUT_FILENO);
  std::ostream out(&buffer);
  boost::shared_ptr<held_warnings_t> warnings(new held_warnings_t);
  dump_flow_t flow(out, dump_format, filter);
  flow.set_symbols(symbols.get());

  std::string failure;   // the error line, without "Error: "
  std::string location;  // where a malformed record is, when known
  bool no_events = false;
  try {
    flow_file_reader_t reader(in_file, &flow, warnings, read_ahead);
    flow.set_header(&reader.get_header());
    // A large input shows how far reading has come when standard error is a
    // terminal and the dump goes elsewhere (on the terminal it scrolls by).
    std::unique_ptr<progress_line_t> progress;
    if (!vm.count("no-progress") && isatty(STDOUT_FILENO) != 1) {
      progress = progress_line_for(in_file, STDERR_FILENO);
    }
    if (progress) {
      progress_line_t* line = progress.get();
      reader.set_progress([line](uint64_t bytes) { line->update(bytes); });
    }
    try {
      stream_status_t status = reader.dispatch();
      progress.reset();
      if (status == stream_status_error) failure = read_failure(reader);
    } catch (const codec_exception_t& e) {
      failure = e.what();
      location = e.location();
    }
    flow.write_header();  // for an input without events
    if (failure.empty() && reader.pending_bytes() > 0) {
      failure = "The input ended inside a record; its last " +
                std::to_string(reader.pending_bytes()) + " bytes were ignored.";
    }
    // A dump of a damaged file must not pass for a whole one: neither with
    // something after the end of its compressed stream nor with a
    // compressed stream cut short at a record boundary.
    if (failure.empty() && reader.trailing_bytes() > 0) {
      failure = std::to_string(reader.trailing_bytes()) +
                " bytes after the end of the compressed stream were ignored.";
    }
    if (failure.empty() && warnings->damaged()) failure = "The input is incomplete.";
    no_events = failure.empty() && reader.events_delivered() == 0;
  } catch (const stream_exception_t& e) {
    // The input cannot be opened.
    failure = e.what();
  }

  if (!buffer.drain()) {
    std::cerr << "Error: Failed to write standard output: " << buffer.error() << "." << std::endl;
    return 1;
  }
  std::cerr << symbol_warnings->get_messages();
  std::cerr << warnings->text();
  if (!failure.empty()) {
    std::cerr << "Error: " << failure << std::endl;
    if (!location.empty()) std::cerr << "Error: " << location << std::endl;
    return 1;
  }
  if (no_events) std::cerr << "Warning: The input holds no events." << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return velkor::program_main::run_guarded(run, argc, argv);
}
