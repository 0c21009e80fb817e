#pragma once

#include <cstdint>

#include "log/log_level.h"

namespace hcs {

// Severities shared by records, entries and the database error classification. An entry of
// kNoSeverity leaves the record's severity as it is.
enum Severity : int32_t {
  kNoSeverity = -1,
  kSeverityInformation = 0,
  kSeverityWarning = 1,
  kSeverityMinor = 2,
  kSeverityMajor = 3,
  kSeverityCritical = 4,
};

// "INFORMATION" … "CRITICAL ERROR"; "UNSPECIFIED" for any other value.
const char* severityName(int32_t severity);

// The two ways a severity becomes a log level. They differ on purpose; both are kept here, together:
//
//   severity           0     1     2     3    4     other
//   recordLogLevel     INFO  WARN  ERR   ERR  CRIT  DBUG
//   sqlErrorLogLevel   INFO  WARN  WARN  ERR  CRIT  NOTE
//
// recordLogLevel: the level a record logs itself at (QRM_Exception::log and its kin), where the
// caller's level argument is a severity.
LogLevel recordLogLevel(int32_t severity);
// sqlErrorLogLevel: the level a classified database failure is reported at (QRMDBUtil::reportSqlError).
// A minor failure (a unique constraint violation) is absorbed and the work goes on, so it is a warning;
// from major on the failure is thrown.
LogLevel sqlErrorLogLevel(int32_t severity);

}  // namespace hcs
