#include "plugin/init_database.h"

#include "db/qrm_db.h"

namespace hcs {

std::shared_ptr<QRMDB> openInitDatabase(const icu::UnicodeString& uri) {
  auto database = std::make_shared<QRMDB>(uri);
  // -1 means a lesser failure was absorbed; the store then reads what it can through this connection.
  database->open();
  return database;
}

}  // namespace hcs
