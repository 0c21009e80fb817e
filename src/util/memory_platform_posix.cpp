#ifndef _WIN32

#include "util/memory_platform.h"

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace hcs {

void releasePages(void* data, size_t bytes) {
  static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  // An allocator writes its free-list links at the start of a freed block and its next block's
  // header right after it: only whole pages well inside are touched.
  constexpr uintptr_t kAllocatorRecords = 64;
  const uintptr_t start = reinterpret_cast<uintptr_t>(data);
  const uintptr_t begin = (start + kAllocatorRecords + page - 1) & ~(page - 1);
  const uintptr_t end = (start + bytes) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

}  // namespace hcs

#endif
