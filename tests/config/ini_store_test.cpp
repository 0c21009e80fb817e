#include "config/ini_store.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "error/qrm_exception.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

std::optional<std::string> lookup(const CCMEParameterStore& store, const std::string& group,
                                  const std::string& name) {
  try {
    return toStdString(store.getParameter(UCString(group), UCString(name)));
  } catch (const QRM_Exception&) {
    return std::nullopt;
  }
}

struct LineCase {
  const char* label;
  std::string content;
  std::string group;
  std::string name;
  std::optional<std::string> expected;
};

class IniLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(IniLines, ReadByTheFileRules) {
  const LineCase& c = GetParam();
  test::TempDir dir;
  CCMEParameterINIStore store(dir.write("t.ini", c.content).c_str(), u"", nullptr, 0);
  store.load();
  EXPECT_EQ(lookup(store, c.group, c.name), c.expected) << c.content;
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniLines,
    ::testing::Values(LineCase{"BlanksAroundName", "[ATTR_URI]\nPHONE   =   http://h:8080/score  \n",
                               "ATTR_URI", "phone", "http://h:8080/score"},
                      LineCase{"TabsAndCrLf", "\t[S]\r\n\tK\t=\tv w\t\r\n", "S", "K", "v w"},
                      LineCase{"EqualsInValue", "[S]\na=b=c\n", "S", "A", "b=c"},
                      LineCase{"EmptyName", "[S]\n=v\n", "S", "", "v"},
                      LineCase{"EmptyValue", "[S]\nK=\n", "S", "K", ""},
                      LineCase{"BeforeAnyHeader", "K=v\n[S]\n", "", "K", "v"},
                      LineCase{"HashComment", "[S]\n# K=v\n", "S", "# K", std::nullopt},
                      LineCase{"IndentedHashComment", "[S]\n   #K=v\n", "S", "#K", std::nullopt},
                      LineCase{"SemicolonIsNoComment", "[S]\n;K=v\n", "S", ";K", "v"},
                      LineCase{"NoEqualsIgnored", "[S]\nK v\nK2=x\n", "S", "K v", std::nullopt},
                      LineCase{"SectionsIgnoreCase", "[attr_uri]\nPhone=x\n", "ATTR_URI", "PHONE", "x"},
                      LineCase{"LastValueWins", "[S]\nK=1\n[s]\nk=2\n", "S", "K", "2"},
                      LineCase{"BlanksInsideBrackets", "[ S ]\nK=v\n", " S ", "K", "v"},
                      LineCase{"MissingBracketLosesLastLetter", "[SECTIONX\nK=v\n", "SECTION", "K", "v"},
                      LineCase{"HeaderWinsOverEquals", "[S]=x\nK=v\n", "S]=", "K", "v"},
                      LineCase{"BareBracketIsEmptySection", "[S]\n[\nK=v\n", "", "K", "v"},
                      LineCase{"Utf8Value", "[S]\nK=Zoë ≠ Zoe\n", "S", "K", "Zoë ≠ Zoe"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(IniStore, RecordsKeepTheSpellingFirstWritten) {
  test::TempDir dir;
  CCMEParameterINIStore store(dir.write("t.ini", "[Attr_Uri]\nPhone=1\n[ATTR_URI]\nPHONE=2\n").c_str(), u"",
                              nullptr, 0);
  store.load();
  ASSERT_EQ(store.records().size(), 1u);
  const CCMEParameterRecord& record = store.records().begin()->second;
  EXPECT_EQ(toStdString(record.group), "Attr_Uri");
  EXPECT_EQ(toStdString(record.name), "Phone");
  EXPECT_EQ(toStdString(record.currentValue), "2");
}

TEST(IniStore, LongLinesAreReadInPiecesOf1499Bytes) {
  // 1600 bytes: the first 1499 are one line, the last 101 another (and that one is a parameter too).
  const std::string longLine = "A=" + std::string(1497, 'x') + "B=" + std::string(99, 'y');
  ASSERT_EQ(longLine.size(), 1600u);
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

TEST(IniStore, SaveAfterLoadWritesUpperCaseKeysInOrderOneHeaderPerSection) {
  test::TempDir dir;
  const std::string path = dir.write("t.ini",
                                     "# comment dropped\n"
                                     "top = level\n"
                                     "[attributes]\nzeta=1\n"
                                     "[attr_uri]\nphone = http://h/p?a=b\nname=http://h/n\n"
                                     "[ATTRIBUTES]\nalpha=2\n");
  CCMEParameterINIStore store(path.c_str(), u"", nullptr, 0);
  store.load();
  store.save();
  // The section-less key ":TOP" comes first and needs no header; ATTR_URI sorts before ATTRIBUTES
  // because keys compare case-folded ('_' before 'i').
  const std::string expected =
      "TOP=level\n"
      "[ATTR_URI]\nNAME=http://h/n\nPHONE=http://h/p?a=b\n"
      "[ATTRIBUTES]\nALPHA=2\nZETA=1\n";
  EXPECT_EQ(test::TempDir::read(path), expected);

  CCMEParameterINIStore reread(path.c_str(), u"", nullptr, 0);
  reread.load();
  ASSERT_EQ(reread.records().size(), store.records().size());
  for (const auto& [key, record] : store.records()) {
    const CCMEParameterRecord* again = reread.findRecord(key);
    ASSERT_NE(again, nullptr) << toStdString(key);
    EXPECT_EQ(again->value(), record.value()) << toStdString(key);
  }
}

TEST(IniStore, SaveWritesDefaultsOfRecordsWithoutValue) {
  test::TempDir dir;
  const CCMEParameterDef table[] = {{"S", "K", "STRING", "", "dflt", "N", "N"}};
  CCMEParameterINIStore store(dir.file("out.ini").c_str(), u"", table, 1);
  store.save();
  EXPECT_EQ(test::TempDir::read(dir.file("out.ini")), "[S]\nK=dflt\n");
}

TEST(IniStore, WithoutFileNameUsesTheProcessDefault) {
  CCMEParameterINIStore store(nullptr, u"", nullptr, 0);
  EXPECT_EQ(store.fileName(), ".ini");
}

enum class Op { Construct, Load, Save };

struct FailureCase {
  const char* label;
  Op op;
  std::string relativePath;  // below the temp dir; "" means the empty file name
  const char* code;
  const char* templ;
};

class IniFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(IniFailures, NameTheFile) {
  const FailureCase& c = GetParam();
  test::TempDir dir;
  std::filesystem::create_directory(dir.file("subdir"));
  const std::string path = c.relativePath.empty() ? "" : dir.file(c.relativePath);
  try {
    CCMEParameterINIStore store(path.c_str(), c.op == Op::Construct ? u"APP" : u"", nullptr, 0);
    if (c.op == Op::Load) store.load();
    if (c.op == Op::Save) store.save();
    FAIL() << "no exception";
  } catch (const QRM_Exception& e) {
    std::string text = c.templ;
    text.replace(text.find("{0}"), 3, path);
    EXPECT_EQ(test::describe(e), std::string(c.code) + "|" + text + "|4");
  }
}

constexpr const char* kRead = "Failed to open ini file for reading [{0}]";
constexpr const char* kWrite = "Failed to open ini file for writing [{0}]";

INSTANTIATE_TEST_SUITE_P(
    Table, IniFailures,
    ::testing::Values(FailureCase{"MissingOnConstruct", Op::Construct, "missing.ini", "9113E", kRead},
                      FailureCase{"MissingOnLoad", Op::Load, "missing.ini", "9113E", kRead},
                      FailureCase{"EmptyName", Op::Load, "", "9113E", kRead},
                      FailureCase{"DirectoryOnLoad", Op::Load, "subdir", "9113E", kRead},
                      FailureCase{"NoSuchDirectoryOnSave", Op::Save, "none/out.ini", "9112E", kWrite},
                      FailureCase{"DirectoryOnSave", Op::Save, "subdir", "9112E", kWrite}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(IniStore, SaveToAFullDeviceFails) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  CCMEParameterINIStore store("/dev/full", u"", nullptr, 0);
  store.setValue(u"S", u"K", u"v", true);
  EXPECT_THROW(store.save(), QRM_Exception);
}

}  // namespace
}  // namespace hcs
