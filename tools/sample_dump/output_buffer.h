// Standard output for sample_dump: a stream buffer that writes in large
// blocks and ignores the flushes that the multi-line event texts ask for, so
// that a dump of millions of events does not cost a system call per event.
#ifndef TOOLS_SAMPLE_DUMP_OUTPUT_BUFFER_H_
#define TOOLS_SAMPLE_DUMP_OUTPUT_BUFFER_H_

#include <streambuf>
#include <string>

namespace velkor { namespace dump {

// Writes to a file descriptor, which it does not close. After the first
// failed write it takes no more bytes (the stream using it goes bad) and
// remembers why.
class output_buffer_t : public std::streambuf {
 public:
  explicit output_buffer_t(int fd);

  // Writes everything buffered; false when a write has failed.
  bool drain();
  // The system's text for the failed write; empty while none failed.
  const std::string& error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  // Does not write: the caller drains at the end.
  int sync() override { return 0; }

 private:
  int fd_;
  std::string error_;
  char buffer_[1 << 16];
};

}}  // namespace velkor::dump
#endif
