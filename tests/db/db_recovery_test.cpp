#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "db/qrm_db.h"
#include "support/capturing_dispatcher.h"
#include "support/database_fixture.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

TEST(DbReconnect, AFailedReconnectIsClassifiedLoggedKeptAndThrown) {
  if (!test::PgCluster::available()) GTEST_SKIP() << "PostgreSQL 15 is not installed";
  const test::DbTarget target = test::makeDbTarget("pg", "");
  test::runCommitted(target, {"DROP ROLE IF EXISTS hcs_reopen", "CREATE ROLE hcs_reopen LOGIN"});
  QRMDB db{UCString("pg://hcs_reopen:pw@" + target.params.server + ":" + target.params.port + "/" +
                    target.params.database)};
  ASSERT_EQ(db.open(), 0);
  test::runCommitted(target, {"ALTER ROLE hcs_reopen NOLOGIN"});
  test::CapturingDispatcher log;
  EXPECT_THROW(db.open(), QRMSQL_Exception);
  EXPECT_EQ(db.lastError().category(), "Database Connection Failure");
  EXPECT_NE(std::string(db.lastError().what()).find("not permitted to log in"), std::string::npos);
  EXPECT_THAT(log.allLines(), ::testing::Contains(std::string("Exception: ") + db.lastError().what()));
  db.close();
  test::runCommitted(target, {"DROP ROLE hcs_reopen"});
}

}  // namespace
}  // namespace hcs
