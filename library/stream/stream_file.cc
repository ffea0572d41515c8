#include "stream/stream_file.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "support/exe_path.h"

namespace velkor { namespace library {

namespace {

const size_t block_size = 4096;
const size_t read_buffer_size = 256 * 1024;

FILE* open_or_throw(const boost::filesystem::path& path, const char* mode) {
  FILE* file = velkor::exe_path::fopen(path, mode);
  if (file == NULL) {
    throw stream_errno_exception_t("Failed to open file " + path.string() + ": ", errno);
  }
  return file;
}

void check_adopted(FILE* file) {
  if (file == NULL) throw stream_errno_exception_t("Failed to close file: ", errno);
}

}  // namespace

stream_file_reader_t::stream_file_reader_t(const boost::filesystem::path& path, stream_t* next)
    : owns_file_(!path.empty()),
      file_(path.empty() ? stdin : open_or_throw(path, "rb")),
      next_(next),
      name_(path.empty() ? "standard input" : path.string()) {
  // The chain still gets blocks of 4096 bytes; a larger stdio buffer beneath
  // them only saves system calls. Only for a file opened here or standard
  // input taken by its empty name, before any read: a stream we adopt may
  // already be in use.
  setvbuf(file_, NULL, _IOFBF, read_buffer_size);
}

stream_file_reader_t::stream_file_reader_t(FILE* file, stream_t* next)
    : owns_file_(false), file_(file), next_(next), name_("the input") {
  check_adopted(file);
  if (file == stdin) name_ = "standard input";
}

stream_file_reader_t::~stream_file_reader_t() {
  if (owns_file_) fclose(file_);
}

stream_status_t stream_file_reader_t::dispatch() {
  char buffer[block_size];
  int read_errno = 0;
  for (;;) {
    errno = 0;
    size_t n = fread(buffer, 1, block_size, file_);
    read_errno = errno;
    if (n > 0) {
      bytes_read_.fetch_add(n, std::memory_order_relaxed);
      stream_status_t status = next_->process_data(buffer, n);
      if (status != stream_status_ok) return status;
      if (progress_) progress_(bytes_read());
    }
    if (ferror(file_) || feof(file_)) break;
  }
  if (ferror(file_) && !feof(file_)) {
    error_text_ = "Failed to read " + name_ + ": " +
                  (read_errno != 0 ? strerror(read_errno) : "read error");
    return stream_status_error;
  }
  return next_->flush();
}

stream_status_t stream_file_reader_t::dispatch_until(const std::atomic<bool>& stop, int wake_fd,
                                                     const std::function<void()>& waiting) {
  const int fd = fileno(file_);
  if (fd < 0) return dispatch();
  std::unique_ptr<char[]> buffer(new char[read_buffer_size]);
  size_t held = 0;  // bytes read, not yet handed on: less than a block
  for (;;) {
    if (stop.load(std::memory_order_relaxed)) return stream_status_done;
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    int ready = poll(fds, 2, 0);
    if (ready == 0) {
      // Nothing there yet (a pipe): let the chain hand on what it holds.
      if (waiting) waiting();
      ready = poll(fds, 2, -1);
    }
    if (ready < 0) {
      if (errno == EINTR) continue;
      error_text_ = std::string("Failed to wait for ") + name_ + ": " + strerror(errno);
      return stream_status_error;
    }
    if (stop.load(std::memory_order_relaxed)) return stream_status_done;
    ssize_t n = read(fd, buffer.get() + held, read_buffer_size - held);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      // As a short fread: what arrived of the block goes on, then the error.
      int read_errno = errno;
      if (held > 0) {
        stream_status_t status = next_->process_data(buffer.get(), held);
        if (status != stream_status_ok) return status;
      }
      error_text_ = "Failed to read " + name_ + ": " + strerror(read_errno);
      return stream_status_error;
    }
    held += static_cast<size_t>(n);
    bytes_read_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
    const bool at_end = n == 0;
    size_t at = 0;
    while (held - at >= block_size || (at_end && held > at)) {
      size_t length = std::min(block_size, held - at);
      stream_status_t status = next_->process_data(buffer.get() + at, length);
      if (status != stream_status_ok) return status;
      at += length;
    }
    if (at_end) return next_->flush();
    memmove(buffer.get(), buffer.get() + at, held - at);
    held -= at;
  }
}

stream_file_writer_t::stream_file_writer_t(const boost::filesystem::path& path)
    : owns_file_(!path.empty()),
      file_(path.empty() ? stdout : open_or_throw(path, "wb")),
      name_(path.empty() ? "standard output" : path.string()) {}

stream_file_writer_t::stream_file_writer_t(FILE* file)
    : owns_file_(false), file_(file), name_("the output") {
  check_adopted(file);
  if (file == stdout) name_ = "standard output";
}

stream_file_writer_t::~stream_file_writer_t() {
  if (owns_file_) fclose(file_);
}

stream_status_t stream_file_writer_t::process_data(const char* data, size_t length) {
  errno = 0;
  size_t written = fwrite(data, 1, length, file_);
  if (written >= length && written != 0) return stream_status_ok;
  return ferror(file_) ? failed(errno) : stream_status_ok;
}

stream_status_t stream_file_writer_t::flush() {
  errno = 0;
  return fflush(file_) != 0 ? failed(errno) : stream_status_ok;
}

stream_status_t stream_file_writer_t::failed(int error) {
  if (error_text_.empty()) {
    error_text_ = "Failed to write " + name_ + ": " + (error != 0 ? strerror(error) : "write error");
  }
  return stream_status_error;
}

}}  // namespace velkor::library
