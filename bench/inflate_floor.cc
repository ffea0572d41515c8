// The floor of sample_stats on a deflated file: read the container in
// 4096-byte blocks and only inflate the payload into a 16384-byte buffer,
// discarding it. Nothing is decoded or counted. Prints the number of
// payload bytes. Built twice: over zlib (inflate_floor) and, when the build
// has ISA-L, over ISA-L's streaming inflate in zlib mode (inflate_floor_isal).
//   inflate_floor FILE
#ifdef FLOOR_ISAL
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

#include <cstdio>
#include <cstring>

namespace {

#ifdef FLOOR_ISAL
// ISA-L's streaming inflate, header and Adler-32 trailer checked.
class inflater_t {
 public:
  inflater_t() {
    isal_inflate_init(&state_);
    state_.crc_flag = ISAL_ZLIB;
  }
  // Inflates [in, in + len) into out, a buffer at a time; adds the bytes
  // produced to *produced. Returns 1 at the stream's end, 0 for more, -1 on
  // a fault.
  int feed(char* in, size_t len, char* out, size_t out_len, unsigned long long* produced) {
    state_.next_in = reinterpret_cast<uint8_t*>(in);
    state_.avail_in = static_cast<uint32_t>(len);
    do {
      state_.next_out = reinterpret_cast<uint8_t*>(out);
      state_.avail_out = static_cast<uint32_t>(out_len);
      int r = isal_inflate(&state_);
      if (r != ISAL_DECOMP_OK) {
        fprintf(stderr, "isal_inflate failed: %d\n", r);
        return -1;
      }
      *produced += out_len - state_.avail_out;
      if (state_.block_state == ISAL_BLOCK_FINISH) return 1;
    } while (state_.avail_out == 0);
    return 0;
  }

 private:
  inflate_state state_;
};
#else
class inflater_t {
 public:
  inflater_t() {
    memset(&z_, 0, sizeof(z_));
    ok_ = inflateInit(&z_) == Z_OK;
  }
  ~inflater_t() { inflateEnd(&z_); }
  int feed(char* in, size_t len, char* out, size_t out_len, unsigned long long* produced) {
    if (!ok_) return -1;
    z_.next_in = reinterpret_cast<Bytef*>(in);
    z_.avail_in = static_cast<uInt>(len);
    do {
      z_.next_out = reinterpret_cast<Bytef*>(out);
      z_.avail_out = static_cast<uInt>(out_len);
      int r = inflate(&z_, Z_SYNC_FLUSH);
      if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) {
        fprintf(stderr, "inflate failed: %d\n", r);
        return -1;
      }
      *produced += out_len - z_.avail_out;
      if (r == Z_STREAM_END) return 1;
    } while (z_.avail_out == 0);
    return 0;
  }

 private:
  z_stream z_;
  bool ok_;
};
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 1;
  }
  FILE* file = fopen(argv[1], "rb");
  if (file == NULL) {
    perror(argv[1]);
    return 1;
  }
  inflater_t inflater;
  static char in[4096];
  static char out[16384];
  unsigned long long produced = 0;
  size_t skip = 12;  // the container header
  bool raw = false;
  int state = 0;
  size_t n;
  while (state == 0 && (n = fread(in, 1, sizeof(in), file)) > 0) {
    size_t offset = 0;
    if (skip > 0) {
      if (skip == 12 && n >= 12 && memcmp(in, "VELKOR", 6) == 0) raw = in[11] == 0;
      offset = n < skip ? n : skip;
      skip -= offset;
    }
    if (raw) {
      produced += n - offset;
      continue;
    }
    state = inflater.feed(in + offset, n - offset, out, sizeof(out), &produced);
  }
  fclose(file);
  if (state < 0) return 1;
  printf("%llu\n", produced);
  return 0;
}
