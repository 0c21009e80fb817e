// How QRMDB recovers on real databases: a reconnect the server refuses, a log that fails while a
// failure is reported, and cached statements that take another kind of value.
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "db/qrm_cursor.h"
#include "db/qrm_db.h"
#include "db/string_table_row.h"
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

using DbRecoveryTest = test::RealDatabaseTest;

TEST_P(DbRecoveryTest, ALogFailingWhileReportingStillRecordsThisStatementsFailure) {
  QRMDB db{UCString(target_.uri)};
  ASSERT_EQ(db.open(), 0);
  EXPECT_THROW(db.execute(u"SELECT a FROM an_earlier_failure", nullptr, true), QRMSQL_Exception);
  struct : CLogDispatcher {
    void dispatch(const CLogMessage&) override { throw std::runtime_error("the log is full"); }
  } failing;
  CLogDispatcher* previous = setLogDispatcher(&failing);
  EXPECT_THROW(db.execute(u"SELECT a FROM no_such_table", nullptr, true), QRMSQL_Exception);
  setLogDispatcher(previous);
  EXPECT_EQ(db.lastError().statement(), "SELECT a FROM no_such_table");  // what was thrown, too
}

TEST_P(DbRecoveryTest, ACachedStatementTakesAnotherKindOfValueOnlyWhereNothingIsLost) {
  QRMDB db{UCString(target_.uri)};
  ASSERT_EQ(db.open(), 0);
  ASSERT_EQ(db.execute(u"CREATE TEMP TABLE kinds (v VARCHAR(40))", nullptr, true), 0);
  auto insert = [&](const char16_t* sql, const char16_t* value) {  // numbers detected, as every caller does
    CStringTableRow row;
    row.addValue(value, false, false);
    CStringTableRow* rows[] = {&row};
    return db.execute(sql, nullptr, true, rows);
  };
  for (const char16_t* text : {u"abc", u"42", u"0.5", u"-9223372036854775808", u"99999999999999999999"})
    EXPECT_EQ(insert(u"INSERT INTO kinds VALUES (?)", text), 0);
  for (const char16_t* number : {u"42", u"'43'"})
    EXPECT_EQ(insert(u"INSERT INTO kinds (v) VALUES (?)", number), 0);
  EXPECT_THROW(insert(u"INSERT INTO kinds (v) VALUES (?)", u"'042'"), QRMSQL_Exception);  // 42 is not 042
  QRMCursor cursor;
  ASSERT_EQ(cursor.open(&db, u"SELECT v FROM kinds ORDER BY v", true), 0);
  std::vector<std::string> stored;
  for (; cursor.isValid(); cursor.next()) stored.push_back(toStdString(cursor.value(0)));
  EXPECT_EQ(stored, (std::vector<std::string>{"-9223372036854775808", "0.5", "42", "42", "43",
                                              "99999999999999999999", "abc"}));
}

INSTANTIATE_TEST_SUITE_P(Databases, DbRecoveryTest, ::testing::Values("pg", "sqlite"));

}  // namespace
}  // namespace hcs
