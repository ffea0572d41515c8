// sample_synth: writes a synthetic sample file, a plausible recording of a
// multi-threaded program (see synth.h), through the library's writing chain:
// encoder -> container writer (-> deflate) -> file writer. For newcomers
// without a recording, for tests and for the benchmarks.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/program_options.hpp>
#include <boost/shared_ptr.hpp>

#include "flow/flow_file_writer.h"
#include "stream/stream.h"
#include "stream/stream_container.h"
#include "support/program_main.h"
#include "support/version_info.h"
#include "support/warning_consumer.h"
#include "synth.h"
#include "synth_binary.h"

namespace po = boost::program_options;
using namespace velkor::library;
using velkor::synth::synth_options_t;

const char* version_bring_in_version_info() { return version_id_version; }

namespace {

// A setting that cannot be used: one line on standard error, exit status 1.
class usage_error_t : public std::runtime_error {
 public:
  explicit usage_error_t(const std::string& message) : std::runtime_error(message) {}
};

// A decimal number without sign, blanks or suffix, from min to max.
uint64_t parse_number(const std::string& text, uint64_t max, const char* option,
                      uint64_t min = 0) {
  uint64_t value = 0;
  bool valid = !text.empty() && text.size() <= 20;
  for (char c : text) {
    if (c < '0' || c > '9') {
      valid = false;
      break;
    }
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (max - digit) / 10) {
      valid = false;
      break;
    }
    value = value * 10 + digit;
  }
  if (!valid || value < min) {
    throw usage_error_t("the value '" + text + "' of --" + option + " is not a number from " +
                        std::to_string(min) + " to " + std::to_string(max) + ".");
  }
  return value;
}

// A decimal number with an optional fraction ("0", "1.5", "10"), from 0 to max.
double parse_decimal(const std::string& text, double max, const char* option) {
  bool valid = !text.empty() && text.size() <= 20 && text[0] != '.' && text.back() != '.';
  int points = 0;
  for (char c : text) {
    if (c == '.') {
      ++points;
    } else if (c < '0' || c > '9') {
      valid = false;
    }
  }
  double value = valid && points <= 1 ? std::strtod(text.c_str(), nullptr) : -1;
  if (!(value >= 0 && value <= max)) {
    throw usage_error_t("the value '" + text + "' of --" + option + " is not a number from 0 to " +
                        std::to_string(static_cast<int>(max)) + ".");
  }
  return value;
}

// "N" or "MIN-MAX", numbers from 0 to max.
void parse_range(const std::string& text, uint32_t max, const char* option, uint32_t* low,
                 uint32_t* high) {
  size_t dash = text.find('-');
  const std::string problem = "the value '" + text + "' of --" + option +
                              " is not a number or a range MIN-MAX of numbers from 0 to " +
                              std::to_string(max) + ".";
  try {
    *low = static_cast<uint32_t>(parse_number(text.substr(0, dash), max, option));
    *high = dash == std::string::npos
                ? *low
                : static_cast<uint32_t>(parse_number(text.substr(dash + 1), max, option));
  } catch (const usage_error_t&) {
    throw usage_error_t(problem);
  }
  if (*low > *high) throw usage_error_t(problem);
}

void print_help(const po::options_description& desc) {
  std::cerr << "Usage: sample_synth [OPTION]..." << std::endl
            << std::endl
            << "Writes a synthetic sample file: a plausible recording of a multi-threaded"
            << std::endl
            << "program, the same bytes for the same options and seed." << std::endl
            << std::endl
            << desc << std::endl;
}

int run(int argc, char** argv) {
  std::string samples = "10000";
  std::string threads = "4";
  std::vector<std::string> line_sizes;
  std::string compression = "deflate";
  std::string seed = "1";
  std::string pcs, pc_skew, end_trail, ends, binary;
  std::string output;

  po::options_description desc("Options", po::options_description::m_default_line_length,
                               po::options_description::m_default_line_length / 2);
  desc.add_options()
      ("help,h", "Print this help message.")
      ("version", "Print the program name and version.")
      ("samples", po::value<std::string>(&samples),
       "Number of samples to write (default 10000).")
      ("threads", po::value<std::string>(&threads),
       "Number of threads of the recorded program, 1 to 1024 (default 4).")
      ("line-size", po::value<std::vector<std::string> >(&line_sizes),
       "A sampled cache-line size in bytes, a power of two; repeat for more "
       "(default 64).")
      ("compression", po::value<std::string>(&compression),
       "Payload compression: none or deflate (default deflate).")
      ("seed", po::value<std::string>(&seed),
       "Seed of the generator (default 1); the same seed gives the same bytes.")
      ("false-sharing",
       "Also plant per-thread counters packed into one cache line (false sharing) and a "
       "counter that all threads update in the next line (true sharing).")
      ("pcs", po::value<std::string>(&pcs),
       "Sample N distinct program counters, 1 to 16384, spread over the program's code, "
       "instead of the model's seventeen.")
      ("pc-skew", po::value<std::string>(&pc_skew),
       "With --pcs: the k-th busiest program counter is sampled with weight 1/k^S; 0 is "
       "flat, larger values more skewed, up to 10 (default 1).")
      ("end-trail", po::value<std::string>(&end_trail),
       "Ends of a sample at 1 to N accesses after its begin, drawn uniformly, so that end "
       "times arrive out of order (N from 1 to 4294967295).")
      ("ends", po::value<std::string>(&ends),
       "Ends of each complete sample record: N, or MIN-MAX drawn uniformly (0 to 255).")
      ("complete-only", "Write every sample as a complete sample record: no separate begin "
       "and end records, none dangling.")
      ("binary", po::value<std::string>(&binary),
       "Record the ELF executable FILE: map it and the libraries it loads, and take the "
       "program counters from its functions and data addresses from its global objects.")
      ("output,o", po::value<std::string>(&output),
       "Output file; standard output when absent or '-'.");

  po::variables_map vm;
  if (!velkor::program_main::parse_command_line(argc, argv, desc, &vm)) return 1;
  if (vm.count("help")) {
    print_help(desc);
    return 0;
  }
  if (vm.count("version")) return velkor::program_main::print_version("sample_synth");
  if (velkor::program_main::refuse_positional_args(vm)) return 1;

  synth_options_t options;
  stream_container_header_t header;
  header.product = product_keldo_internal;
  header.data_type = data_type_binary_samples;
  try {
    options.samples = parse_number(samples, velkor::synth::max_samples, "samples");
    options.threads = static_cast<uint32_t>(
        parse_number(threads, UINT32_MAX, "threads"));
    options.seed = parse_number(seed, UINT64_MAX, "seed");
    options.false_sharing = vm.count("false-sharing") != 0;
    if (vm.count("pcs")) {
      options.pcs = static_cast<uint32_t>(parse_number(pcs, velkor::synth::max_pcs, "pcs", 1));
    }
    if (vm.count("pc-skew")) {
      options.pc_skew = parse_decimal(pc_skew, velkor::synth::max_pc_skew, "pc-skew");
      if (!vm.count("pcs")) {
        throw usage_error_t("--pc-skew weighs the program counters of --pcs; give --pcs too.");
      }
    }
    if (vm.count("end-trail")) {
      options.end_trail =
          parse_number(end_trail, velkor::synth::max_end_trail, "end-trail", 1);
    }
    if (vm.count("ends")) {
      options.ends_given = true;
      parse_range(ends, velkor::synth::max_ends, "ends", &options.ends_min, &options.ends_max);
    }
    options.complete_only = vm.count("complete-only") != 0;
    if (!line_sizes.empty()) {
      options.line_sizes.clear();
      for (const std::string& size : line_sizes) {
        options.line_sizes.push_back(parse_number(size, UINT64_MAX, "line-size"));
      }
    }
    if (vm.count("binary")) {
      auto recorded = std::make_shared<velkor::synth::recorded_binary_t>();
      std::string problem = velkor::synth::read_recorded_binary(
          binary, boost::shared_ptr<warning_consumer_base_t>(new warning_consumer_stderr_t),
          recorded.get());
      if (!problem.empty()) throw usage_error_t(problem);
      for (const std::string& missing : recorded->missing_libraries) {
        std::cerr << "Warning: The library " << missing
                  << " was not found; the recording does not map it." << std::endl;
      }
      options.binary = recorded;
    }
    if (compression == "none") {
      header.compression = compression_none;
    } else if (compression == "deflate") {
      header.compression = compression_deflate;
    } else {
      throw usage_error_t("unknown compression '" + compression +
                          "'; use none or deflate.");
    }
    std::string problem = velkor::synth::check_options(options);
    if (!problem.empty()) throw usage_error_t(problem);
  } catch (const usage_error_t& e) {
    std::cerr << "Error: " << e.what() << std::endl;
    return 1;
  }

  if (output == "-") output.clear();
  const std::string output_name = output.empty() ? "standard output" : output;
  if (output.empty() && isatty(STDOUT_FILENO)) {
    std::cerr << "Error: refusing to write a binary file to a terminal; use -o FILE." << std::endl;
    return 1;
  }

  boost::shared_ptr<warning_consumer_base_t> warnings(new warning_consumer_stderr_t);
  try {
    // zlib's fastest level: the default one would cost several times as much
    // for a file only a fifth smaller, and benchmarks write millions of samples.
    flow_file_writer_t writer(output, header, warnings, 1);
    flow_status_t written = velkor::synth::synthesize(options, writer.flow());
    stream_status_t finished = writer.finish();
    if (written != flow_status_ok || finished != stream_status_ok) {
      std::cerr << "Error: failed to write " << output_name << "." << std::endl;
      return 1;
    }
  } catch (const stream_exception_t& e) {
    // The output cannot be created, or its header not written.
    std::cerr << "Error: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return velkor::program_main::run_guarded(run, argc, argv);
}
