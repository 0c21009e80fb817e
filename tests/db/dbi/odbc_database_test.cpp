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

// Also the reads fixed once: 64-bit values in a column SQLite declares INTEGER, NUMERIC values longer
// than any fixed buffer (PostgreSQL), and long text read piecewise.
TEST_P(OdbcDatabaseTest, BindsEveryBufferTypeAndReadsLongAndWideValuesBackWhole) {
  ASSERT_TRUE(connection_->executeSql(
      "CREATE TABLE typed (i INTEGER, b " + std::string(GetParam() == "pg" ? "BIGINT" : "INTEGER") +
      ", d DOUBLE PRECISION, n NUMERIC, t TEXT, u VARCHAR(40), dt DATE, ts TIMESTAMP)"));
  auto insert = connection_->createStatement(
      "INSERT INTO typed VALUES (?, ?, ?, ?, ?, ?, '2009-03-05', '2009-03-05 14:07:09')");
  const std::string wide = std::string(1000, '9') + ".25";
  const std::string longText = "narrow ü" + std::string(20000, 'x');
  for (const auto& [type, value] : std::vector<std::pair<DBIValue::Type, DBIValue>>{
           {DBIValue::kInt, DBIValue(int32_t{-7})},
           {DBIValue::kLongLong, DBIValue(int64_t{1} << 40)},
           {DBIValue::kDouble, DBIValue(2.5)},
           {DBIValue::kDecimal, DBIValue(DBIDecimal{wide})},
           {DBIValue::kString, DBIValue(longText)},
           {DBIValue::kUString, DBIValue(icu::UnicodeString(u"wide \u00e9\u4e2d"))}}) {
    auto buffer = std::make_shared<DBIBuffer>(type, target_.params.errorHandler);
    ASSERT_TRUE(buffer->set(value));
    insert->addParameter(buffer);
  }
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(insert->execute());  // two rows: long text is read row by row
  EXPECT_FALSE(insert->hasResult());
  EXPECT_EQ(insert->rowsAffected(), 1);
  const std::vector<DBIRow> rows = readAll("SELECT i, b, d, n, t, u, dt, ts, NULL FROM typed", 50);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][4].asString(), longText);
  const DBIRow& row = rows[1];
  ASSERT_EQ(row.size(), 9u);
  EXPECT_EQ(row[0].asString() + "|" + row[1].asString() + "|" + row[2].asString(), "-7|1099511627776|2.5");
  if (GetParam() == "pg") {
    EXPECT_EQ(row[3].asString(), wide);
  }
  EXPECT_EQ(row[4].asString(), longText);
  EXPECT_EQ(row[5].asUString(), icu::UnicodeString(u"wide \u00e9\u4e2d"));
  EXPECT_EQ(row[6].asString().substr(0, 10), "2009-03-05");
  EXPECT_EQ(row[7].asString(), "2009-03-05 14:07:09");
  EXPECT_TRUE(row[8].isNull());
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
