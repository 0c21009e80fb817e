#ifdef _WIN32

#include "log/log_platform.h"

#include <windows.h>

namespace hcs {

icu::UnicodeString localFileName(const icu::UnicodeString& name) { return name; }

uint64_t currentThreadId() { return ::GetCurrentThreadId(); }

bool localTime(std::time_t time, std::tm& out) { return ::localtime_s(&out, &time) == 0; }

}  // namespace hcs

#endif  // _WIN32
