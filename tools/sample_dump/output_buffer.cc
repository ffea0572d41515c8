#include "output_buffer.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

namespace velkor { namespace dump {

output_buffer_t::output_buffer_t(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof(buffer_)); }

bool output_buffer_t::drain() {
  if (!error_.empty()) return false;
  const char* data = pbase();
  size_t left = static_cast<size_t>(pptr() - pbase());
  while (left > 0) {
    ssize_t written = ::write(fd_, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error_ = written < 0 ? strerror(errno) : "nothing was written";
      return false;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  setp(buffer_, buffer_ + sizeof(buffer_));
  return true;
}

output_buffer_t::int_type output_buffer_t::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

}}  // namespace velkor::dump
