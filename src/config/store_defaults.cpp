#include "config/store_defaults.h"

namespace hcs {

// Nothing in the process stores settings yet, so these are the values every lookup falls back to.
icu::UnicodeString defaultAppName() { return icu::UnicodeString(u"UNKNOWN_APP"); }

std::string defaultConfigFileName() { return ".ini"; }

}  // namespace hcs
