// File-system services: opening a file for the stream endpoints, creating a
// file exclusively, finding the running executable and its installation
// directory, and choosing a directory for temporary files.
#ifndef LIBRARY_SUPPORT_EXE_PATH_H_
#define LIBRARY_SUPPORT_EXE_PATH_H_

#include <cstdio>
#include <string>

#include <boost/filesystem/path.hpp>

namespace velkor { namespace exe_path {

// fopen on the path's native string; null with errno set on failure, no report.
FILE* fopen(const boost::filesystem::path& path, const std::string& mode);

// True if this call created the (empty) file, false if it already existed.
// Any other failure throws boost::filesystem::filesystem_error ("creat").
bool create_file_fail_if_exists(const boost::filesystem::path& path);

// The target of /proc/self/exe. Throws boost::system::system_error
// ("Error locating executable") when it cannot be read or may be cut short.
boost::filesystem::path get_executable_filename();

// The prefix above the executable's directory for the layouts prefix/bin/x,
// prefix/<any>/loomview/x and prefix/<dir>/x with prefix/share present;
// an empty path when none matches.
boost::filesystem::path get_installation_directory();

// $LOOMVIEW_TMPDIR when set (untested), else the system's temporary
// directory, else the current directory.
boost::filesystem::path get_temp_path();

// The installation-directory rule applied to a given executable path; the
// part of get_installation_directory() that does not ask /proc.
boost::filesystem::path installation_directory_of(const boost::filesystem::path& exe);

}}  // namespace velkor::exe_path
#endif
