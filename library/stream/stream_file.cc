#include "stream/stream_file.h"

#include <cerrno>

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
      next_(next) {
  // The chain still gets blocks of 4096 bytes; a larger stdio buffer beneath
  // them only saves system calls. Only for a file opened here, before any
  // read: a stream we adopt may already be in use.
  if (owns_file_) setvbuf(file_, NULL, _IOFBF, read_buffer_size);
}

stream_file_reader_t::stream_file_reader_t(FILE* file, stream_t* next)
    : owns_file_(false), file_(file), next_(next) {
  check_adopted(file);
}

stream_file_reader_t::~stream_file_reader_t() {
  if (owns_file_) fclose(file_);
}

stream_status_t stream_file_reader_t::dispatch() {
  char buffer[block_size];
  for (;;) {
    size_t n = fread(buffer, 1, block_size, file_);
    if (n > 0) {
      stream_status_t status = next_->process_data(buffer, n);
      if (status != stream_status_ok) return status;
    }
    if (ferror(file_) || feof(file_)) break;
  }
  if (ferror(file_) && !feof(file_)) return stream_status_error;
  return next_->flush();
}

stream_file_writer_t::stream_file_writer_t(const boost::filesystem::path& path)
    : owns_file_(!path.empty()), file_(path.empty() ? stdout : open_or_throw(path, "wb")) {}

stream_file_writer_t::stream_file_writer_t(FILE* file) : owns_file_(false), file_(file) {
  check_adopted(file);
}

stream_file_writer_t::~stream_file_writer_t() {
  if (owns_file_) fclose(file_);
}

stream_status_t stream_file_writer_t::process_data(const char* data, size_t length) {
  size_t written = fwrite(data, 1, length, file_);
  if (written >= length && written != 0) return stream_status_ok;
  return ferror(file_) ? stream_status_error : stream_status_ok;
}

stream_status_t stream_file_writer_t::flush() {
  return fflush(file_) != 0 ? stream_status_error : stream_status_ok;
}

}}  // namespace velkor::library
