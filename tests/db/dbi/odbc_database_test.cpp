#include "db/dbi/odbc_database.h"

#include <gtest/gtest.h>

#include "support/database_fixture.h"

namespace hcs {
namespace {

class OdbcDatabaseTest : public test::RealDatabaseTest {
 protected:
  void SetUp() override {
    test::RealDatabaseTest::SetUp();
    if (IsSkipped()) return;
    database_ = openDatabase(target_.params);
    ASSERT_TRUE(database_->isValid())
        << database_->status().message() << " " << database_->status().vendorMessage1();
    connection_ = database_->connection();
  }

  // Every row of `sql`, read with bulk fetches of `fetchSize`; `fetches` counts the fetch calls.
  std::vector<DBIRow> readAll(const std::string& sql, size_t fetchSize, int* fetches = nullptr) {
    auto statement = connection_->createStatement(sql);
    EXPECT_TRUE(statement->execute()) << sql;
    std::vector<DBIRow> all, block;
    for (int calls = 1;; ++calls) {
      if (fetches != nullptr) *fetches = calls;
      if (statement->fetch(fetchSize, block) == 0) return all;
      all.insert(all.end(), block.begin(), block.end());
    }
  }

  std::shared_ptr<DBIDatabase> database_;
  std::shared_ptr<DBIConnection> connection_;
};

TEST_P(OdbcDatabaseTest, BindsEveryBufferTypeAndReadsValuesBack) {
  ASSERT_TRUE(connection_->executeSql(
      "CREATE TABLE typed (i INTEGER, b BIGINT, d DOUBLE PRECISION, n NUMERIC(10,2), s VARCHAR(40), "
      "u VARCHAR(40), dt DATE, ts TIMESTAMP)"));
  auto insert = connection_->createStatement(
      "INSERT INTO typed VALUES (?, ?, ?, ?, ?, ?, '2009-03-05', '2009-03-05 14:07:09')");
  for (const auto& [type, value] : std::vector<std::pair<DBIValue::Type, DBIValue>>{
           {DBIValue::kInt, DBIValue(int32_t{-7})},
           {DBIValue::kLongLong, DBIValue(int64_t{1} << 40)},
           {DBIValue::kDouble, DBIValue(2.5)},
           {DBIValue::kDecimal, DBIValue(DBIDecimal{"12.34"})},
           {DBIValue::kString, DBIValue(std::string("narrow ü"))},
           {DBIValue::kUString, DBIValue(icu::UnicodeString(u"wide \u00e9\u4e2d"))}}) {
    auto buffer = std::make_shared<DBIBuffer>(type, target_.params.errorHandler);
    ASSERT_TRUE(buffer->set(value));
    insert->addParameter(buffer);
  }
  ASSERT_TRUE(insert->execute());
  EXPECT_FALSE(insert->hasResult());
  EXPECT_EQ(insert->rowsAffected(), 1);
  const std::vector<DBIRow> rows = readAll("SELECT i, b, d, n, s, u, dt, ts FROM typed", 10);
  ASSERT_EQ(rows.size(), 1u);
  const DBIRow& row = rows[0];
  ASSERT_EQ(row.size(), 8u);
  std::string text;
  for (size_t c = 0; c < 6; ++c) text += row[c].asString() + "|";
  EXPECT_EQ(text, "-7|1099511627776|2.5|12.34|narrow ü|wide \u00e9\u4e2d|");
  EXPECT_EQ(row[5].asUString(), icu::UnicodeString(u"wide \u00e9\u4e2d"));
  EXPECT_EQ(row[6].asString().substr(0, 10), "2009-03-05");
  EXPECT_EQ(row[7].asString(), "2009-03-05 14:07:09");
  if (GetParam() == "pg") {
    EXPECT_EQ(row[6].type(), DBIValue::kDate);
    EXPECT_EQ(row[7].type(), DBIValue::kDateTime);
  }
}

TEST_P(OdbcDatabaseTest, LongAndWideValuesAreReadWhole) {
  // SQLite stores 64-bit values in INTEGER columns; PostgreSQL needs NUMERIC for long decimals.
  const std::string wide = std::string(120, '9') + ".25";
  const std::string longText(20000, 'x');
  ASSERT_TRUE(connection_->executeSql("CREATE TABLE wide (t TEXT, i " +
                                      std::string(GetParam() == "pg" ? "BIGINT" : "INTEGER") +
                                      ", n NUMERIC)"));
  ASSERT_TRUE(
      connection_->executeSql("INSERT INTO wide VALUES ('" + longText + "', 1099511627776, " + wide + ")"));
  const std::vector<DBIRow> rows = readAll("SELECT t, i, n, NULL FROM wide", 50);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].asString(), longText);
  EXPECT_EQ(rows[0][1].asString(), "1099511627776");
  if (GetParam() == "pg") {
    EXPECT_EQ(rows[0][2].asString(), wide);
  }
  EXPECT_TRUE(rows[0][3].isNull());
}

TEST_P(OdbcDatabaseTest, BulkFetchReturnsEveryRowWhateverTheBlockSizeAndClosedStatementsReadNothing) {
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
    int fetches = 0;
    const std::vector<DBIRow> rows = readAll("SELECT k, v FROM many ORDER BY k", fetchSize, &fetches);
    ASSERT_EQ(rows.size(), 7u) << fetchSize;
    EXPECT_EQ(rows[6][1].asString(), "row6");
    EXPECT_EQ(fetches, static_cast<int>((7 + fetchSize - 1) / fetchSize) + 1) << fetchSize;
  }
  auto select = connection_->createStatement("SELECT 1");
  ASSERT_TRUE(select->execute());
  connection_->close();
  EXPECT_FALSE(select->isValid());
  std::vector<DBIRow> rows;
  EXPECT_EQ(select->fetch(10, rows), 0u);
  ASSERT_TRUE(connection_->open());
  ASSERT_TRUE(select->execute());
  EXPECT_EQ(select->fetch(10, rows), 1u);
}

INSTANTIATE_TEST_SUITE_P(Databases, OdbcDatabaseTest, ::testing::Values("pg", "sqlite"));

}  // namespace
}  // namespace hcs
