#include "stream/stream.h"

#include <cstring>

#include <boost/lexical_cast.hpp>

namespace velkor { namespace library {

namespace {

std::string compose_errno_text(const std::string& message, int error) {
  return message + " error " + boost::lexical_cast<std::string>(error) + ", " +
         strerror(error) + ".";
}

}  // namespace

stream_exception_t::stream_exception_t(const std::string& message)
    : std::runtime_error(message) {}

stream_errno_exception_t::stream_errno_exception_t(const std::string& message, int error)
    : stream_exception_t(compose_errno_text(message, error)), error_(error) {}

}}  // namespace velkor::library
