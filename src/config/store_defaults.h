#pragma once

#include <string>

#include <unicode/unistr.h>

namespace hcs {

// The process-wide names the stores fall back on when their creator gives none: the application
// section ("UNKNOWN_APP" unless the process names one) and the .ini file name (the module name and
// ".ini"). Safe from any thread.
icu::UnicodeString defaultAppName();
std::string defaultConfigFileName();

}  // namespace hcs
