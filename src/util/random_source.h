#pragma once

#include <cstddef>
#include <cstdint>

namespace hcs {

// Random bits from the operating system (getrandom on Linux): unpredictable, shared by no two
// processes (a forked child draws its own), and no state of ours to seed or lock. Never fails: should
// the system refuse, the bits come from the clock, the process and a counter instead, which are unique
// but not secret.
void randomBytes(void* out, size_t size) noexcept;
uint64_t randomNumber() noexcept;

}  // namespace hcs
