// zlib's own one-shot codec, for checking the deflate stages and the programs
// that use them against something independent of them.
#ifndef TESTS_SUPPORT_ZLIB_REFERENCE_H_
#define TESTS_SUPPORT_ZLIB_REFERENCE_H_

#include <cstddef>
#include <string>

namespace velkor { namespace testkit {

// One zlib stream (zlib format, default level) holding `bytes`.
std::string zlib_deflate(const std::string& bytes);

// Inflates the zlib stream at the start of `bytes`. `complete` tells whether
// the stream's end was reached, `used` how many input bytes it took. Throws
// std::runtime_error for corrupt data.
std::string zlib_inflate(const std::string& bytes, bool* complete = NULL, size_t* used = NULL);

}}  // namespace velkor::testkit
#endif
