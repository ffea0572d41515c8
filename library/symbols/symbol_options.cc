#include "symbols/symbol_options.h"

#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

namespace velkor { namespace library {

bool check_symbol_options(bool symbols, bool has_symfs, const std::string& symfs,
                          symbolizer_options_t* options, std::string* error) {
  if (!has_symfs) return true;
  if (!symbols) {
    *error = "--symfs needs --symbols.";
    return false;
  }
  boost::system::error_code ignored;
  if (!symfs.empty() && !boost::filesystem::is_directory(symfs, ignored)) {
    *error = "the --symfs folder '" + symfs + "' does not exist or is no folder.";
    return false;
  }
  options->root = symfs;
  return true;
}

}}  // namespace velkor::library
