#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/dbi/dbi.h"

namespace hcs::test {

// A real database the database tests run against: the shared PostgreSQL cluster or a fresh SQLite
// file. `uri` is the connection URI for QRMDB; `params` the same target for the interface layer.
struct DbTarget {
  std::string scheme;  // "pg" or "sqlite"
  std::string uri;
  DBIConnectParams params;
};

// Builds the target for `scheme`; `sqliteFile` is used for "sqlite". Starts the PostgreSQL cluster on
// first use.
DbTarget makeDbTarget(const std::string& scheme, const std::string& sqliteFile);

// Runs `statements` on a session of its own and commits them, so every later connection sees them.
// Throws std::runtime_error naming the statement that failed.
void runCommitted(const DbTarget& target, const std::vector<std::string>& statements);

// (Re)creates SYSTEM_PARAM (PARAM_GROUP, PARAM_CODE, CURRENT_VALUE, DEFAULT_VALUE, DATA_TYPE) holding
// `rows`, each the SQL text of one VALUES list ("'ATTR_URI', 'NAME', 'http://h/', NULL, 'STRING'").
void createSystemParam(const DbTarget& target, const std::vector<std::string>& rows);

}  // namespace hcs::test
