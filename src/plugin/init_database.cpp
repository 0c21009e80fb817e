#include "plugin/init_database.h"

#include "error/qrm_exception.h"

namespace hcs {

// Until the database layer is part of the plugin, a named database cannot be opened; initPlugin then
// reports "Unable to open database …" instead of silently ignoring the configured table.
std::shared_ptr<QRMDB> openInitDatabase(const icu::UnicodeString&) {
  throw QRM_Exception("", icu::UnicodeString(u"Database access is not available in this build"), 999, 4);
}

}  // namespace hcs
