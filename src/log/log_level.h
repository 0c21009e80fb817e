#pragma once

#include <cstdint>

namespace hcs {

// Log levels: one bit each, so that filters can hold sets of them.
enum LogLevel : uint32_t {
  kLogCritical = 1,
  kLogError = 2,
  kLogWarning = 4,
  kLogNote = 8,
  kLogInfo = 16,
  kLogDebug = 64,
};

// "CRIT", "ERR", "WARN", "NOTE", "INFO", "DBUG"; "" for any other mask.
const char* logLevelName(uint32_t level);

}  // namespace hcs
