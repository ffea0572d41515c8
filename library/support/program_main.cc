#include "support/program_main.h"

#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "support/version_info.h"

namespace po = boost::program_options;

namespace velkor { namespace program_main {

namespace {

const char positional_option[] = "positional-args";

}  // namespace

int print_version(const char* program) {
  std::cout << program << " " << version_release();
  if (*version_source_revision() != '\0') {
    std::cout << " (revision " << version_source_revision() << ")";
  }
  std::cout << std::endl;
  if (!std::cout) {
    std::cerr << "Error: Failed to write standard output." << std::endl;
    return 1;
  }
  return 0;
}

bool parse_command_line(int argc, char** argv, const po::options_description& options,
                        po::variables_map* vm) {
  po::options_description hidden;
  hidden.add_options()(positional_option, po::value<std::vector<std::string> >(), "");
  po::options_description all;
  all.add(options).add(hidden);
  po::positional_options_description positional;
  positional.add(positional_option, -1);

  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  try {
    po::store(po::command_line_parser(args).options(all).positional(positional).run(), *vm);
    po::notify(*vm);
  } catch (const po::error& e) {
    std::cerr << "Error: " << e.what() << std::endl;
    return false;
  }
  return true;
}

bool refuse_positional_args(const po::variables_map& vm) {
  if (vm.count(positional_option) == 0) return false;
  std::cerr << "Error: no positional arguments allowed" << std::endl;
  return true;
}

std::string exception_reason(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) return "out of memory";
  return e.what();
}

int run_guarded(int (*run)(int, char**), int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "Error: " << exception_reason(e) << std::endl;
    return 1;
  }
}

}}  // namespace velkor::program_main
