#pragma once

#include <cstdint>
#include <ctime>

#include <unicode/unistr.h>

// The few operating-system facts the log writers need, one implementation per platform.
namespace hcs {

// A file name taken from a URI as the local file system reads it. URIs carry '\' as the path
// separator; POSIX systems read it as '/'.
icu::UnicodeString localFileName(const icu::UnicodeString& name);

// The operating system's id of the calling thread, as debuggers and `top -H` show it.
uint64_t currentThreadId();

// Local time of `time`; false when the conversion fails. Thread-safe.
bool localTime(std::time_t time, std::tm& out);

}  // namespace hcs
