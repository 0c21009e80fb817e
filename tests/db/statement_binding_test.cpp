#include <gtest/gtest.h>

#include "db/qrm_db.h"
#include "db/qrm_mem_table.h"
#include "support/capturing_dispatcher.h"
#include "support/scripted_database.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

class StatementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DBIndexer::instance().reset();
    ASSERT_EQ(db_.open(), 0);
  }
  void TearDown() override { DBIndexer::instance().reset(); }

  std::shared_ptr<test::ScriptedServer> server_ = std::make_shared<test::ScriptedServer>();
  test::ScriptedDatabaseScope scope_{server_};
  QRMDB db_{u"db2://u:p@alias/?scache=3"};
};

TEST_F(StatementTest, TextBindsAsTheTypeItLooksLike) {
  const struct {
    const char16_t* text;
    DBIValue::Type type;
    const char* value;
  } cases[] = {{u"42", DBIValue::kLongLong, "42"},  {u"-42", DBIValue::kLongLong, "-42"},
               {u"+42", DBIValue::kLongLong, "42"}, {u"3.14", DBIValue::kDouble, "3.14"},
               {u".5", DBIValue::kDouble, "0.5"},   {u" 7", DBIValue::kLongLong, "7"},
               {u" -7", DBIValue::kString, " -7"},  {u"1.2.3", DBIValue::kString, "1.2.3"},
               {u"12a", DBIValue::kString, "12a"},  {u"7 ", DBIValue::kString, "7 "},
               {u"'12'", DBIValue::kString, "12"},  {u"", DBIValue::kLongLong, "0"},
               {u"'", DBIValue::kString, ""},       {u"\u0664\u0662", DBIValue::kString, "\xd9\xa4\xd9\xa2"}};
  for (const auto& c : cases) {
    // A statement of its own: a bound slot keeps its type.
    QRMDBStatement statement = db_.createStatement(icu::UnicodeString(u"SELECT ?, ") + c.text);
    statement.bindText(1, c.text, true);
    const DBIBuffer* buffer = statement.body().buffer(1);
    ASSERT_NE(buffer, nullptr);
    const std::string name = toStdString(icu::UnicodeString(c.text));
    EXPECT_EQ(buffer->type(), c.type) << name;
    EXPECT_EQ(buffer->get().asString(), c.value) << name;
  }
  QRMDBStatement statement = db_.createStatement(u"SELECT ?");
  statement.bindText(1, u"42", false);  // without detection numbers stay text
  EXPECT_EQ(statement.body().buffer(1)->type(), DBIValue::kString);
}

TEST_F(StatementTest, ReboundValueOfAnotherNumericTypeIsRetriedAndLogged) {
  QRMDBStatement statement = db_.createStatement(u"UPDATE t SET a = ?");
  statement.bindText(1, u"5", true);
  ASSERT_EQ(db_.executeStatement(statement), 0);
  test::CapturingDispatcher log;
  statement.bindText(1, u"3.5", true);  // the integer buffer cannot hold 3.5: bound as 3
  ASSERT_EQ(db_.executeStatement(statement), 0);
  ASSERT_EQ(server_->parameters.back().size(), 1u);  // handed over once, not again on every execute
  EXPECT_EQ(server_->parameters.back()[0].asString(), "3");
  auto entries = log.entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].module, "sql");
  EXPECT_EQ(
      entries[0].lines[0].rfind(
          "Parameter Binding of parameter 1 failed, retrying with Integer type. Might lose precision [3.5]: ",
          0),
      0u);
  EXPECT_EQ(entries[0].lines[1], "SQL was: [UPDATE t SET a = ?]");
}

TEST_F(StatementTest, DescribeListsTheBoundValues) {
  EXPECT_EQ(toStdString(db_.createStatement(u"SELECT 1").describe()),
            "Statement: sql=SELECT 1\nNo Bind Values");
  QRMDBStatement two = db_.createStatement(u"SELECT ?, ?");
  two.bindText(1, u"a", true);
  two.bindText(2, u"5", true);
  EXPECT_EQ(toStdString(two.describe()), "Statement: sql=SELECT ?, ?\nBind Values: 'a',5");
  QRMDBStatement one = db_.createStatement(u"SELECT ?");
  one.bindText(1, u"a", true);
  EXPECT_EQ(toStdString(one.describe()), "Statement: sql=SELECT ?\nBind Values: 'a'");
}

TEST_F(StatementTest, CacheHitsMissesAndEvictsTheLeastRecentlyUsed) {
  const uint64_t hits = db_.statementCache().hits();
  const uint64_t misses = db_.statementCache().misses();
  QRMDBStatement a = db_.createStatement(u"SELECT 1");
  QRMDBStatement b = db_.createStatement(u"SELECT 2");
  db_.createStatement(u"SELECT 3");
  EXPECT_EQ(db_.createStatement(u"SELECT 1").bodyPtr(), a.bodyPtr());  // hit: now most recent
  db_.createStatement(u"SELECT 4");                                    // evicts SELECT 2
  EXPECT_FALSE(db_.statementCache().contains(u"SELECT 2"));
  EXPECT_TRUE(db_.statementCache().contains(u"SELECT 1"));
  EXPECT_NE(db_.createStatement(u"SELECT 2").bodyPtr(), b.bodyPtr());
  EXPECT_EQ(db_.statementCache().hits() - hits, 1u);
  EXPECT_EQ(db_.statementCache().misses() - misses, 5u);
  QRMDB uncached(u"db2://u:p@alias/?scache=1");  // size one disables caching
  ASSERT_EQ(uncached.open(), 0);
  QRMDBStatement first = uncached.createStatement(u"SELECT 1");
  EXPECT_NE(uncached.createStatement(u"SELECT 1").bodyPtr(), first.bodyPtr());
  EXPECT_EQ(uncached.statementCache().size(), 0u);
}

TEST_F(StatementTest, ReportWithoutStatementRecordsUnspecifiedStatement) {
  DB2SQLException error(DBIStatus(DBIStatus::kDBIServerError, "dup", "23505", -803));
  EXPECT_EQ(db_.reportSqlError(error, nullptr), 90);
  EXPECT_EQ(db_.lastError().statement(), "Unspecified SQL Statement");
  EXPECT_EQ(db_.lastError().category(), "Unique Constraint Violation");
  EXPECT_EQ(db_.lastError().vendorCode(), static_cast<uint32_t>(-803));
  DB2SQLException deadlock(DBIStatus(DBIStatus::kDBIServerError, "dl", "40001", -911));
  EXPECT_THROW(db_.reportSqlError(deadlock, nullptr), QRMSQL_Exception);
  EXPECT_EQ(db_.lastError().entry(0).number(), 65u);
}

TEST(LenientNumbers, ReadLeadingDigits) {
  for (const auto& [text, value] :
       {std::pair{u"7x", 7u}, {u" 7", 7u}, {u"7 1", 7u}, {u"abc", 0u}, {u"\u0663", 3u}})
    EXPECT_EQ(QRMDB::uriNumber(text), value) << toStdString(icu::UnicodeString(text));
  EXPECT_EQ(readInteger64(u" -12x"), -12);
  EXPECT_EQ(readInteger64(u"+0-5"), -5);
  EXPECT_EQ(readInteger64(u"7 1"), 7);
  EXPECT_DOUBLE_EQ(readDouble(u"-1.25"), -1.25);
  EXPECT_DOUBLE_EQ(readDouble(u".5"), 0.5);
  EXPECT_DOUBLE_EQ(readDouble(u"3."), 3.0);
}

}  // namespace
}  // namespace hcs
