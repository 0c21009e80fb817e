#ifdef _WIN32

#include "util/fork_platform.h"

namespace hcs {

// Windows has no fork(): the generation stays 0 and nothing is inherited.
void installForkHandlers(void (*)(), void (*)(), void (*)()) {}
void detachSocketDescriptor(int) {}

}  // namespace hcs

#endif  // _WIN32
