// The stage interface of the stream pipeline: every byte read or written
// travels through a chain of stages, each pushing blocks synchronously to its
// successor. Also the result code and the two exceptions of the pipeline.
#ifndef LIBRARY_STREAM_STREAM_H_
#define LIBRARY_STREAM_STREAM_H_

#include <cstddef>
#include <stdexcept>
#include <string>

namespace velkor { namespace library {

// Result of every stage operation. 1 means "stop, no failure" and is passed up
// unchanged; no stage turns 1 into 2 or 2 into 1.
enum stream_status_t {
  stream_status_ok = 0,
  stream_status_done = 1,
  stream_status_error = 2,
};

// A stage. Stages hold a plain, non-owning pointer to their successor; the
// code that builds a chain owns every stage and destroys them source first.
class stream_t {
 public:
  virtual ~stream_t() {}
  // Handles one block; the block is the caller's and valid only during the call.
  virtual stream_status_t process_data(const char* data, size_t length) = 0;
  // The input has ended or a sync point is wanted: push out what is held and
  // flush the successor.
  virtual stream_status_t flush() = 0;
};

// A chain cannot be built.
class stream_exception_t : public std::runtime_error {
 public:
  explicit stream_exception_t(const std::string& message);
};

// A system call failed: what() is message + " error " + errno + ", " +
// strerror(errno) + ".".
class stream_errno_exception_t : public stream_exception_t {
 public:
  stream_errno_exception_t(const std::string& message, int error);
  int error_number() const { return error_; }

 private:
  int error_;
};

}}  // namespace velkor::library
#endif
