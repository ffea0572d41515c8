// The progress of reading a large input, on a terminal: one line on standard
// error with the bytes read and the rate and, when the input's size is known,
// the percent done and the time left; redrawn a few times a second and
// erased when reading is done. Used by sample_stats, sample_lines and
// sample_dump.
#ifndef LIBRARY_SUPPORT_PROGRESS_LINE_H_
#define LIBRARY_SUPPORT_PROGRESS_LINE_H_

#include <chrono>
#include <cstdint>
#include <string>

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

}}  // namespace velkor::library
#endif
