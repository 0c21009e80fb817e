#include "db/dbi/odbc_database.h"

#include <gtest/gtest.h>

#include "error/sql_exception.h"
#include "support/db_targets.h"
#include "support/pg_cluster.h"

namespace hcs {
namespace {

class OdbcDatabaseTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "pg" && !test::PgCluster::available()) GTEST_SKIP() << "PostgreSQL 15 is not installed";
    target_ = test::makeDbTarget(GetParam(), sqlite_.path());
    database_ = openDatabase(target_.params);
    ASSERT_TRUE(database_->isValid())
        << database_->status().message() << " " << database_->status().vendorMessage1();
    connection_ = database_->connection();
  }

  // Runs `sql` and reads every row with bulk fetches of `fetchSize`, counting the fetch calls.
  std::vector<DBIRow> readAll(DBIStatement& statement, size_t fetchSize, int* fetches = nullptr) {
    std::vector<DBIRow> all;
    std::vector<DBIRow> block;
    int calls = 0;
    for (;;) {
      ++calls;
      if (statement.fetch(fetchSize, block) == 0) break;
      all.insert(all.end(), block.begin(), block.end());
    }
    if (fetches != nullptr) *fetches = calls;
    return all;
  }

  test::TempSqliteFile sqlite_;
  test::DbTarget target_;
  std::shared_ptr<DBIDatabase> database_;
  std::shared_ptr<DBIConnection> connection_;
};

TEST_P(OdbcDatabaseTest, BindsEveryBufferTypeAndReadsValuesBack) {
  ASSERT_TRUE(
      connection_->executeSql("CREATE TABLE typed (i INTEGER, b BIGINT, d DOUBLE PRECISION, n NUMERIC(10,2), "
                              "s VARCHAR(40), u VARCHAR(40), "
                              "dt DATE, ts TIMESTAMP)"));
  auto insert = connection_->createStatement(
      "INSERT INTO typed VALUES (?, ?, ?, ?, ?, ?, '2009-03-05', '2009-03-05 14:07:09')");
  std::vector<std::pair<DBIValue::Type, DBIValue>> values = {
      {DBIValue::kInt, DBIValue(int32_t{-7})},
      {DBIValue::kLongLong, DBIValue(int64_t{1} << 40)},
      {DBIValue::kDouble, DBIValue(2.5)},
      {DBIValue::kDecimal, DBIValue(DBIDecimal{"12.34"})},
      {DBIValue::kString, DBIValue(std::string("narrow ü"))},
      {DBIValue::kUString, DBIValue(icu::UnicodeString(u"wide \u00e9\u4e2d"))},
  };
  for (auto& [type, value] : values) {
    auto buffer = std::make_shared<DBIBuffer>(type, target_.params.errorHandler);
    ASSERT_TRUE(buffer->set(value));
    insert->addParameter(buffer);
  }
  ASSERT_TRUE(insert->execute());
  EXPECT_FALSE(insert->hasResult());
  EXPECT_EQ(insert->rowsAffected(), 1);

  auto select = connection_->createStatement("SELECT i, b, d, n, s, u, dt, ts FROM typed");
  ASSERT_TRUE(select->execute());
  ASSERT_TRUE(select->hasResult());
  ASSERT_EQ(select->schema().entries(), 8u);
  std::vector<DBIRow> rows = readAll(*select, 10);
  ASSERT_EQ(rows.size(), 1u);
  const DBIRow& row = rows[0];
  EXPECT_EQ(row[0].asString(), "-7");
  EXPECT_EQ(row[1].asString(), "1099511627776");
  EXPECT_EQ(row[2].asString(), "2.5");
  EXPECT_EQ(row[3].asString(), "12.34");
  EXPECT_EQ(row[4].asString(), "narrow ü");
  EXPECT_EQ(row[5].asUString(), icu::UnicodeString(u"wide \u00e9\u4e2d"));
  EXPECT_EQ(row[6].asString().substr(0, 10), "2009-03-05");
  EXPECT_EQ(row[7].asString(), "2009-03-05 14:07:09");
  if (GetParam() == "pg") {
    EXPECT_EQ(row[6].type(), DBIValue::kDate);
    EXPECT_EQ(row[7].type(), DBIValue::kDateTime);
  }
}

TEST_P(OdbcDatabaseTest, BulkFetchReturnsEveryRowWhateverTheBlockSize) {
  ASSERT_TRUE(connection_->executeSql("CREATE TABLE many (k INTEGER, v VARCHAR(20))"));
  auto insert = connection_->createStatement("INSERT INTO many VALUES (?, ?)");
  auto key = std::make_shared<DBIBuffer>(DBIValue::kInt, target_.params.errorHandler);
  auto text = std::make_shared<DBIBuffer>(DBIValue::kString, target_.params.errorHandler);
  insert->addParameter(key);
  insert->addParameter(text);
  for (int32_t i = 0; i < 7; ++i) {
    key->set(DBIValue(i));
    text->set(DBIValue("row" + std::to_string(i)));
    ASSERT_TRUE(insert->execute());
  }
  for (size_t fetchSize : {1u, 3u, 100u}) {
    auto select = connection_->createStatement("SELECT k, v FROM many ORDER BY k");
    ASSERT_TRUE(select->execute());
    int fetches = 0;
    std::vector<DBIRow> rows = readAll(*select, fetchSize, &fetches);
    ASSERT_EQ(rows.size(), 7u) << fetchSize;
    EXPECT_EQ(rows[6][1].asString(), "row6");
    EXPECT_EQ(fetches, static_cast<int>((7 + fetchSize - 1) / fetchSize) + 1) << fetchSize;
  }
}

TEST_P(OdbcDatabaseTest, LongTextIsReadWhole) {
  ASSERT_TRUE(connection_->executeSql("CREATE TABLE longtext (t TEXT)"));
  std::string big(20000, 'x');
  ASSERT_TRUE(connection_->executeSql("INSERT INTO longtext VALUES ('" + big + "')"));
  auto select = connection_->createStatement("SELECT t, NULL FROM longtext");
  ASSERT_TRUE(select->execute());
  std::vector<DBIRow> rows = readAll(*select, 50);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].asString(), big);
  EXPECT_TRUE(rows[0][1].isNull());
}

TEST_P(OdbcDatabaseTest, WideValuesInNarrowDeclaredColumnsAreNotCut) {
  // SQLite stores 64-bit values in INTEGER columns; PostgreSQL needs NUMERIC for long decimals.
  const std::string wide = std::string(120, '9') + ".25";
  ASSERT_TRUE(connection_->executeSql(
      "CREATE TABLE wide (i " + std::string(GetParam() == "pg" ? "BIGINT" : "INTEGER") + ", n NUMERIC)"));
  ASSERT_TRUE(connection_->executeSql("INSERT INTO wide VALUES (1099511627776, " + wide + ")"));
  auto select = connection_->createStatement("SELECT i, n FROM wide");
  ASSERT_TRUE(select->execute());
  std::vector<DBIRow> rows = readAll(*select, 10);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].asString(), "1099511627776");
  if (GetParam() == "pg") {
    EXPECT_EQ(rows[0][1].asString(), wide);
  }
}

TEST_P(OdbcDatabaseTest, FailuresReachTheHandlerWithDiagnostics) {
  auto bad = connection_->createStatement("SELEC 1");
  try {
    bad->execute();
    FAIL() << "no exception";
  } catch (const SQLException& e) {
    SQLErrorClass out;
    e.classify(out);
    EXPECT_EQ(out.number, kSQLSyntax)
        << e.what() << " state " << e.status().sqlState() << " native " << e.status().vendorError1();
    EXPECT_FALSE(e.status().vendorMessage1().empty());
  }
  EXPECT_FALSE(bad->isValid());
  // The connection goes on working after a failed statement.
  EXPECT_TRUE(connection_->executeSql("CREATE TABLE after_error (a INTEGER)"));
}

TEST_P(OdbcDatabaseTest, RollbackUndoesUncommittedWork) {
  ASSERT_TRUE(connection_->executeSql("CREATE TABLE tx (a INTEGER)"));
  ASSERT_TRUE(connection_->commitTransaction());
  ASSERT_TRUE(connection_->executeSql("INSERT INTO tx VALUES (1)"));
  ASSERT_TRUE(connection_->rollbackTransaction());
  auto select = connection_->createStatement("SELECT COUNT(*) FROM tx");
  ASSERT_TRUE(select->execute());
  std::vector<DBIRow> rows = readAll(*select, 1);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].asString(), "0");
}

TEST_P(OdbcDatabaseTest, StatementsOfAClosedConnectionFailCleanlyAndReopenWorks) {
  auto select = connection_->createStatement("SELECT 1");
  ASSERT_TRUE(select->execute());
  connection_->close();
  EXPECT_FALSE(select->isValid());
  std::vector<DBIRow> rows;
  EXPECT_EQ(select->fetch(10, rows), 0u);
  ASSERT_TRUE(connection_->open());
  ASSERT_TRUE(select->execute());
  EXPECT_EQ(readAll(*select, 10).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Databases, OdbcDatabaseTest, ::testing::Values("pg", "sqlite"));

TEST(OdbcConnect, FailureNamesTargetWithoutPassword) {
  DBIConnectParams params;
  params.vendor = "pg";
  params.driver = defaultOdbcDriver("pg");
  params.server = "127.0.0.1";
  params.port = "1";  // nothing listens there
  params.user = "alice";
  params.password = "topsecret";
  params.database = "none";
  auto database = openDatabase(params);
  EXPECT_FALSE(database->isValid());
  EXPECT_EQ(database->status().message().find("topsecret"), std::string::npos);
  EXPECT_NE(database->status().message().find("Pwd=****"), std::string::npos) << database->status().message();
}

TEST(OdbcConnect, UnknownDriverIsAClearFailure) {
  DBIConnectParams params;
  params.vendor = "sqlite";
  params.driver = "/nonexistent/driver.so";
  params.database = "/tmp/none.db";
  auto database = openDatabase(params);
  EXPECT_FALSE(database->isValid());
  EXPECT_FALSE(database->status().message().empty());
}

}  // namespace
}  // namespace hcs
