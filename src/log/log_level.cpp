#include "log/log_level.h"

namespace hcs {

const char* logLevelName(uint32_t level) {
  switch (level) {
    case kLogCritical:
      return "CRIT";
    case kLogError:
      return "ERR";
    case kLogWarning:
      return "WARN";
    case kLogNote:
      return "NOTE";
    case kLogInfo:
      return "INFO";
    case kLogDebug:
      return "DBUG";
    default:
      return "";
  }
}

}  // namespace hcs
