// stream_pack: wraps the bytes of a file or standard input in a stream
// container (the 12-byte header with a product identifier, then the payload
// raw or deflated), or writes them as a headerless legacy deflate stream, to
// a file or standard output. Its whole work is one writing chain:
// file reader -> container writer (-> deflate) -> file writer.

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>
#include <boost/shared_ptr.hpp>

#include "stream/stream.h"
#include "stream/stream_container.h"
#include "stream/stream_file.h"
#include "support/program_main.h"
#include "support/version_info.h"
#include "support/warning_consumer.h"

namespace po = boost::program_options;
using namespace velkor::library;

const char* version_bring_in_version_info() { return version_id_version; }

namespace {

// ---- Settings and their option values -------------------------------------------

struct conf_t {
  std::string input_file;   // empty: standard input
  std::string output_file;  // empty: standard output
  bool legacy = false;
  stream_container_compression_t compression = compression_none;
  stream_container_product_t product = product_keldo_internal;
};

struct product_option_t {
  const char* value;
  stream_container_product_t product;
  const char* help;
};

const product_option_t product_options[] = {
    {"orca", product_pacemark, "  orca      - Velkor Orca"},
    {"orcamp", product_loomview, "  orcamp    - Velkor Orca MP"},
    {"tansy", product_glintly, "  tansy   - Velkor Tansy"},
    {"pm12", product_pacemark_1_2, "  pm12     - Velkor Pacemark 1.2"},
    {"internal", product_keldo_internal, "  internal - For internal use only"},
};

struct compression_option_t {
  const char* value;
  stream_container_compression_t compression;
  const char* help;
};

const compression_option_t compression_options[] = {
    {"none", compression_none, "  none    - No compression"},
    {"deflate", compression_deflate, "  deflate - Zlib deflate"},
};

// ---- Packing ----------------------------------------------------------------------

// Runs the chain and returns its status; after a read or write failure,
// *reason says which file failed and why. The stages go source first, so the
// compressor, destroyed with the container writer, still writes the end of
// the deflate stream into the open output; the same holds when a stream
// exception leaves here, which it does only after that.
stream_status_t pack(const conf_t& conf, std::string* reason) {
  boost::shared_ptr<warning_consumer_base_t> warnings(new warning_consumer_stderr_t);

  stream_container_header_t header;
  header.version = conf.legacy ? 0 : 1;
  header.product = conf.product;
  header.data_type = data_type_binary_samples;
  header.compression = conf.compression;

  stream_file_writer_t output(conf.output_file);
  stream_status_t status;
  {
    stream_container_writer_t container(header, &output, warnings);
    stream_file_reader_t input(conf.input_file, &container);
    status = input.dispatch();
    *reason = input.error_text();
  }
  if (status == stream_status_ok) {
    // The end of a deflate stream reached the output only now: make sure it
    // got out. A zero-length block reports an error left on the output
    // stream.
    status = output.flush();
    if (status == stream_status_ok) status = output.process_data("", 0);
  }
  if (reason->empty()) *reason = output.error_text();
  return status;
}

void print_usage(const char* program, const po::options_description& desc) {
  std::cout << "Usage: " << program << " [OPTION]... [IN FILE] [OUT FILE]" << std::endl
            << std::endl
            << "Encapsulates data inside an Keldo stream container." << std::endl
            << std::endl
            << desc << std::endl;
}

int run(int argc, char** argv) {
  conf_t conf;
  std::string compression;
  std::string product;

  po::options_description desc("Allowed options", po::options_description::m_default_line_length,
                               po::options_description::m_default_line_length / 2);
  desc.add_options()
      ("help,h", "produce help message")
      ("input-file,i", po::value<std::string>(&conf.input_file),
       "input file, (default: stdin)")
      ("output-file,o", po::value<std::string>(&conf.output_file),
       "output file when dumping data (default: stdout)")
      ("legacy,l", "Create a headerless legacy file. Forces compression to deflate.")
      ("compression,c", po::value<std::string>(&compression),
       "Compression method to use (default: none)")
      ("product,p", po::value<std::string>(&product),
       "Product ID to use, see source for available product IDs (default: internal)");
  // Options that the help text does not list.
  po::options_description hidden;
  hidden.add_options()("version", "");
  po::options_description all;
  all.add(desc).add(hidden);
  po::positional_options_description positional;
  positional.add("input-file", 1);
  positional.add("output-file", 1);

  // Without even a program name, there is nothing to parse.
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const char* program = argc > 0 ? argv[0] : "stream_pack";

  po::variables_map vm;
  try {
    po::store(po::command_line_parser(args).options(all).positional(positional).run(), vm);
    po::notify(vm);
  } catch (const po::error& e) {
    std::cerr << "Error: " << e.what() << std::endl << desc;
    return 1;
  }

  if (vm.count("help")) {
    print_usage(program, desc);
    return 0;
  }
  if (vm.count("version")) return velkor::program_main::print_version("stream_pack");

  if (conf.input_file == "-") conf.input_file.clear();
  if (conf.output_file == "-") conf.output_file.clear();

  if (vm.count("legacy")) {
    conf.legacy = true;
    conf.compression = compression_deflate;
  }

  if (vm.count("compression")) {
    const compression_option_t* found = NULL;
    for (const compression_option_t& option : compression_options) {
      if (compression == option.value) found = &option;
    }
    if (found == NULL) {
      std::cerr << "Error: illegal compression specified." << std::endl
                << "Available compressions are:" << std::endl;
      for (const compression_option_t& option : compression_options) {
        std::cerr << option.help << std::endl;
      }
      return 1;
    }
    conf.compression = found->compression;
  }

  if (vm.count("product")) {
    const product_option_t* found = NULL;
    for (const product_option_t& option : product_options) {
      if (product == option.value) found = &option;
    }
    if (found == NULL) {
      std::cerr << "Error: illegal product specified." << std::endl
                << "Available products are:" << std::endl;
      for (const product_option_t& option : product_options) {
        std::cerr << option.help << std::endl;
      }
      return 1;
    }
    conf.product = found->product;
  }

  if (conf.legacy && conf.compression != compression_deflate) {
    std::cerr << "Warning: Legacy specified, but compression is not 'deflate', " << std::endl
              << "output file will will not be a valid Quenth file." << std::endl;
  }

  try {
    std::string reason;
    if (pack(conf, &reason) == stream_status_error) {
      // A deflate stage has said why already; a read or write failure has not.
      if (!reason.empty()) std::cerr << "Error: " << reason << "." << std::endl;
      std::cerr << "Error: the input could not be packed." << std::endl;
      return 1;
    }
  } catch (const stream_exception_t& e) {
    std::cerr << "Caught stream exception:" << std::endl << e.what() << std::endl;
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return velkor::program_main::run_guarded(run, argc, argv);
}
