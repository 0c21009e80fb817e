#pragma once

#include <string>

#include <gtest/gtest.h>

#include "db/index_metadata.h"
#include "support/db_targets.h"
#include "support/pg_cluster.h"

namespace hcs::test {

// A test run once per real database: the parameter is "pg" (the shared PostgreSQL cluster, skipped
// when PostgreSQL is not installed) or "sqlite" (a fresh file). Every test starts and ends with empty
// index metadata, as a process's first connection would see it.
class RealDatabaseTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "pg" && !PgCluster::available()) GTEST_SKIP() << "PostgreSQL 15 is not installed";
    DBIndexer::instance().reset();
    target_ = makeDbTarget(GetParam(), sqlite_.path());
  }
  void TearDown() override { DBIndexer::instance().reset(); }

  TempSqliteFile sqlite_;
  DbTarget target_;
};

}  // namespace hcs::test
