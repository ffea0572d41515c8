// The progress of reading a large input, on a terminal: one line on standard
// error with the bytes read and the rate and, when the input's size is known,
// the percent done and the time left; redrawn a few times a second and
// erased when reading is done. Used by sample_stats, sample_lines and
// sample_dump.
#ifndef LIBRARY_SUPPORT_PROGRESS_LINE_H_
#define LIBRARY_SUPPORT_PROGRESS_LINE_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>

#include "support/warning_consumer.h"

namespace velkor { namespace library {

// Inputs from this size on get a progress line; so do inputs of unknown
// size (a pipe).
const uint64_t progress_least_size = uint64_t(64) << 20;

// The size of the file at path ("" or "-": standard input) when it is a
// regular file; false when it is not (a pipe, a terminal) or cannot be told.
bool input_size(const std::string& path, uint64_t* size);

// Whether a program should show progress on descriptor fd: fd is a
// terminal, and the input is at least progress_least_size or of unknown
// size.
bool progress_wanted(int fd, bool size_known, uint64_t size);

class progress_line_t;

// A progress line on fd for reading the input at path ("" or "-": standard
// input) when progress_wanted() says so; null otherwise.
std::unique_ptr<progress_line_t> progress_line_for(const std::string& path, int fd);

// Draws on fd ("\r", the text, erase to the end of the line); never writes
// anything else. Called from one thread.
class progress_line_t {
 public:
  // total: the input's size, 0 when unknown.
  progress_line_t(int fd, uint64_t total);
  // Erases the line.
  ~progress_line_t();

  // Bytes read so far; draws at once the first time, then at most four times
  // a second.
  void update(uint64_t bytes);
  // Erases the line (before other output on the terminal); the next update
  // draws it again.
  void clear();

  // The text for a number of bytes after a number of seconds.
  static std::string text(uint64_t bytes, uint64_t total, double seconds);

 private:
  progress_line_t(const progress_line_t&) = delete;
  progress_line_t& operator=(const progress_line_t&) = delete;

  void write_all(const std::string& text);

  int fd_;
  uint64_t total_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
  bool shown_ = false;
  bool drawn_once_ = false;
};

// Hands every warning on to another consumer, erasing the progress line
// first (when one is set) so that the warning starts a line of its own.
class warning_consumer_progress_t : public warning_consumer_base_t {
 public:
  explicit warning_consumer_progress_t(boost::shared_ptr<warning_consumer_base_t> next)
      : next_(next) {}
  void warn(const warning_const_ptr_t& w) override;
  using warning_consumer_base_t::warn;
  // Not owned; null: none (any more).
  void set_progress(progress_line_t* progress) { progress_ = progress; }

 private:
  boost::shared_ptr<warning_consumer_base_t> next_;
  progress_line_t* progress_ = nullptr;
};

}}  // namespace velkor::library
#endif
