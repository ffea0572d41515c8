#include "support/vk_alloc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void fail(const char* message) {
  fwrite(message, 1, strlen(message), stderr);
  exit(1);
}

}  // namespace

void* vk_malloc(size_t size) {
  void* p = malloc(size);
  if (p == NULL) fail("Error: malloc failed, exiting\n");
  return p;
}

char* vk_strdup(const char* s) {
  char* p = strdup(s);
  if (p == NULL) fail("Error: strdup failed, exiting\n");
  return p;
}

char* vk_strndup(const char* s, size_t n) {
  const void* nul = memchr(s, '\0', n);
  size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - s) : n;
  char* p = static_cast<char*>(length + 1 == 0 ? NULL : malloc(length + 1));
  if (p == NULL) fail("Error: strndup failed, exiting\n");
  memcpy(p, s, length);
  p[length] = '\0';
  return p;
}

void* vk_realloc(void* p, size_t size) {
  void* q = realloc(p, size);
  if (q == NULL && size != 0) fail("Error: realloc failed, exiting\n");
  return q;
}

void vk_free(void* p) { free(p); }
