#include "config/config_report.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "config/build_store.h"
#include "error/qrm_exception.h"
#include "support/capturing_dispatcher.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

using Lines = std::vector<std::string>;
const std::string kHeading = "The following issues were identitified during configuration loading:";

void put(CCMEParameterStore& store, const char16_t* group, const char16_t* name, const char16_t* value,
         ParameterDataType type = ParameterDataType::STRING) {
  store.setValue(group, name, value, true)->storeType = type;
}

Lines entryTexts(const QRM_Exception& e) {
  Lines texts;
  for (int32_t i = 0; i < e.entryCount(); ++i) texts.push_back(toStdString(e.entry(i).text()));
  return texts;
}

TEST(ParseBool, AcceptsTheYesSpellingsOnly) {
  for (const char16_t* yes : {u"YES", u"yes", u"Y", u"y", u"TRUE", u"true", u"T", u"t", u"1"}) {
    EXPECT_TRUE(parseBool(yes)) << toStdString(yes);
  }
  for (const char16_t* no : {u"", u"no", u"N", u"0", u"2", u"on", u" yes", u"yes ", u"TRUEISH"}) {
    EXPECT_FALSE(parseBool(no)) << toStdString(no);
  }
}

TEST(CheckConflicts, ComparesByTheTypeEitherSideDeclares) {
  using T = ParameterDataType;
  // database type, .ini type, database value, .ini value, conflict
  // clang-format off
  const std::tuple<T, T, const char16_t*, const char16_t*, bool> cases[] = {
      {T::STRING, T::STRING, u"abc", u"abc", false},   {T::STRING, T::STRING, u"abc", u"ABC", true},
      {T::BOOLEAN, T::STRING, u"Y", u"yes", false},    {T::STRING, T::BOOLEAN, u"true", u"1", false},
      {T::BOOLEAN, T::BOOLEAN, u"Y", u"no", true},     {T::INTEGER, T::STRING, u"010", u"10", false},
      {T::STRING, T::INTEGER, u"5", u"6", true},       {T::BOOLEAN, T::INTEGER, u"2", u"no", false},
      {T::STRING, T::STRING, u"", u"x", true}};
  // clang-format on
  for (const auto& [databaseType, iniType, databaseValue, iniValue, conflict] : cases) {
    CCMEParameterMemoryStore database, ini;
    put(database, u"App", u"Flag", databaseValue, databaseType);
    put(ini, u"APP", u"FLAG", iniValue, iniType);
    test::CapturingDispatcher log;
    checkConflicts(database, ini);
    const std::string pair = "[" + toStdString(databaseValue) + "] vs. [" + toStdString(iniValue) + "]";
    const auto entries = log.entries();
    ASSERT_EQ(entries.size(), conflict ? 1u : 0u) << pair;
    if (!conflict) continue;
    EXPECT_EQ(entries[0].level, kLogWarning);
    EXPECT_EQ(entries[0].lines,
              (Lines{"CRITICAL ERROR: ", "{", "  " + kHeading,
                     "    Conflicting parameters: ", "      App:Flag (Flag) " + pair, "}"}));
  }
}

// Missing required values and type mismatches, in key order; hidden records make loading fail too but
// are never named.
TEST(ValidateStore, ReportsMissingAndMismatchedDefinitionsHiddenOnesUnnamed) {
  const CCMEParameterDef defs[] = {{"APP", "TIMEOUT", "INTEGER", "", "", "N", "N"},
                                   {"APP", "URL", "STRING", "", "", "Y", "N"},
                                   {"APP", "ALPHA", "STRING", "", "", "Y", "N"},
                                   {"APP", "SECRET", "STRING", "", "", "Y", "Y"},
                                   {"APP", "RETRY", "BOOLEAN", "", "", "N", "N"}};
  CCMEParameterMemoryStore store;
  store.setup(u"", defs, 5);
  store.findRecord(u"APP:TIMEOUT")->storeType = ParameterDataType::STRING;
  store.findRecord(u"APP:RETRY")->storeType = static_cast<ParameterDataType>(7);
  CCMEParameterMemoryStore hidden;
  hidden.setup(u"", defs + 3, 1);
  const std::pair<CCMEParameterStore*, Lines> cases[] = {
      {&store,
       {kHeading, "  Missing required parameters: ", "ALPHA", "URL",
        "  Datatype mismatch (programmed vs. store): ", "Group: APP Name: RETRY [BOOLEAN] vs. [UNKNOWN TYPE]",
        "Group: APP Name: TIMEOUT [INTEGER] vs. [STRING]"}},
      {&hidden, {kHeading}}};
  for (const auto& [faulty, expected] : cases) {
    try {
      validateStore(*faulty);
      ADD_FAILURE() << "no report for " << expected.back();
    } catch (const QRM_Exception& e) {
      EXPECT_EQ(e.severity(), 4);
      EXPECT_EQ(entryTexts(e), expected);
    }
  }
  hidden.setValue(u"APP", u"SECRET", u"x", false);
  EXPECT_NO_THROW(validateStore(hidden));
}

// The database wins and the .ini file fills gaps; conflicts are reported (hidden values as "[...]", each
// parameter by its description), defaults noted (hidden ones never), and the result validated last.
TEST(MergeStores, DatabaseWinsIniFillsGapsConflictsAndDefaultsAreLoggedThenTheResultIsValidated) {
  const CCMEParameterDef destinationDefs[] = {{"ATTR_URI", "FAX", "STRING", "", "none", "N", "N"},
                                              {"ATTR_URI", "PHONE", "STRING", "", "", "N", "N"},
                                              {"ATTR_URI", "KEY", "STRING", "", "", "N", "Y"},
                                              {"ATTR_URI", "REQUIRED", "STRING", "", "", "Y", "N"}};
  const CCMEParameterDef databaseDefs[] = {{"DB", "PASSWORD", "STRING", "", "", "N", "Y"},
                                           {"DB", "USER", "STRING", "login name", "", "N", "N"},
                                           {"DB", "ONLY_HERE", "STRING", "", "", "N", "N"}};
  CCMEParameterMemoryStore destination, database, ini;
  destination.setup(u"", destinationDefs, 4);
  database.setup(u"", databaseDefs, 3);
  database.setSection(u"MYAPP");
  database.setValue(u"DB", u"PASSWORD", u"s3cret", false);
  database.setValue(u"DB", u"USER", u"alice", false);
  put(database, u"ATTR_URI", u"NAME", u"http://db/name");
  put(ini, u"attr_uri", u"name", u"http://ini/name");
  put(ini, u"ATTR_URI", u"phone", u"http://ini/phone");
  put(ini, u"Extra", u"Only", u"ini");
  put(ini, u"DB", u"PASSWORD", u"hunter2");
  put(ini, u"DB", u"USER", u"bob");
  put(ini, u"DB", u"ONLY_HERE", u"x");  // no database value: no conflict
  test::CapturingDispatcher log;
  try {
    mergeStores(destination, database, ini);  // validated last: the destination is filled all the same
    ADD_FAILURE() << "no report";
  } catch (const QRM_Exception& e) {
    EXPECT_EQ(entryTexts(e), (Lines{kHeading, "  Missing required parameters: ", "REQUIRED"}));
  }
  EXPECT_EQ(toStdString(destination.section()), "MYAPP");
  EXPECT_EQ(toStdString(destination.getParameter(u"ATTR_URI", u"NAME")), "http://db/name");
  EXPECT_EQ(toStdString(destination.getParameter(u"ATTR_URI", u"PHONE")), "http://ini/phone");
  EXPECT_EQ(toStdString(destination.getParameter(u"EXTRA", u"ONLY")), "ini");
  EXPECT_EQ(toStdString(destination.getParameter(u"ATTR_URI", u"FAX")), "none");
  EXPECT_TRUE(destination.findRecord(u"ATTR_URI:PHONE")->programmed);
  EXPECT_EQ(log.allLines(), (Lines{"CRITICAL ERROR: ", "{", "  " + kHeading, "    Conflicting parameters: ",
                                   "      ATTR_URI:NAME (NAME) [http://db/name] vs. [http://ini/name]",
                                   "  [...]", "      DB:USER (login name) [alice] vs. [bob]", "}",
                                   "Defaulted parameter [FAX] in section [ATTR_URI], using value [none]"}));
}

}  // namespace
}  // namespace hcs
