#pragma once

#include <cstddef>

namespace hcs {

// Fills `out` from the system's random source; false when it cannot.
bool systemRandomBytes(void* out, size_t size) noexcept;

}  // namespace hcs
