// The counting allocator of hcs: replaces the malloc family (glibc's documented way to replace malloc;
// operator new calls malloc) to count each thread's allocations, then hands every call to glibc's own
// allocator. libcurl gets memory functions of its own that count apart, so a benchmark can tell the
// allocations a caller's code makes from libcurl's. Linked into hcs only, never into a build with a
// sanitizer, which replaces malloc itself.
#include <cerrno>
#include <cstddef>
#include <cstring>

#include <curl/curl.h>

#include "bench/alloc_count.h"

extern "C" {
void* __libc_malloc(size_t size) noexcept;
void* __libc_calloc(size_t count, size_t size) noexcept;
void* __libc_realloc(void* pointer, size_t size) noexcept;
void* __libc_memalign(size_t alignment, size_t size) noexcept;
void* __libc_valloc(size_t size) noexcept;
void* __libc_pvalloc(size_t size) noexcept;
void __libc_free(void* pointer) noexcept;
}

namespace {

using hcs::bench::detail::countCurl;
using hcs::bench::detail::countOwn;

void* curlMalloc(size_t size) {
  countCurl();
  return __libc_malloc(size);
}
void curlFree(void* pointer) { __libc_free(pointer); }
void* curlRealloc(void* pointer, size_t size) {
  countCurl();
  return __libc_realloc(pointer, size);
}
char* curlStrdup(const char* text) {
  countCurl();
  const size_t size = std::strlen(text) + 1;
  void* copy = __libc_malloc(size);
  if (copy != nullptr) std::memcpy(copy, text, size);
  return static_cast<char*>(copy);
}
void* curlCalloc(size_t count, size_t size) {
  countCurl();
  return __libc_calloc(count, size);
}

bool installCurlMemory() {
  return curl_global_init_mem(CURL_GLOBAL_DEFAULT, curlMalloc, curlFree, curlRealloc, curlStrdup,
                              curlCalloc) == CURLE_OK;
}

[[maybe_unused]] const bool registered =
    (hcs::bench::detail::registerCountingAllocator(&installCurlMemory), true);

}  // namespace

extern "C" {

void* malloc(size_t size) noexcept {
  countOwn();
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) noexcept {
  countOwn();
  return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) noexcept {
  countOwn();
  return __libc_realloc(pointer, size);
}

void free(void* pointer) noexcept { __libc_free(pointer); }

void* memalign(size_t alignment, size_t size) noexcept {
  countOwn();
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) noexcept {
  countOwn();
  return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  countOwn();
  void* pointer = __libc_memalign(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *out = pointer;
  return 0;
}

void* valloc(size_t size) noexcept {
  countOwn();
  return __libc_valloc(size);
}

void* pvalloc(size_t size) noexcept {
  countOwn();
  return __libc_pvalloc(size);
}

}  // extern "C"
