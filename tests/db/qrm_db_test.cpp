#include "db/qrm_db.h"

#include <gtest/gtest.h>

#include <cctype>

#include "db/qrm_cursor.h"
#include "db/qrm_mem_table.h"
#include "db/string_table_row.h"
#include "support/capturing_dispatcher.h"
#include "support/database_fixture.h"
#include "support/db_targets.h"
#include "support/pg_cluster.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

std::vector<std::vector<std::string>> readCursor(QRMCursor& cursor) {
  std::vector<std::vector<std::string>> rows;
  for (; cursor.isValid(); cursor.next()) {
    std::vector<std::string> row;
    for (int32_t c = 0; c < cursor.columnCount(); ++c) row.push_back(toStdString(cursor.value(c)));
    rows.push_back(row);
  }
  return rows;
}

// Each test gets a fresh index-metadata state and a QRMDB on the real database named by the parameter.
class QRMDBTest : public test::RealDatabaseTest {
 protected:
  std::unique_ptr<QRMDB> openDb(const std::string& query = "") {
    std::string uri = target_.uri + (query.empty() ? "" : "?" + query);
    auto db = std::make_unique<QRMDB>(UCString(uri));
    EXPECT_EQ(db->open(), 0);
    return db;
  }

  // Runs statements on a separate session and commits them, so every QRMDB sees the result.
  void committed(const std::vector<std::string>& statements) {
    ASSERT_NO_THROW(test::runCommitted(target_, statements));
  }

  std::string table(const std::string& base) {
    std::string name = base + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name)
      c = std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
    return name;
  }
};

TEST_P(QRMDBTest, OpenConnectsAndRunsInsideATransactionThatCloseRollsBack) {
  auto db = openDb();
  ASSERT_TRUE(db->isValid());
  EXPECT_EQ(toStdString(db->databaseType()), GetParam());
  EXPECT_EQ(db->execute(u"CREATE TABLE rolled (a INTEGER)", nullptr, true), 0);
  int32_t affected = -5;
  EXPECT_EQ(db->execute(u"INSERT INTO rolled VALUES (1)", &affected, true), 0);
  EXPECT_EQ(affected, 1);
  db->close();
  EXPECT_FALSE(db->isValid());
  EXPECT_EQ(db->execute(u"INSERT INTO rolled VALUES (1)", &affected, true), -1);
  EXPECT_EQ(affected, 0);
  // Nothing was committed: a new session does not see the table.
  auto again = openDb();
  QRMCursor cursor;
  EXPECT_THROW(cursor.open(again.get(), u"SELECT a FROM rolled", true), QRMSQL_Exception);
}

TEST(QRMDBPostgres, SessionCarriesTheApplicationNameAndAStatementTimeout) {
  if (!test::PgCluster::available()) GTEST_SKIP() << "PostgreSQL 15 is not installed";
  DBIndexer::instance().reset();
  test::DbTarget target = test::makeDbTarget("pg", "");
  // Blanks and quotes in the module name stay inside the value.
  QRMDB::setModuleName(u"my 'scorer'");
  QRMDB db{UCString(target.uri)};
  ASSERT_EQ(db.open(), 0);
  QRMDB::setModuleName(u"");
  QRMCursor cursor;
  ASSERT_EQ(cursor.open(&db, u"SELECT current_setting('application_name'), current_setting('statement_timeout')",
                        true),
            0);
  EXPECT_EQ(toStdString(cursor.value(0)).rfind("my 'scorer':", 0), 0u) << toStdString(cursor.value(0));
  EXPECT_EQ(toStdString(cursor.value(1)), "30s");
  DBIndexer::instance().reset();
}

TEST_P(QRMDBTest, ReopenKeepsTheConnectionUsableAndEmptiesTheCache) {
  auto db = openDb();
  QRMDBStatement first = db->createStatement(u"SELECT 1");
  EXPECT_TRUE(db->statementCache().contains(u"SELECT 1"));
  EXPECT_EQ(db->open(), 0);
  EXPECT_TRUE(db->isValid());
  EXPECT_EQ(db->statementCache().size(), 0u);
  QRMCursor cursor;
  ASSERT_EQ(cursor.open(db.get(), u"SELECT 1", true), 0);
  EXPECT_EQ(readCursor(cursor), (std::vector<std::vector<std::string>>{{"1"}}));
}

TEST_P(QRMDBTest, StatementCacheHitsMissesAndEvictsLeastRecentlyUsed) {
  auto db = openDb("scache=3");
  EXPECT_EQ(db->statementCache().capacity(), 3u);
  const uint64_t hits = db->statementCache().hits();
  const uint64_t misses = db->statementCache().misses();
  QRMDBStatement a = db->createStatement(u"SELECT 1");
  QRMDBStatement b = db->createStatement(u"SELECT 2");
  QRMDBStatement c = db->createStatement(u"SELECT 3");
  EXPECT_EQ(db->createStatement(u"SELECT 1").bodyPtr(), a.bodyPtr());  // hit: now most recent
  db->createStatement(u"SELECT 4");                                    // evicts SELECT 2
  EXPECT_FALSE(db->statementCache().contains(u"SELECT 2"));
  EXPECT_TRUE(db->statementCache().contains(u"SELECT 1"));
  EXPECT_NE(db->createStatement(u"SELECT 2").bodyPtr(), b.bodyPtr());
  EXPECT_EQ(db->statementCache().hits() - hits, 1u);
  EXPECT_EQ(db->statementCache().misses() - misses, 5u);
}

TEST_P(QRMDBTest, CacheSizeOneDisablesCaching) {
  auto db = openDb("scache=1");
  QRMDBStatement a = db->createStatement(u"SELECT 1");
  EXPECT_NE(db->createStatement(u"SELECT 1").bodyPtr(), a.bodyPtr());
  EXPECT_EQ(db->statementCache().size(), 0u);
}

TEST_P(QRMDBTest, CursorsReadTheSameRowsWhateverTheFetchSize) {
  const std::string name = table("rows");
  committed({"CREATE TABLE " + name + " (k INTEGER, v VARCHAR(20))"});
  for (int count : {0, 1, 57}) {
    std::vector<std::vector<std::vector<std::string>>> results;
    for (const char* fetching : {"fetching=1", "fetching=100"}) {
      auto db = openDb(fetching);
      for (int i = 0; i < count; ++i) {
        CStringTableRow row;
        row.addInt(i, false, false);
        row.addValue(UCString("v" + std::to_string(i)), false, false);
        CStringTableRow* rows[] = {&row};
        ASSERT_EQ(db->execute(UCString("INSERT INTO " + name + " VALUES (?, ?)"), nullptr, true, rows), 0);
      }
      QRMCursor cursor;
      ASSERT_EQ(cursor.open(db.get(),
                            UCString("SELECT k, v FROM " + name + " ORDER BY k").getTerminatedBuffer(), true),
                0);
      EXPECT_EQ(cursor.columnCount(), 2);
      results.push_back(readCursor(cursor));
    }
    ASSERT_EQ(results[0].size(), static_cast<size_t>(count));
    EXPECT_EQ(results[0], results[1]) << count;
    if (count > 0) {
      EXPECT_EQ(results[0].back()[1], "v" + std::to_string(count - 1));
    }
  }
}

TEST_P(QRMDBTest, DatesAndNullsReadAsText) {
  auto db = openDb();
  ASSERT_EQ(db->execute(u"CREATE TABLE dated (d DATE, t TIMESTAMP, n VARCHAR(5))", nullptr, true), 0);
  ASSERT_EQ(
      db->execute(u"INSERT INTO dated VALUES ('2009-03-05', '2009-03-05 14:07:09', NULL)", nullptr, true), 0);
  QRMCursor cursor;
  ASSERT_EQ(cursor.open(db.get(), u"SELECT d, t, n FROM dated", true), 0);
  EXPECT_EQ(readCursor(cursor),
            (std::vector<std::vector<std::string>>{{"2009-03-05", "2009-03-05 14:07:09", ""}}));
}

TEST_P(QRMDBTest, UniqueViolationIsAbsorbedAndRecorded) {
  auto db = openDb();
  ASSERT_EQ(db->execute(u"CREATE TABLE uniq (k INTEGER PRIMARY KEY)", nullptr, true), 0);
  ASSERT_EQ(db->execute(u"INSERT INTO uniq VALUES (1)", nullptr, true), 0);
  int32_t affected = 7;
  EXPECT_EQ(db->execute(u"INSERT INTO uniq VALUES (1)", &affected, true), 90);
  EXPECT_EQ(affected, 0);
  EXPECT_EQ(db->lastError().entry(0).number(), 90u);
  EXPECT_EQ(db->lastError().severity(), 2);
  EXPECT_EQ(db->lastError().category(), "Unique Constraint Violation");
  EXPECT_EQ(db->lastError().statement(), "INSERT INTO uniq VALUES (1)");
  // The session goes on: the absorbed failure did not poison the transaction.
  QRMCursor cursor;
  EXPECT_EQ(cursor.open(db.get(), u"INSERT INTO uniq VALUES (1)", true), -1);
  ASSERT_EQ(cursor.open(db.get(), u"SELECT COUNT(*) FROM uniq", true), 0);
  EXPECT_EQ(toStdString(cursor.value(0)), "1");
}

TEST_P(QRMDBTest, SyntaxErrorIsThrownWithTheStatementAndLogged) {
  auto db = openDb();
  test::CapturingDispatcher log;
  try {
    db->execute(u"SELEC 1\nFROM nowhere", nullptr, true);
    FAIL() << "no exception";
  } catch (const QRMSQL_Exception& e) {
    EXPECT_GE(e.severity(), 3);
    EXPECT_EQ(e.entry(0).number(), 110u);
    EXPECT_EQ(e.statement(), "SELEC 1");
    EXPECT_EQ(e.category(), "Syntax Error");
  }
  std::vector<std::string> lines = log.allLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("Exception: ", 0), 0u);
  EXPECT_EQ(lines[1], "Statement: Statement: sql=SELEC 1");
  EXPECT_EQ(lines[2], "FROM nowhere");
}

TEST_P(QRMDBTest, IndexMetadataIsReadOncePerProcess) {
  const std::string name = table("idx");
  committed({"CREATE TABLE " + name + " (a INTEGER, b INTEGER, c INTEGER)",
             "CREATE INDEX " + name + "_ba ON " + name + " (b, a)"});
  auto first = openDb();
  EXPECT_TRUE(DBIndexer::instance().isReady());
  auto columns = DBIndexer::instance().columns(UCString(name), UCString(name + "_ba"));
  EXPECT_EQ(std::vector<icu::UnicodeString>(columns.begin(), columns.end()),
            (std::vector<icu::UnicodeString>{u"b", u"a"}));
  const size_t tables = DBIndexer::instance().tableCount();
  first.reset();  // SQLite: its open transaction would hold the lock the next writer needs
  committed({"CREATE TABLE " + name + "_later (x INTEGER)",
             "CREATE INDEX " + name + "_lx ON " + name + "_later (x)"});
  auto second = openDb();
  EXPECT_EQ(DBIndexer::instance().tableCount(), tables);
}

TEST_P(QRMDBTest, ParametersOfSeveralRowsBindInOrderSkippingNullRows) {
  auto db = openDb();
  ASSERT_EQ(db->execute(u"CREATE TABLE params (a INTEGER, b VARCHAR(10), c DOUBLE PRECISION)", nullptr, true),
            0);
  CStringTableRow first;
  first.addValue(u"5", false, false);
  CStringTableRow second;
  second.addQuoted(u"12");
  second.addValue(u"2.5", false, false);
  CStringTableRow* rows[] = {&first, nullptr, &second};
  int32_t affected = 0;
  ASSERT_EQ(db->execute(u"INSERT INTO params VALUES (?, ?, ?)", &affected, true, rows), 0);
  EXPECT_EQ(affected, 1);
  QRMCursor cursor;
  CStringTableRow key;
  key.addValue(u"12", false, false);
  CStringTableRow* keyRows[] = {&key};
  ASSERT_EQ(cursor.open(db.get(), u"SELECT a, b, c FROM params WHERE b = ?", true, keyRows), 0);
  ASSERT_TRUE(cursor.isValid());
  EXPECT_EQ(toStdString(cursor.value(0)), "5");
  EXPECT_EQ(toStdString(cursor.value(2)), "2.5");
}

INSTANTIATE_TEST_SUITE_P(Databases, QRMDBTest, ::testing::Values("pg", "sqlite"));

TEST(QRMDBConnect, FailureTextNeverCarriesThePassword) {
  DBIndexer::instance().reset();
  QRMDB db(u"pg://alice:topsecret@127.0.0.1:1/none");
  try {
    db.open();
    FAIL() << "no exception";
  } catch (const QRMSQL_Exception& e) {
    std::string text = e.what();
    EXPECT_EQ(text.find("topsecret"), std::string::npos) << text;
    EXPECT_NE(text.find("alice:****@127.0.0.1"), std::string::npos) << text;
    EXPECT_EQ(e.entry(0).number(), 50u);
  }
  EXPECT_EQ(DBIndexer::instance().state(), 0);
}

TEST(QRMDBConnect, UnknownSchemeIsRefused) {
  QRMDB db(u"MSSQL://u:p@server/");
  EXPECT_THROW(db.open(), QRMSQL_Exception);
  EXPECT_THROW(db.createStatement(u"SELECT 1"), QRMSQL_Exception);
}

}  // namespace
}  // namespace hcs
