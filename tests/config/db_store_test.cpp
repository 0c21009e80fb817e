#include "config/db_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "config/build_store.h"
#include "config/config_source.h"
#include "config/ini_fixture.h"
#include "db/qrm_cursor.h"
#include "db/qrm_db.h"
#include "error/qrm_exception.h"
#include "support/capturing_dispatcher.h"
#include "support/database_fixture.h"
#include "support/db_targets.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

class CollectingVisitor : public CRowVisitor {
 public:
  void visit(QRMCursor& cursor) override { values.push_back(toStdString(cursor.value(0))); }
  std::vector<std::string> values;
};

// The SYSTEM_PARAM table on a real database, rebuilt for every test.
class SystemParamStore : public test::RealDatabaseTest {
 protected:
  std::unique_ptr<QRMDB> open(const std::vector<std::string>& rows) {
    test::createSystemParam(target_, rows);
    return connect();
  }
  std::unique_ptr<QRMDB> connect() {
    auto db = std::make_unique<QRMDB>(UCString(target_.uri));
    EXPECT_EQ(db->open(), 0);
    return db;
  }
};

// Every row is read (no filter, no order): the last row of a key gives the value, the first names the
// record; DATA_TYPE gives the store type; NULL is an empty value and DEFAULT_VALUE never a default. The
// application name, found in the table, is the section.
TEST_P(SystemParamStore, ReadsEveryRowAndChoosesTheSection) {
  auto db = open({"'ATTR_URI', 'phone', 'http://first/phone', 'http://default', 'STRING'",
                  "'attr_uri', 'PHONE', 'http://second/phone', NULL, 'string'",
                  "'MYAPP', 'TIMEOUT', '5', NULL, 'INTEGER'", "'LIMITS', 'RETRIES', '3', '1', 'integer'",
                  "'LIMITS', 'VERBOSE', 'Y', 'N', 'BOOLEAN'", "'LIMITS', 'ODD', 'x', 'y', 'DECIMAL'",
                  "'LIMITS', 'UNSET', NULL, 'fallback', 'STRING'"});
  const CCMEParameterDef defs[] = {{"*", "TIMEOUT", "STRING", "", "10", "N", "N"}};
  test::CapturingDispatcher log;
  CCMEParameterDBStore store(*db, u"MYAPP", defs, 1);
  EXPECT_EQ(toStdString(store.section()), "MYAPP");
  EXPECT_EQ(toStdString(store.getParameter(u"*", u"TIMEOUT")), "10");  // setup kept only the definition
  store.load();
  EXPECT_EQ(store.records().size(), 6u);
  EXPECT_EQ(toStdString(store.getParameter(u"*", u"TIMEOUT")), "5");
  EXPECT_TRUE(store.findRecord(u"MYAPP:TIMEOUT")->programmed);
  EXPECT_EQ(toStdString(store.getParameter(u"Attr_Uri", u"phone")), "http://second/phone");
  EXPECT_EQ(toStdString(store.findRecord(u"ATTR_URI:PHONE")->group), "ATTR_URI");
  for (const auto& [key, type] : {std::pair{u"MYAPP:TIMEOUT", ParameterDataType::INTEGER},
                                  std::pair{u"LIMITS:RETRIES", ParameterDataType::INTEGER},
                                  std::pair{u"LIMITS:VERBOSE", ParameterDataType::BOOLEAN},
                                  std::pair{u"LIMITS:ODD", ParameterDataType::STRING}}) {
    EXPECT_EQ(store.findRecord(key)->storeType, type) << toStdString(key);
  }
  const CCMEParameterRecord* unset = store.findRecord(u"LIMITS:UNSET");
  EXPECT_TRUE(unset->hasValue);
  EXPECT_EQ(toStdString(unset->value()), "");
  EXPECT_EQ(log.allLines(), std::vector<std::string>(2, "Reading configuration from SYSTEM_PARAM..."));
  EXPECT_EQ(log.entries().at(0).level, kLogDebug);

  // The query; the source's other readers visit every row, and numbered queries are empty and run nothing.
  EXPECT_EQ(
      toStdString(DBConfig::selectText(u"SYSTEM_PARAM", {u"PARAM_GROUP", u"PARAM_CODE", u"CURRENT_VALUE",
                                                         u"DEFAULT_VALUE", u"DATA_TYPE"})),
      "SELECT PARAM_GROUP, PARAM_CODE, CURRENT_VALUE, DEFAULT_VALUE, DATA_TYPE FROM SYSTEM_PARAM");
  CollectingVisitor visitor;
  DBConfig source(*db);
  EXPECT_EQ(source.forEachRow(u"SYSTEM_PARAM", {u"PARAM_CODE"}, visitor), 0);
  EXPECT_EQ(visitor.values.size(), 7u);
  EXPECT_EQ(source.forEachQueryRow(1, visitor), 0);
  EXPECT_EQ(visitor.values.size(), 7u);
}

TEST_P(SystemParamStore, MissingTableFailsWithTheDatabaseEntriesFirst) {
  test::runCommitted(target_, {"DROP TABLE IF EXISTS SYSTEM_PARAM"});
  auto db = connect();
  CCMEParameterDBStore store(*db, u"", nullptr, 0);
  try {
    store.load();
    FAIL() << "no exception";
  } catch (const QRMSQL_Exception& e) {
    ASSERT_GE(e.entryCount(), 2);
    const QRM_Exception_Entry& last = e.entry(e.entryCount() - 1);
    EXPECT_EQ(toStdString(last.text()),
              "Failed to load general configuration, please check the SYSTEM_PARAM file or table!");
    EXPECT_EQ(last.number(), 0u);
    EXPECT_EQ(last.severity(), -1);
    icu::UnicodeString first(e.entry(0).text());
    EXPECT_NE(first.toLower().indexOf(u"system_param"), -1) << toStdString(e.entry(0).text());
    EXPECT_GE(e.severity(), 3);
  }
  EXPECT_TRUE(store.records().empty());
}

// With a connection the table is merged over the .ini file, and the definitions given reach the sources:
// a hidden parameter's values stay out of the conflict report.
TEST_P(SystemParamStore, BuildingWithAConnectionMergesTheTableOverTheIniFile) {
  auto db = open({"'ATTR_URI', 'NAME', 'http://db/name', NULL, 'STRING'",
                  "'DB', 'PASSWORD', 'from-table', NULL, 'STRING'"});
  test::TempDir dir;
  const std::string ini = dir.write(
      "app.ini", "[ATTR_URI]\nNAME=http://ini/name\nPHONE=http://ini/phone\n[DB]\nPASSWORD=from-ini\n");
  const CCMEParameterDef defs[] = {{"DB", "PASSWORD", "STRING", "", "", "N", "Y"}};
  CCMEParameterMemoryStore destination;
  test::CapturingDispatcher log;
  buildParameterStore(destination, db.get(), ini.c_str(), u"", defs, 1);
  EXPECT_EQ(toStdString(destination.getParameter(u"ATTR_URI", u"NAME")), "http://db/name");
  EXPECT_EQ(toStdString(destination.getParameter(u"ATTR_URI", u"PHONE")), "http://ini/phone");
  EXPECT_EQ(toStdString(destination.getParameter(u"DB", u"PASSWORD")), "from-table");
  const std::vector<std::string> lines = log.allLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  [...]"), lines.end());
  for (const std::string& line : lines) EXPECT_EQ(line.find("from-"), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(Databases, SystemParamStore, ::testing::Values("pg", "sqlite"));

}  // namespace
}  // namespace hcs
