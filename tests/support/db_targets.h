#pragma once

#include <memory>
#include <string>

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

}  // namespace hcs::test
