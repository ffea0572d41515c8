// Helpers shared by the test programs: hex fixtures, a recording stage, a
// scoped temporary directory, file helpers and a runner for built programs.
#ifndef TESTS_SUPPORT_TEST_SUPPORT_H_
#define TESTS_SUPPORT_TEST_SUPPORT_H_

#include <map>
#include <string>
#include <vector>

#include "stream/stream.h"

namespace velkor { namespace testkit {

// ---- Byte fixtures ---------------------------------------------------------

// "0a 00 02 ff" -> the four bytes; blanks, newlines and '|' are ignored.
std::string hex(const std::string& text);
// The bytes as lower-case hex pairs separated by blanks.
std::string to_hex(const std::string& bytes);

// ---- Stages ----------------------------------------------------------------

// Records every block and flush it receives. Answers `status_for_block` (from
// the block with index `fail_at_block` on; -1: never) and `flush_status`.
class recording_stage_t : public library::stream_t {
 public:
  library::stream_status_t process_data(const char* data, size_t length) override;
  library::stream_status_t flush() override;

  std::string joined() const;  // all bytes received, in order

  std::vector<std::string> blocks;
  int flushes = 0;
  int fail_at_block = -1;
  library::stream_status_t status_for_block = library::stream_status_ok;
  library::stream_status_t flush_status = library::stream_status_ok;
};

// Feeds bytes to a stage in blocks of `block` bytes (the last may be shorter),
// then flushes; returns the first nonzero status, or the flush's.
library::stream_status_t feed(library::stream_t* stage, const std::string& bytes,
                              size_t block, bool flush = true);
// The same with block sizes drawn from 1..max_block by a seeded generator.
library::stream_status_t feed_random(library::stream_t* stage, const std::string& bytes,
                                     unsigned seed, size_t max_block, bool flush = true);

// ---- Files -----------------------------------------------------------------

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class temp_dir_t {
 public:
  temp_dir_t();
  ~temp_dir_t();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  temp_dir_t(const temp_dir_t&) = delete;
  temp_dir_t& operator=(const temp_dir_t&) = delete;
  std::string path_;
};

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

// ---- Programs --------------------------------------------------------------

// Path of a built program (VK_BIN_DIR/<name>).
std::string bin_path(const std::string& name);
// Path of a checked-in fixture (tests/data/<name>).
std::string data_path(const std::string& name);

struct run_options_t {
  std::string stdin_data;
  // Variables to set in the child; a value of "\x01unset" removes the variable.
  std::map<std::string, std::string> env;
  double timeout_seconds = 60;
  std::string working_directory;
};

struct run_result_t {
  int exit_status = -1;  // exit code when the program exited, else -1
  int signal = 0;        // signal that ended it, 0 when it exited
  bool timed_out = false;
  std::string out;
  std::string err;
  long max_rss_kb = 0;  // the program's peak resident memory
  double seconds = 0;   // wall time from start to exit
};

// Runs argv[0] with the rest as arguments, feeding stdin_data and collecting
// standard output and error. A program still running at the time limit is
// killed (with its process group) and reported as timed out.
run_result_t run_program(const std::vector<std::string>& argv,
                         const run_options_t& options = run_options_t());

struct program_run_t {
  std::vector<std::string> argv;
  run_options_t options;
};

// Runs a program like run_program, with standard error on a pseudo-terminal
// instead of a pipe (and standard output a pipe, as always): result.err is
// what reached the terminal, "\r" and escape sequences included.
run_result_t run_with_terminal_stderr(const std::vector<std::string>& argv,
                                      const run_options_t& options = run_options_t());

// Whether out is the --version line of the program: "<program> 2012.1.1"
// and, in a build from a git checkout, " (revision <the checkout's
// commit>[-modified])", then a newline.
bool is_version_line(const std::string& out, const std::string& program, std::string* why);

// Runs every program with up to `jobs` of them at a time; the results come
// back in the order of the runs.
std::vector<run_result_t> run_programs(const std::vector<program_run_t>& runs, unsigned jobs);

}}  // namespace velkor::testkit
#endif
