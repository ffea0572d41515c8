#include "support/zlib_reference.h"

#include <zlib.h>

#include <stdexcept>

namespace velkor { namespace testkit {

std::string zlib_deflate(const std::string& bytes) {
  uLongf size = compressBound(bytes.size());
  std::string out(size, '\0');
  if (compress(reinterpret_cast<Bytef*>(&out[0]), &size,
               reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()) != Z_OK) {
    throw std::runtime_error("zlib_deflate: compress failed");
  }
  out.resize(size);
  return out;
}

std::string zlib_inflate(const std::string& bytes, bool* complete, size_t* used) {
  z_stream z = z_stream();
  if (inflateInit(&z) != Z_OK) throw std::runtime_error("zlib_inflate: inflateInit failed");
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  std::string out;
  int r;
  do {
    char buf[8192];
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof(buf);
    r = inflate(&z, Z_SYNC_FLUSH);
    out.append(buf, sizeof(buf) - z.avail_out);
  } while (r == Z_OK && z.avail_out == 0);
  size_t taken = bytes.size() - z.avail_in;
  inflateEnd(&z);
  if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) {
    throw std::runtime_error("zlib_inflate: corrupt data");
  }
  if (complete) *complete = (r == Z_STREAM_END);
  if (used) *used = taken;
  return out;
}

}}  // namespace velkor::testkit
