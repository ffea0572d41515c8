// Allocation that never returns null: on failure a fixed message goes to
// standard error and the process exits with status 1. Used by the codec buffer.
#ifndef LIBRARY_SUPPORT_VK_ALLOC_H_
#define LIBRARY_SUPPORT_VK_ALLOC_H_

#include <cstddef>

void* vk_malloc(size_t size);
char* vk_strdup(const char* s);
// Copies at most n bytes of s (up to its first NUL) and terminates the copy;
// s need not be terminated within n bytes.
char* vk_strndup(const char* s, size_t n);
// Fails only when the result is null and size is not 0; realloc(p, 0) is
// returned as the system gives it.
void* vk_realloc(void* p, size_t size);
void vk_free(void* p);

#endif
