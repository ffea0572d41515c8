#include "stream/stream_file.h"

#include <cerrno>
#include <cstring>

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
  // them only saves system calls. Only for a file opened here, before any
  // read: a stream we adopt may already be in use.
  if (owns_file_) setvbuf(file_, NULL, _IOFBF, read_buffer_size);
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
      stream_status_t status = next_->process_data(buffer, n);
      if (status != stream_status_ok) return status;
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
