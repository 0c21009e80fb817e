#include "support/db_targets.h"

#include <stdexcept>

#include "db/dbi/odbc_database.h"
#include "error/sql_exception.h"
#include "support/pg_cluster.h"

namespace hcs::test {

DbTarget makeDbTarget(const std::string& scheme, const std::string& sqliteFile) {
  DbTarget target;
  target.scheme = scheme;
  target.params.vendor = scheme;
  target.params.driver = defaultOdbcDriver(scheme);
  if (scheme == "pg") {
    PgCluster& cluster = PgCluster::shared();
    target.params.server = cluster.host();
    target.params.port = std::to_string(cluster.port());
    target.params.user = cluster.user();
    target.params.password = "secret";
    target.params.database = cluster.database();
    target.params.errorHandler = pgErrorHandler;
    target.uri = "pg://" + cluster.user() + ":secret@" + cluster.host() + ":" + target.params.port + "/" +
                 cluster.database();
  } else {
    target.params.database = sqliteFile;
    target.params.errorHandler = sqliteErrorHandler;
    target.uri = "sqlite://" + sqliteFile;
  }
  return target;
}

void runCommitted(const DbTarget& target, const std::vector<std::string>& statements) {
  auto database = openDatabase(target.params);
  if (!database->isValid()) throw std::runtime_error("cannot connect: " + database->status().message());
  for (const std::string& sql : statements) {
    if (!database->connection()->executeSql(sql)) throw std::runtime_error("failed: " + sql);
  }
  if (!database->connection()->commitTransaction()) throw std::runtime_error("commit failed");
}

}  // namespace hcs::test
