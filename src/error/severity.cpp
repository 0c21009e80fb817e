#include "error/severity.h"

namespace hcs {
namespace {

struct SeverityRow {
  int32_t severity;
  const char* name;
  LogLevel record;
  LogLevel sqlError;
};

constexpr SeverityRow kRows[] = {
    {kSeverityInformation, "INFORMATION", kLogInfo, kLogInfo},
    {kSeverityWarning, "WARNING", kLogWarning, kLogWarning},
    {kSeverityMinor, "MINOR ERROR", kLogError, kLogWarning},
    {kSeverityMajor, "MAJOR ERROR", kLogError, kLogError},
    {kSeverityCritical, "CRITICAL ERROR", kLogCritical, kLogCritical},
};
// Any value off the scale, kNoSeverity included.
constexpr SeverityRow kOffScale{kNoSeverity, "UNSPECIFIED", kLogDebug, kLogNote};

const SeverityRow& rowOf(int32_t severity) {
  for (const SeverityRow& row : kRows) {
    if (row.severity == severity) return row;
  }
  return kOffScale;
}

}  // namespace

const char* severityName(int32_t severity) { return rowOf(severity).name; }

LogLevel recordLogLevel(int32_t severity) { return rowOf(severity).record; }

LogLevel sqlErrorLogLevel(int32_t severity) { return rowOf(severity).sqlError; }

}  // namespace hcs
