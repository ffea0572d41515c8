// The two ends of a chain: stream_file_reader_t reads a file or standard input
// in blocks of at most 4096 bytes and drives the chain; stream_file_writer_t
// writes what reaches the end of a chain to a file or standard output.
#ifndef LIBRARY_STREAM_STREAM_FILE_H_
#define LIBRARY_STREAM_STREAM_FILE_H_

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include <boost/filesystem/path.hpp>

#include "stream/stream.h"

namespace velkor { namespace library {

// Source of a chain; not itself a stage. Closes only a file it opened.
class stream_file_reader_t {
 public:
  // An empty path reads standard input. Throws stream_errno_exception_t
  // "Failed to open file <path>: ..." when the file cannot be opened.
  stream_file_reader_t(const boost::filesystem::path& path, stream_t* next);
  // Reads an open stream it does not own; a null one throws.
  stream_file_reader_t(FILE* file, stream_t* next);
  ~stream_file_reader_t();

  // Pushes the whole input through the chain: blocks of 1 to 4096 bytes, then
  // exactly one flush after a clean end of input. A stage's nonzero status is
  // returned at once; a read error returns stream_status_error. Neither flushes.
  stream_status_t dispatch();

  // dispatch() for a reading thread that another thread may stop: it reads
  // the descriptor beneath the stream (which must not have been read from)
  // in large pieces and hands the chain the same blocks of 4096 bytes.
  // Before it waits for input that is not there yet it calls `waiting`
  // (which may be empty); while it waits it also waits for `wake_fd` to
  // become readable; once `stop` is set it returns stream_status_done without
  // a flush. A stream without a descriptor is read by dispatch().
  stream_status_t dispatch_until(const std::atomic<bool>& stop, int wake_fd,
                                 const std::function<void()>& waiting);

  // After a read error: "Failed to read <file>: <the system's reason>" (the
  // file as named, or "standard input"); else empty.
  const std::string& error_text() const { return error_text_; }

  // Bytes read so far; may be asked from another thread while a dispatch
  // runs.
  uint64_t bytes_read() const { return bytes_read_.load(std::memory_order_relaxed); }
  // dispatch() calls it with bytes_read() after every block (not
  // dispatch_until, whose caller asks bytes_read() instead).
  void set_progress(std::function<void(uint64_t)> progress) { progress_ = std::move(progress); }

 private:
  stream_file_reader_t(const stream_file_reader_t&) = delete;
  stream_file_reader_t& operator=(const stream_file_reader_t&) = delete;

  bool owns_file_;
  FILE* file_;
  stream_t* next_;
  std::string name_;
  std::string error_text_;
  std::atomic<uint64_t> bytes_read_{0};
  std::function<void(uint64_t)> progress_;
};

// Sink of a chain. Closes only a file it opened.
class stream_file_writer_t : public stream_t {
 public:
  // An empty path writes standard output; otherwise creates or truncates.
  explicit stream_file_writer_t(const boost::filesystem::path& path);
  explicit stream_file_writer_t(FILE* file);
  ~stream_file_writer_t() override;

  stream_status_t process_data(const char* data, size_t length) override;
  stream_status_t flush() override;

  // After a failed write or flush: "Failed to write <file>: <the system's
  // reason>" (the file as named, or "standard output"); else empty.
  const std::string& error_text() const { return error_text_; }

 private:
  stream_file_writer_t(const stream_file_writer_t&) = delete;
  stream_file_writer_t& operator=(const stream_file_writer_t&) = delete;

  stream_status_t failed(int error);

  bool owns_file_;
  FILE* file_;
  std::string name_;
  std::string error_text_;
};

}}  // namespace velkor::library
#endif
