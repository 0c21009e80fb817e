// The configuration stores and the rules that compare them; the SYSTEM_PARAM store is db_store_test's.
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "config/config_report.h"
#include "config/ini_fixture.h"
#include "config/ini_store.h"
#include "config/parameter_store.h"
#include "error/qrm_exception.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

std::string str(const icu::UnicodeString& text) { return toStdString(text); }

std::optional<std::string> lookup(const CCMEParameterStore& store, const std::string& group,
                                  const std::string& name) {
  try {
    return str(store.getParameter(UCString(group), UCString(name)));
  } catch (const QRM_Exception&) {
    return std::nullopt;
  }
}

TEST(IniStore, LinesAreReadByTheFileRules) {
  const std::optional<std::string> none;
  // file content, group, name, value read
  // clang-format off
  const std::tuple<const char*, const char*, const char*, std::optional<std::string>> cases[] = {
      {"[ATTR_URI]\nPHONE   =   http://h:8080/score  \n", "ATTR_URI", "phone", "http://h:8080/score"},
      {"\t[S]\r\n\tK\t=\tv w\t\r\n", "S", "K", "v w"},  {"[S]\na=b=c\n", "S", "A", "b=c"},
      {"[S]\n=v\n", "S", "", "v"},                      {"[S]\nK=\n", "S", "K", ""},
      {"K=v\n[S]\n", "", "K", "v"},                     {"[S]\nK v\n", "S", "", none},
      {"[S]\n   #K=v\n", "S", "#K", none},              {"[S]\n;K=v\n", "S", ";K", "v"},
      {"[S]\nK v\nK2=x\n", "S", "K v", none},           {"[attr_uri]\nPhone=x\n", "ATTR_URI", "PHONE", "x"},
      {"[SECTIONX\nK=v\n", "SECTION", "K", "v"},        {"[S]=x\nK=v\n", "S]=", "K", "v"},
      {"[S]\n[\nK=v\n", "", "K", "v"},                  {"[S]\nK=Zoë ≠ Zoe\n", "S", "K", "Zoë ≠ Zoe"}};
  // clang-format on
  for (const auto& [content, group, name, expected] : cases) {
    test::TempDir dir;
    CCMEParameterINIStore store(dir.write("t.ini", content).c_str(), u"", nullptr, 0);
    store.load();
    EXPECT_EQ(lookup(store, group, name), expected) << content;
  }
}

TEST(IniStore, LongLinesAreReadInPiecesOf1499Bytes) {
  // 1600 bytes: the first 1499 are one line, the last 101 another (and that one is a parameter too).
  const std::string longLine = "A=" + std::string(1497, 'x') + "B=" + std::string(99, 'y');
  // Exactly 1499 bytes: one line, and the line end alone makes an empty line after it.
  const std::string exactLine = "C=" + std::string(1497, 'z');
  test::TempDir dir;
  CCMEParameterINIStore store(dir.write("t.ini", "[S]\n" + longLine + "\n" + exactLine + "\nD=d\n").c_str(),
                              u"", nullptr, 0);
  store.load();
  EXPECT_EQ(lookup(store, "S", "A"), std::string(1497, 'x'));
  EXPECT_EQ(lookup(store, "S", "B"), std::string(99, 'y'));
  EXPECT_EQ(lookup(store, "S", "C"), std::string(1497, 'z'));
  EXPECT_EQ(lookup(store, "S", "D"), "d");
  EXPECT_EQ(store.records().size(), 4u);
}

TEST(IniStore, SaveWritesUpperCaseKeysInKeyOrderOneHeaderPerSection) {
  test::TempDir dir;
  const std::string path = dir.write("t.ini",
                                     "# comment dropped\ntop = level\n[attributes]\nzeta=1\n"
                                     "[attr_uri]\nphone = http://h/p?a=b\n[ATTRIBUTES]\nalpha=2\n");
  CCMEParameterINIStore store(path.c_str(), u"", nullptr, 0);
  store.load();
  store.save();
  // The section-less key ":TOP" comes first and needs no header.
  EXPECT_EQ(test::TempDir::read(path),
            "TOP=level\n[ATTR_URI]\nPHONE=http://h/p?a=b\n[ATTRIBUTES]\nALPHA=2\nZETA=1\n");
  EXPECT_EQ(CCMEParameterINIStore(nullptr, u"", nullptr, 0).fileName(), ".ini");  // the process default
}

// Unnumbered, so the log shows no tag. With an application name the constructor reads the file already; a
// directory opens but cannot be read; a full disk shows only when the file is closed.
TEST(IniStore, FileFailuresAreCriticalRecordsNamingTheFile) {
  test::TempDir dir;
  std::filesystem::create_directory(dir.file("subdir"));
  const std::string read = "9113E Failed to open ini file for reading [",
                    write = "9112E Failed to open ini file for writing [";
  // file name, application name, save (else load), text
  const std::tuple<std::string, const char16_t*, bool, std::string> cases[] = {
      {dir.file("missing.ini"), u"APP", false, read},
      {dir.file("subdir"), u"", false, read},
      {dir.file("none/out.ini"), u"", true, write},
      {"/dev/full", u"", true, write}};
  for (const auto& [path, app, save, text] : cases) {
    try {
      CCMEParameterINIStore store(path.c_str(), app, nullptr, 0);
      store.setValue(u"S", u"K", u"v", true);
      save ? store.save() : store.load();
      ADD_FAILURE() << "no exception for " << path;
    } catch (const QRM_Exception& e) {
      EXPECT_EQ(str(e.entry(0).message().code()) + " " + str(e.entry(0).text()), text + path + "]");
      EXPECT_EQ(e.severity(), kSeverityCritical) << path;
      EXPECT_EQ(e.entry(0).number(), 0u) << path;
    }
  }
}

std::vector<std::string> keys(const CCMEParameterStore& store) {
  std::vector<std::string> out;
  for (const auto& [key, record] : store.records()) out.push_back(str(key));
  return out;
}

// Keys are upper-cased and compared case-folded ('_' sorts before 'I' folded, after it upper-cased):
// spellings that differ in case are one parameter, whose record keeps the spelling first written.
TEST(ParameterStore, KeysIgnoreCaseAndSortCaseFolded) {
  CCMEParameterMemoryStore store;
  store.setValue(u"ATTRIBUTES", u"X", u"1", true);
  store.setValue(u"Attr_Uri", u"Phone", u"first", true);
  store.setValue(u"attr_uri", u"phone", u"second", true);
  store.setValue(u"A", u"X", u"3", true);
  EXPECT_EQ(keys(store), (std::vector<std::string>{"A:X", "ATTR_URI:PHONE", "ATTRIBUTES:X"}));
  const CCMEParameterRecord* record = store.findRecord(u"attr_uri:phone");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(str(record->group) + ":" + str(record->name), "Attr_Uri:Phone");
  EXPECT_EQ(str(store.getParameter(u"aTTR_uRI", u"pHONE")), "second");
}

// The application's own section when the source has that group, spelt exactly; else the process's name.
TEST(ParameterStore, SetupChoosesTheSectionTheSourceKnows) {
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"MYAPP", "MYAPP"}, {u"myapp", "UNKNOWN_APP"}, {u"", "UNKNOWN_APP"}};
  for (const auto& [app, section] : cases) {
    CCMEParameterMemoryStore store;
    store.setValue(u"MYAPP", u"X", u"what the source holds", true);
    store.setup(app, nullptr, 0);
    EXPECT_EQ(str(store.section()), section) << str(app);
  }
}

TEST(ParseBool, AcceptsTheYesSpellingsOnly) {
  for (const char16_t* yes : {u"YES", u"yes", u"Y", u"y", u"TRUE", u"true", u"T", u"t", u"1"}) {
    EXPECT_TRUE(parseBool(yes)) << str(yes);
  }
  for (const char16_t* no : {u"", u"no", u"N", u"0", u"2", u"on", u" yes", u"yes ", u"TRUEISH"}) {
    EXPECT_FALSE(parseBool(no)) << str(no);
  }
}

// A .ini value is text; the DATA_TYPE the table gives decides how the two values are compared.
TEST(FindConflicts, ComparesByTheDatabaseType) {
  using T = ParameterDataType;
  // database type, database value, .ini value, conflict
  // clang-format off
  const std::tuple<T, const char16_t*, const char16_t*, bool> cases[] = {
      {T::STRING, u"abc", u"abc", false}, {T::STRING, u"abc", u"ABC", true},  {T::STRING, u"", u"x", true},
      {T::BOOLEAN, u"Y", u"yes", false},  {T::BOOLEAN, u"Y", u"no", true},    {T::INTEGER, u"010", u"10", false},
      {T::INTEGER, u"5", u"6", true}};
  // clang-format on
  for (const auto& [type, databaseValue, iniValue, conflict] : cases) {
    CCMEParameterMemoryStore database, ini;
    database.setValue(u"App", u"Flag", databaseValue, true)->storeType = type;
    ini.setValue(u"APP", u"FLAG", iniValue, true);
    EXPECT_EQ(findConflicts(database, ini).size(), conflict ? 1u : 0u)
        << "[" << str(databaseValue) << "] vs. [" << str(iniValue) << "]";
  }
}

}  // namespace
}  // namespace hcs
