#pragma once

#include <cstddef>

namespace hcs {

// Tells the operating system that the whole pages inside [data, data + bytes) hold nothing worth
// keeping, so they stop counting against the process's resident memory. For a block about to be
// freed: the allocator keeps large freed blocks of a thread's heap for reuse (glibc trims a thread
// heap only past a threshold that grows with the largest block freed, and malloc_trim never), so a
// huge document would otherwise stay resident after the thread that read it has ended. The first
// bytes of the block, where an allocator keeps its own records, are left alone; the block's contents
// are undefined afterwards. Does nothing where the platform offers no such call.
void releasePages(void* data, size_t bytes);

}  // namespace hcs
