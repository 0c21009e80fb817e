// The configuration check's report as lines, for the tests of hcs check-config.
#pragma once

#include <string>

#include "check/config_check.h"

namespace hcs::test {

// The section (SYSTEM_PARAM's parameter count), a line per callout ("type uri source problem") and its
// warnings, and a line per conflict.
inline std::string summary(const check::ConfigReport& report) {
  std::string out =
      report.section + (report.withDatabase ? " " + std::to_string(report.databaseParameters) : "") + "\n";
  for (const check::CalloutEntry& e : report.entries) {
    out += e.attrType + " " + e.uri + (e.source == check::ValueSource::kDatabase ? " db " : " ini ") +
           e.problem + "\n";
    for (const std::string& warning : e.warnings) out += "  " + warning + "\n";
  }
  for (const check::ConfigConflict& c : report.conflicts)
    out += c.key + " " + c.databaseValue + " " + c.iniValue + "\n";
  return out;
}

}  // namespace hcs::test
