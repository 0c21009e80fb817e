#include "config/db_store.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/build_store.h"
#include "config/config_source.h"
#include "config/ini_fixture.h"
#include "db/qrm_cursor.h"
#include "db/qrm_db.h"
#include "db/qrm_mem_table.h"
#include "error/qrm_exception.h"
#include "support/capturing_dispatcher.h"
#include "support/database_fixture.h"
#include "support/db_targets.h"
#include "support/scripted_database.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

const char* kSelect = "SELECT PARAM_GROUP, PARAM_CODE, CURRENT_VALUE, DEFAULT_VALUE, DATA_TYPE FROM SYSTEM_PARAM";
const char* kFailedLoad = "Failed to load general configuration, please check the SYSTEM_PARAM file or table!";

TEST(DBConfig, SelectTextJoinsTheColumnsWithoutFilterOrOrder) {
  EXPECT_EQ(toStdString(DBConfig::selectText(u"SYSTEM_PARAM", {u"PARAM_GROUP", u"PARAM_CODE", u"CURRENT_VALUE",
                                                               u"DEFAULT_VALUE", u"DATA_TYPE"})),
            kSelect);
  EXPECT_EQ(toStdString(DBConfig::selectText(u"T", {u"A"})), "SELECT A FROM T");
}

// The SYSTEM_PARAM table on a real database, rebuilt for every test.
class SystemParamStore : public test::RealDatabaseTest {
 protected:
  void table(const std::vector<std::string>& rows) { test::createSystemParam(target_, rows); }

  std::unique_ptr<QRMDB> open() {
    auto db = std::make_unique<QRMDB>(UCString(target_.uri));
    EXPECT_EQ(db->open(), 0);
    return db;
  }
};

TEST_P(SystemParamStore, ReadsEveryRowOneParameterPerKeyLastRowWinning) {
  table({"'ATTR_URI', 'phone', 'http://first/phone', 'http://default', 'STRING'",
         "'attr_uri', 'PHONE', 'http://second/phone', NULL, 'string'",
         "'LIMITS', 'RETRIES', '3', '1', 'integer'",
         "'LIMITS', 'VERBOSE', 'Y', 'N', 'BOOLEAN'",
         "'LIMITS', 'ODD', 'x', 'y', 'DECIMAL'",
         "'LIMITS', 'UNSET', NULL, 'fallback', 'STRING'"});
  auto db = open();
  test::CapturingDispatcher log;
  CCMEParameterDBStore store(*db, u"", nullptr, 0);
  EXPECT_TRUE(store.records().empty());  // no application name: setup does not read the table
  store.load();
  EXPECT_EQ(store.records().size(), 5u);
  EXPECT_EQ(toStdString(store.getParameter(u"Attr_Uri", u"phone")), "http://second/phone");
  const CCMEParameterRecord* phone = store.findRecord(u"ATTR_URI:PHONE");
  EXPECT_EQ(toStdString(phone->group), "ATTR_URI");  // the first row created the record
  struct TypeCase {
    const char16_t* key;
    ParameterDataType type;
  };
  for (const TypeCase& c : {TypeCase{u"LIMITS:RETRIES", ParameterDataType::INTEGER},
                            TypeCase{u"LIMITS:VERBOSE", ParameterDataType::BOOLEAN},
                            TypeCase{u"LIMITS:ODD", ParameterDataType::STRING}}) {
    EXPECT_EQ(store.findRecord(c.key)->storeType, c.type) << toStdString(c.key);
  }
  const CCMEParameterRecord* unset = store.findRecord(u"LIMITS:UNSET");
  EXPECT_TRUE(unset->hasValue);  // NULL is a value: DEFAULT_VALUE never becomes the default
  EXPECT_EQ(toStdString(unset->value()), "");
  EXPECT_EQ(log.allLines(), std::vector<std::string>{"Reading configuration from SYSTEM_PARAM..."});
  EXPECT_EQ(log.entries().at(0).level, kLogDebug);
}

TEST_P(SystemParamStore, ApplicationNameChoosesTheSectionFromTheTable) {
  table({"'MYAPP', 'TIMEOUT', '5', NULL, 'INTEGER'"});
  auto db = open();
  const CCMEParameterDef defs[] = {{"*", "TIMEOUT", "INTEGER", "", "10", "N", "N"}};
  CCMEParameterDBStore store(*db, u"MYAPP", defs, 1);
  EXPECT_EQ(toStdString(store.section()), "MYAPP");
  EXPECT_EQ(toStdString(store.getParameter(u"*", u"TIMEOUT")), "10");  // setup kept only the definition
  store.load();
  EXPECT_EQ(toStdString(store.getParameter(u"*", u"TIMEOUT")), "5");
  EXPECT_TRUE(store.findRecord(u"MYAPP:TIMEOUT")->programmed);
}

TEST_P(SystemParamStore, EmptyTableGivesAnEmptyStore) {
  table({});
  auto db = open();
  CCMEParameterDBStore store(*db, u"MYAPP", nullptr, 0);
  store.load();
  EXPECT_TRUE(store.records().empty());
  try {
    store.getParameter(u"ATTR_URI", u"phone");
    FAIL() << "no exception";
  } catch (const QRM_Exception& e) {
    EXPECT_EQ(test::describe(e), "9107E|Cannot get parameter [ATTR_URI:PHONE] from parameter store|4");
  }
}

TEST_P(SystemParamStore, MissingTableFailsWithTheDatabaseEntriesFirst) {
  test::runCommitted(target_, {"DROP TABLE IF EXISTS SYSTEM_PARAM"});
  auto db = open();
  CCMEParameterDBStore store(*db, u"", nullptr, 0);
  try {
    store.load();
    FAIL() << "no exception";
  } catch (const QRMSQL_Exception& e) {
    ASSERT_GE(e.entryCount(), 2);
    EXPECT_EQ(toStdString(e.entry(e.entryCount() - 1).text()), kFailedLoad);
    icu::UnicodeString first(e.entry(0).text());
    EXPECT_NE(first.toLower().indexOf(u"system_param"), -1) << toStdString(e.entry(0).text());
    EXPECT_GE(e.severity(), 3);
  }
  EXPECT_TRUE(store.records().empty());
}

TEST_P(SystemParamStore, BuildingAPreparedDestinationReportsHiddenConflictsAndFailsValidation) {
  table({"'DB', 'PASSWORD', 'from-table', NULL, 'STRING'", "'LIMITS', 'RETRIES', '3', NULL, 'STRING'"});
  test::TempDir dir;
  const std::string ini = dir.write("app.ini", "[DB]\nPASSWORD=from-ini\n[LIMITS]\nRETRIES=03\n");
  auto db = open();
  // The sources learn from this table that PASSWORD is hidden; the destination carries its own rules.
  const CCMEParameterDef sourceDefs[] = {{"DB", "PASSWORD", "STRING", "", "", "N", "Y"}};
  const CCMEParameterDef destinationDefs[] = {{"LIMITS", "RETRIES", "INTEGER", "", "", "N", "N"},
                                              {"LIMITS", "TIMEOUT", "INTEGER", "", "", "Y", "N"}};
  CCMEParameterMemoryStore destination;
  destination.setup(u"", destinationDefs, 2);
  // Copying values never touches types, so a mismatch is one the destination's creator brought along.
  destination.findRecord(u"LIMITS:RETRIES")->storeType = ParameterDataType::STRING;
  test::CapturingDispatcher log;
  try {
    buildParameterStore(destination, db.get(), ini.c_str(), u"", sourceDefs, 1);
    FAIL() << "no report";
  } catch (const QRM_Exception& e) {
    std::vector<std::string> texts;
    for (int32_t i = 0; i < e.entryCount(); ++i) texts.push_back(toStdString(e.entry(i).text()));
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "The following issues were identitified during configuration loading:",
                         "  Missing required parameters: ", "TIMEOUT",
                         "  Datatype mismatch (programmed vs. store): ",
                         "Group: LIMITS Name: RETRIES [INTEGER] vs. [STRING]"}));
  }
  // The hidden PASSWORD conflicts, but its values reach no log line.
  for (const std::string& line : log.allLines()) EXPECT_EQ(line.find("from-"), std::string::npos) << line;
  EXPECT_EQ(toStdString(destination.getParameter(u"DB", u"PASSWORD")), "from-table");
}

INSTANTIATE_TEST_SUITE_P(Databases, SystemParamStore, ::testing::Values("pg", "sqlite"));

class ScriptedSystemParam : public ::testing::Test {
 protected:
  void SetUp() override {
    DBIndexer::instance().reset();
    server_->on("SELECT  @@VERSION", test::textRows("v", {"Microsoft SQL Server 2005"}));
  }
  void TearDown() override { DBIndexer::instance().reset(); }

  std::shared_ptr<test::ScriptedServer> server_ = std::make_shared<test::ScriptedServer>();
  test::ScriptedDatabaseScope scope_{server_};
};

struct FailureCase {
  const char* label;
  int32_t native;
  bool thrown;
};

class ScriptedSystemParamFailure : public ScriptedSystemParam, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ScriptedSystemParamFailure, SevereFailuresLeaveWithTheEntryAddedLesserOnesLeaveNoRows) {
  server_->on(kSelect, test::nativeFailure(GetParam().native, "vendor says no"));
  QRMDB db(u"mssql://sa:pw@server/");
  ASSERT_EQ(db.open(), 0);
  CCMEParameterDBStore store(db, u"", nullptr, 0);
  if (!GetParam().thrown) {
    EXPECT_NO_THROW(store.load());
    EXPECT_TRUE(store.records().empty());
    return;
  }
  try {
    store.load();
    FAIL() << "no exception";
  } catch (const QRMSQL_Exception& e) {
    EXPECT_EQ(e.vendorCode(), static_cast<uint32_t>(GetParam().native));
    ASSERT_GE(e.entryCount(), 2);
    const QRM_Exception_Entry& last = e.entry(e.entryCount() - 1);
    EXPECT_EQ(toStdString(last.text()), kFailedLoad);
    EXPECT_EQ(last.number(), 0u);
    EXPECT_EQ(last.severity(), -1);
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, ScriptedSystemParamFailure,
                         ::testing::Values(FailureCase{"Deadlock", 1205, true}, FailureCase{"NoObject", 208, true},
                                           FailureCase{"Duplicate", 2627, false}),
                         [](const auto& info) { return std::string(info.param.label); });

class CountingVisitor : public CRowVisitor {
 public:
  void visit(QRMCursor& cursor) override { values.push_back(toStdString(cursor.value(0))); }
  std::vector<std::string> values;
};

TEST_F(ScriptedSystemParam, NumberedQueriesAreEmptyAndRunNothing) {
  QRMDB db(u"mssql://sa:pw@server/");
  ASSERT_EQ(db.open(), 0);
  DBConfig source(db);
  const size_t before = server_->executed.size();
  for (int32_t number : {0, 1, 6, 7, -1}) {
    EXPECT_TRUE(DBConfig::queryText(number).isEmpty());
    CountingVisitor visitor;
    EXPECT_EQ(source.forEachQueryRow(number, visitor), 0);
    EXPECT_TRUE(visitor.values.empty());
    EXPECT_FALSE(source.openQuery(number)->isValid());
  }
  EXPECT_EQ(server_->executed.size(), before);
}

TEST_F(ScriptedSystemParam, ForEachRowVisitsEveryRowInOrder) {
  server_->on("SELECT NAME FROM T", test::textRows("NAME", {"a", "b", "c"}));
  QRMDB db(u"mssql://sa:pw@server/");
  ASSERT_EQ(db.open(), 0);
  CountingVisitor visitor;
  EXPECT_EQ(DBConfig(db).forEachRow(u"T", {u"NAME"}, visitor), 0);
  EXPECT_EQ(visitor.values, (std::vector<std::string>{"a", "b", "c"}));
}

}  // namespace
}  // namespace hcs
