#include "config/build_store.h"

#include "error/qrm_exception.h"

namespace hcs {

// Until the SYSTEM_PARAM store exists a named database cannot supply configuration; say so rather
// than silently using the .ini file alone.
void buildFromDatabase(CCMEParameterStore&, QRMDB&, const CCMEParameterStore&, const icu::UnicodeString&,
                       const CCMEParameterDef*, uint16_t) {
  throw QRM_Exception("", icu::UnicodeString(u"Reading configuration from SYSTEM_PARAM is not available"), 0,
                      kSeverityCritical);
}

}  // namespace hcs
