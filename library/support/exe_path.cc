#include "support/exe_path.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <boost/filesystem/operations.hpp>
#include <boost/system/system_error.hpp>

namespace fs = boost::filesystem;

namespace velkor { namespace exe_path {

FILE* fopen(const fs::path& path, const std::string& mode) {
  return ::fopen(path.native().c_str(), mode.c_str());
}

bool create_file_fail_if_exists(const fs::path& path) {
  int fd = ::open(path.native().c_str(), O_RDONLY | O_CREAT | O_EXCL, 0777);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  if (errno == EEXIST) return false;
  throw fs::filesystem_error("creat", path,
                             boost::system::error_code(errno, boost::system::system_category()));
}

fs::path get_executable_filename() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer));
  if (n < 0 || n >= static_cast<ssize_t>(sizeof(buffer))) {
    // A full buffer may hold a name that was cut short.
    int error = n < 0 ? errno : ENAMETOOLONG;
    throw boost::system::system_error(error, boost::system::system_category(),
                                      "Error locating executable");
  }
  return fs::path(std::string(buffer, static_cast<size_t>(n)));
}

fs::path installation_directory_of(const fs::path& exe) {
  fs::path dir = exe.parent_path();
  fs::path base = dir.parent_path();
  if (dir.filename() == "bin") return base;
  if (dir.filename() == "loomview") return base.parent_path();
  boost::system::error_code ec;
  fs::file_status status = fs::status(base / "share", ec);
  if (ec && status.type() != fs::file_not_found) {
    throw fs::filesystem_error("status", base / "share", ec);
  }
  if (fs::is_directory(status)) return base;
  return fs::path();
}

fs::path get_installation_directory() {
  return installation_directory_of(get_executable_filename());
}

fs::path get_temp_path() {
  const char* configured = ::getenv("LOOMVIEW_TMPDIR");
  if (configured != NULL) return fs::path(configured);
  try {
    return fs::temp_directory_path();
  } catch (const fs::filesystem_error&) {
    return fs::current_path();
  }
}

}}  // namespace velkor::exe_path
