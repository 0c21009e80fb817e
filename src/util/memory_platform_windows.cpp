#ifdef _WIN32

#include "util/memory_platform.h"

namespace hcs {

// The Windows heap decommits large free blocks by itself.
void releasePages(void*, size_t) {}

}  // namespace hcs

#endif
