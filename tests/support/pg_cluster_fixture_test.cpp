// The fixture tests that start and stop the PostgreSQL cluster a ctest run shares (tests/CMakeLists.txt
// runs them as FIXTURES_SETUP and FIXTURES_CLEANUP). Disabled, so a plain run of the binary skips them.
#include <cstdlib>

#include <gtest/gtest.h>

#include "support/pg_cluster.h"

namespace hcs::test {
namespace {

const char* stateDir() { return std::getenv("HCS_PG_CLUSTER"); }

TEST(PgClusterFixture, DISABLED_Start) {
  ASSERT_NE(stateDir(), nullptr);
  if (!PgCluster::available()) GTEST_SKIP() << "PostgreSQL 15 is not installed";
  PgCluster::startShared(stateDir());
}

TEST(PgClusterFixture, DISABLED_Stop) {
  ASSERT_NE(stateDir(), nullptr);
  PgCluster::stopShared(stateDir());
}

}  // namespace
}  // namespace hcs::test
