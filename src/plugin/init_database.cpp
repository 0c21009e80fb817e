#include "plugin/init_database.h"

#include "config/settings.h"
#include "db/qrm_db.h"

namespace hcs {

std::shared_ptr<QRMDB> openInitDatabase(const icu::UnicodeString& uri) {
  // The database layer sits below the settings: hand it the module name its sessions are named after.
  icu::UnicodeString module;
  theSettings.getModuleName(module);
  QRMDB::setModuleName(module);
  auto database = std::make_shared<QRMDB>(uri);
  // -1 means a lesser failure was absorbed; the store then reads what it can through this connection.
  database->open();
  return database;
}

}  // namespace hcs
