#include "config/config_report.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/build_store.h"
#include "error/qrm_exception.h"
#include "support/capturing_dispatcher.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

const char* kHeading = "The following issues were identitified during configuration loading:";

void put(CCMEParameterStore& store, const char16_t* group, const char16_t* name, const char16_t* value,
         ParameterDataType type = ParameterDataType::STRING) {
  store.setValue(group, name, value, true)->storeType = type;
}

std::vector<std::string> entryTexts(const QRM_Exception& e) {
  std::vector<std::string> texts;
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

struct ConflictCase {
  const char* label;
  ParameterDataType databaseType;
  ParameterDataType iniType;
  const char16_t* databaseValue;
  const char16_t* iniValue;
  bool conflict;
};

class CheckConflicts : public ::testing::TestWithParam<ConflictCase> {};

TEST_P(CheckConflicts, ComparesByTheTypeEitherSideDeclares) {
  const ConflictCase& c = GetParam();
  CCMEParameterMemoryStore database, ini;
  put(database, u"App", u"Flag", c.databaseValue, c.databaseType);
  put(ini, u"APP", u"FLAG", c.iniValue, c.iniType);
  test::CapturingDispatcher log;
  checkConflicts(database, ini);
  const auto entries = log.entries();
  if (!c.conflict) {
    EXPECT_TRUE(entries.empty());
    return;
  }
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].level, kLogWarning);
  const std::vector<std::string> expected{
      "CRITICAL ERROR: ", "{", std::string("  ") + kHeading, "    Conflicting parameters: ",
      "      App:Flag (Flag) [" + toStdString(c.databaseValue) + "] vs. [" + toStdString(c.iniValue) + "]", "}"};
  EXPECT_EQ(entries[0].lines, expected);
}

using T = ParameterDataType;
INSTANTIATE_TEST_SUITE_P(
    Table, CheckConflicts,
    ::testing::Values(ConflictCase{"SameText", T::STRING, T::STRING, u"abc", u"abc", false},
                      ConflictCase{"StringCase", T::STRING, T::STRING, u"abc", u"ABC", true},
                      ConflictCase{"BoolSpellings", T::BOOLEAN, T::STRING, u"Y", u"yes", false},
                      ConflictCase{"BoolOnIniSide", T::STRING, T::BOOLEAN, u"true", u"1", false},
                      ConflictCase{"BoolDiffers", T::BOOLEAN, T::BOOLEAN, u"Y", u"no", true},
                      ConflictCase{"IntLeadingZero", T::INTEGER, T::STRING, u"010", u"10", false},
                      ConflictCase{"IntDiffers", T::STRING, T::INTEGER, u"5", u"6", true},
                      ConflictCase{"BoolWinsOverInt", T::BOOLEAN, T::INTEGER, u"2", u"no", false},
                      ConflictCase{"EmptyAgainstValue", T::STRING, T::STRING, u"", u"x", true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(CheckConflictsReport, HidesHiddenValuesAndUsesTheDescription) {
  const CCMEParameterDef defs[] = {{"DB", "PASSWORD", "STRING", "", "", "N", "Y"},
                                   {"DB", "USER", "STRING", "login name", "", "N", "N"},
                                   {"DB", "ONLY_HERE", "STRING", "", "", "N", "N"}};
  CCMEParameterMemoryStore database, ini;
  database.setup(u"", defs, 3);
  database.setValue(u"DB", u"PASSWORD", u"s3cret", false);
  database.setValue(u"DB", u"USER", u"alice", false);
  put(ini, u"DB", u"PASSWORD", u"hunter2");
  put(ini, u"DB", u"USER", u"bob");
  // A database record without a value, or an .ini record without one, is no conflict.
  ini.setValue(u"DB", u"ONLY_HERE", u"x", true)->hasValue = true;
  test::CapturingDispatcher log;
  checkConflicts(database, ini);
  const std::vector<std::string> lines = log.allLines();
  const std::vector<std::string> expected{"CRITICAL ERROR: ",
                                          "{",
                                          std::string("  ") + kHeading,
                                          "    Conflicting parameters: ",
                                          "  [...]",
                                          "      DB:USER (login name) [alice] vs. [bob]",
                                          "}"};
  EXPECT_EQ(lines, expected);
}

TEST(ValidateStore, ReportsMissingAndMismatchedDefinitionsInKeyOrder) {
  const CCMEParameterDef defs[] = {{"APP", "TIMEOUT", "INTEGER", "", "", "N", "N"},
                                   {"APP", "URL", "STRING", "", "", "Y", "N"},
                                   {"APP", "ALPHA", "STRING", "", "", "Y", "N"},
                                   {"APP", "SECRET", "STRING", "", "", "Y", "Y"},
                                   {"APP", "RETRY", "BOOLEAN", "", "", "N", "N"}};
  CCMEParameterMemoryStore store;
  store.setup(u"", defs, 5);
  store.findRecord(u"APP:TIMEOUT")->storeType = ParameterDataType::STRING;
  store.findRecord(u"APP:RETRY")->storeType = static_cast<ParameterDataType>(7);
  try {
    validateStore(store);
    FAIL() << "no report";
  } catch (const QRM_Exception& e) {
    EXPECT_EQ(e.severity(), 4);
    const std::vector<std::string> expected{kHeading,
                                            "  Missing required parameters: ",
                                            "ALPHA",
                                            "URL",
                                            "  Datatype mismatch (programmed vs. store): ",
                                            "Group: APP Name: RETRY [BOOLEAN] vs. [UNKNOWN TYPE]",
                                            "Group: APP Name: TIMEOUT [INTEGER] vs. [STRING]"};
    EXPECT_EQ(entryTexts(e), expected);
  }
}

TEST(ValidateStore, HiddenFaultsFailWithoutNamingAnything) {
  const CCMEParameterDef defs[] = {{"APP", "SECRET", "STRING", "", "", "Y", "Y"}};
  CCMEParameterMemoryStore store;
  store.setup(u"", defs, 1);
  try {
    validateStore(store);
    FAIL() << "no report";
  } catch (const QRM_Exception& e) {
    EXPECT_EQ(entryTexts(e), std::vector<std::string>{kHeading});
  }
  store.setValue(u"APP", u"SECRET", u"x", false);
  EXPECT_NO_THROW(validateStore(store));
}

TEST(MergeStores, DatabaseWinsIniFillsGapsAndDefaultsAreLogged) {
  const CCMEParameterDef defs[] = {{"ATTR_URI", "FAX", "STRING", "", "none", "N", "N"},
                                   {"ATTR_URI", "PHONE", "STRING", "", "", "N", "N"},
                                   {"ATTR_URI", "KEY", "STRING", "", "", "N", "Y"}};
  CCMEParameterMemoryStore destination, database, ini;
  destination.setup(u"", defs, 3);
  database.setSection(u"MYAPP");
  put(database, u"ATTR_URI", u"NAME", u"http://db/name");
  put(ini, u"attr_uri", u"name", u"http://ini/name");
  put(ini, u"ATTR_URI", u"phone", u"http://ini/phone");
  put(ini, u"Extra", u"Only", u"ini");
  test::CapturingDispatcher log;
  mergeStores(destination, database, ini);

  EXPECT_EQ(toStdString(destination.section()), "MYAPP");
  EXPECT_EQ(toStdString(destination.getParameter(u"ATTR_URI", u"NAME")), "http://db/name");
  EXPECT_EQ(toStdString(destination.getParameter(u"ATTR_URI", u"PHONE")), "http://ini/phone");
  EXPECT_EQ(toStdString(destination.getParameter(u"EXTRA", u"ONLY")), "ini");
  EXPECT_EQ(toStdString(destination.getParameter(u"ATTR_URI", u"FAX")), "none");
  EXPECT_TRUE(destination.findRecord(u"ATTR_URI:PHONE")->programmed);

  const std::vector<std::string> lines = log.allLines();
  // One conflict (NAME), one defaulted notice (FAX); the hidden KEY is never mentioned.
  EXPECT_NE(std::find(lines.begin(), lines.end(), "      ATTR_URI:NAME (NAME) [http://db/name] vs. [http://ini/name]"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Defaulted parameter [FAX] in section [ATTR_URI], using value [none]"),
            lines.end());
  for (const std::string& line : lines) EXPECT_EQ(line.find("KEY"), std::string::npos) << line;
}

}  // namespace
}  // namespace hcs
