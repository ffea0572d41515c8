/* The module of the symbol benchmark: a C program of the usual kind (short
   names, one inline helper folded into every function), with 256 functions
   so that a recording can spread thousands of distinct pcs over them. It is
   built with debug information and -O2 and never run. */
#include <stdio.h>

static inline __attribute__((always_inline)) long step(long x, int n) {
  return (x ^ (x >> 7)) * (2 * n + 1);
}

#define WORK(n)                                                   \
  __attribute__((noinline)) long work_##n(const long* a, int k) { \
    long s = 0x##n;                                               \
    for (int i = 0; i < k; ++i) s += step(a[i] + s, 0x##n);       \
    return s;                                                     \
  }
#define WORK16(n) \
  WORK(n##0) WORK(n##1) WORK(n##2) WORK(n##3) WORK(n##4) WORK(n##5) WORK(n##6) WORK(n##7) \
  WORK(n##8) WORK(n##9) WORK(n##a) WORK(n##b) WORK(n##c) WORK(n##d) WORK(n##e) WORK(n##f)
WORK16(0) WORK16(1) WORK16(2) WORK16(3) WORK16(4) WORK16(5) WORK16(6) WORK16(7)
WORK16(8) WORK16(9) WORK16(a) WORK16(b) WORK16(c) WORK16(d) WORK16(e) WORK16(f)

long table[4096];

int main(int argc, char** argv) {
  (void)argv;
  printf("%ld\n", work_00(table, argc) + work_ff(table, argc));
  return 0;
}
