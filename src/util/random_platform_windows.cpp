#ifdef _WIN32

#include "util/random_platform.h"

#include <windows.h>
#include <bcrypt.h>

#pragma comment(lib, "bcrypt")

namespace hcs {

bool systemRandomBytes(void* out, size_t size) noexcept {
  return BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(size),
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

}  // namespace hcs

#endif  // _WIN32
