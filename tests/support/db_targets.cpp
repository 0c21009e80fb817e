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

void createSystemParam(const DbTarget& target, const std::vector<std::string>& rows) {
  std::vector<std::string> statements{"DROP TABLE IF EXISTS SYSTEM_PARAM",
                                      "CREATE TABLE SYSTEM_PARAM (PARAM_GROUP VARCHAR(64), PARAM_CODE "
                                      "VARCHAR(64), CURRENT_VALUE VARCHAR(255), "
                                      "DEFAULT_VALUE VARCHAR(255), DATA_TYPE VARCHAR(16))"};
  for (const std::string& row : rows) statements.push_back("INSERT INTO SYSTEM_PARAM VALUES (" + row + ")");
  runCommitted(target, statements);
}

}  // namespace hcs::test
