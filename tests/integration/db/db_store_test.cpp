#include "config/db_store.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/build_store.h"
#include "config/ini_fixture.h"
#include "db/qrm_db.h"
#include "error/qrm_exception.h"
#include "support/capturing_dispatcher.h"
#include "support/database_fixture.h"
#include "support/db_targets.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

using Lines = std::vector<std::string>;

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
                  "'MYAPP', 'RETRIES', '3', '1', 'integer'", "'LIMITS', 'VERBOSE', 'Y', 'N', 'BOOLEAN'",
                  "'LIMITS', 'ODD', 'x', 'y', 'DECIMAL'", "'LIMITS', 'UNSET', NULL, 'fallback', 'STRING'"});
  test::CapturingDispatcher log;
  CCMEParameterDBStore store(*db, u"MYAPP", nullptr, 0);
  EXPECT_EQ(toStdString(store.section()), "MYAPP");
  store.load();
  EXPECT_EQ(store.records().size(), 5u);
  EXPECT_EQ(toStdString(store.getParameter(u"Attr_Uri", u"phone")), "http://second/phone");
  EXPECT_EQ(toStdString(store.findRecord(u"ATTR_URI:PHONE")->group), "ATTR_URI");
  for (const auto& [key, type] : {std::pair{u"MYAPP:RETRIES", ParameterDataType::INTEGER},
                                  std::pair{u"LIMITS:VERBOSE", ParameterDataType::BOOLEAN},
                                  std::pair{u"LIMITS:ODD", ParameterDataType::STRING}}) {
    EXPECT_EQ(store.findRecord(key)->storeType, type) << toStdString(key);
  }
  EXPECT_TRUE(store.findRecord(u"LIMITS:UNSET")->hasValue);
  EXPECT_EQ(toStdString(store.getParameter(u"LIMITS", u"UNSET")), "");
  EXPECT_EQ(log.allLines(), Lines(2, "Reading configuration from SYSTEM_PARAM..."));
  EXPECT_EQ(log.entries().at(0).level, kLogDebug);
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
    EXPECT_EQ(toStdString(e.entry(e.entryCount() - 1).text()),
              "Failed to load general configuration, please check the SYSTEM_PARAM file or table!");
    icu::UnicodeString first(e.entry(0).text());
    EXPECT_NE(first.toLower().indexOf(u"system_param"), -1) << toStdString(e.entry(0).text());
  }
  EXPECT_TRUE(store.records().empty());
}

// With a connection the table wins over the .ini file (keys differing in case are one parameter), keys
// only the file has are added, and values that differ by the table's type are reported.
TEST_P(SystemParamStore, BuildingWithAConnectionMergesTheTableOverTheIniFile) {
  auto db = open(
      {"'ATTR_URI', 'NAME', 'http://db/name', NULL, 'STRING'", "'MYAPP', 'RETRIES', '3', NULL, 'INTEGER'"});
  test::TempDir dir;
  const std::string ini =
      dir.write("app.ini", "[attr_uri]\nname=http://ini/name\nPHONE=http://ini/phone\n[MYAPP]\nretries=03\n");
  CCMEParameterMemoryStore destination;
  test::CapturingDispatcher log;
  buildParameterStore(destination, db.get(), ini.c_str(), u"MYAPP", nullptr, 0);
  EXPECT_EQ(toStdString(destination.section()), "MYAPP");
  EXPECT_EQ(toStdString(destination.getParameter(u"ATTR_URI", u"NAME")), "http://db/name");
  EXPECT_EQ(toStdString(destination.getParameter(u"ATTR_URI", u"PHONE")), "http://ini/phone");
  EXPECT_EQ(toStdString(destination.getParameter(u"MYAPP", u"RETRIES")), "3");
  const auto entries = log.entries();
  ASSERT_EQ(entries.size(), 3u);  // the table read twice, then the report
  EXPECT_EQ(entries[2].level, kLogWarning);
  EXPECT_EQ(entries[2].lines,
            (Lines{"CRITICAL ERROR: ", "{",
                   "  The following issues were identitified during configuration loading:",
                   "    Conflicting parameters: ",
                   "      ATTR_URI:NAME (NAME) [http://db/name] vs. [http://ini/name]", "}"}));
}

INSTANTIATE_TEST_SUITE_P(Databases, SystemParamStore, ::testing::Values("pg", "sqlite"));

}  // namespace
}  // namespace hcs
