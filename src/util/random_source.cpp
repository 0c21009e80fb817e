#include "util/random_source.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "util/random_platform.h"

namespace hcs {

namespace {

// splitmix64 over the clock, this object's address (which differs between processes with address
// layout randomisation) and a counter: what is left when the system gives no random bits.
uint64_t fallbackNumber() noexcept {
  static std::atomic<uint64_t> counter{0};
  uint64_t x = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               reinterpret_cast<uintptr_t>(&counter) ^
               (counter.fetch_add(0x9E3779B97F4A7C15ULL, std::memory_order_relaxed));
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

}  // namespace

void randomBytes(void* out, size_t size) noexcept {
  if (systemRandomBytes(out, size)) return;
  auto* bytes = static_cast<unsigned char*>(out);
  while (size > 0) {
    const uint64_t bits = fallbackNumber();
    const size_t n = size < sizeof bits ? size : sizeof bits;
    std::memcpy(bytes, &bits, n);
    bytes += n;
    size -= n;
  }
}

uint64_t randomNumber() noexcept {
  uint64_t bits = 0;
  randomBytes(&bits, sizeof bits);
  return bits;
}

}  // namespace hcs
