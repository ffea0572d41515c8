// The floor of sample_stats on a deflated file: read the container in
// 4096-byte blocks and only inflate the payload into a 16384-byte buffer,
// discarding it. Nothing is decoded or counted. Prints the number of
// payload bytes.
//   inflate_floor FILE
#include <zlib.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: inflate_floor FILE\n");
    return 1;
  }
  FILE* file = fopen(argv[1], "rb");
  if (file == NULL) {
    perror(argv[1]);
    return 1;
  }
  z_stream z;
  memset(&z, 0, sizeof(z));
  if (inflateInit(&z) != Z_OK) return 1;
  char in[4096];
  char out[16384];
  unsigned long long produced = 0;
  size_t skip = 12;  // the container header
  bool raw = false;
  bool ended = false;
  size_t n;
  while (!ended && (n = fread(in, 1, sizeof(in), file)) > 0) {
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
    z.next_in = reinterpret_cast<Bytef*>(in + offset);
    z.avail_in = static_cast<uInt>(n - offset);
    do {
      z.next_out = reinterpret_cast<Bytef*>(out);
      z.avail_out = sizeof(out);
      int r = inflate(&z, Z_SYNC_FLUSH);
      if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) {
        fprintf(stderr, "inflate failed: %d\n", r);
        return 1;
      }
      produced += sizeof(out) - z.avail_out;
      if (r == Z_STREAM_END) ended = true;
    } while (!ended && z.avail_out == 0);
  }
  inflateEnd(&z);
  fclose(file);
  printf("%llu\n", produced);
  return 0;
}
