#pragma once

#include <cstddef>

#include "util/memory_platform.h"

namespace hcs {

// Per-thread buffers are kept from call to call, up to this size: one huge document must not hold its
// memory, per thread, until the thread ends.
inline constexpr size_t kKeptBufferBytes = 64 * 1024;

// Gives a buffer's memory back when it grew past kKeptBufferBytes (a string or a vector).
template <class Buffer>
void keepSmall(Buffer& buffer) {
  const size_t bytes = buffer.capacity() * sizeof(typename Buffer::value_type);
  if (bytes <= kKeptBufferBytes) return;
  releasePages(buffer.data(), bytes);
  Buffer().swap(buffer);
}

}  // namespace hcs
