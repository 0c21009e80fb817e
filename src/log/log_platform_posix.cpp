#ifndef _WIN32

#include "log/log_platform.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace hcs {

icu::UnicodeString localFileName(const icu::UnicodeString& name) {
  icu::UnicodeString local(name);
  local.findAndReplace(u"\\", u"/");
  return local;
}

uint64_t currentThreadId() {
#if defined(SYS_gettid)
  return static_cast<uint64_t>(::syscall(SYS_gettid));
#else
  return static_cast<uint64_t>(::getpid());
#endif
}

bool localTime(std::time_t time, std::tm& out) { return ::localtime_r(&time, &out) != nullptr; }

}  // namespace hcs

#endif  // !_WIN32
