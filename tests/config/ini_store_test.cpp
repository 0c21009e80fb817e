#include "config/ini_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>

#include "config/build_store.h"
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

TEST(IniStore, LinesAreReadByTheFileRules) {
  const std::optional<std::string> none;
  // file content, group, name, value read
  // clang-format off
  const std::tuple<const char*, const char*, const char*, std::optional<std::string>> cases[] = {
      {"[ATTR_URI]\nPHONE   =   http://h:8080/score  \n", "ATTR_URI", "phone", "http://h:8080/score"},
      {"\t[S]\r\n\tK\t=\tv w\t\r\n", "S", "K", "v w"},  {"[S]\na=b=c\n", "S", "A", "b=c"},
      {"[S]\n=v\n", "S", "", "v"},                      {"[S]\nK=\n", "S", "K", ""},
      {"K=v\n[S]\n", "", "K", "v"},                     {"[S]\n# K=v\n", "S", "# K", none},
      {"[S]\n   #K=v\n", "S", "#K", none},              {"[S]\n;K=v\n", "S", ";K", "v"},
      {"[S]\nK v\nK2=x\n", "S", "K v", none},           {"[attr_uri]\nPhone=x\n", "ATTR_URI", "PHONE", "x"},
      {"[S]\nK=1\n[s]\nk=2\n", "S", "K", "2"},          {"[ S ]\nK=v\n", " S ", "K", "v"},
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

TEST(IniStore, SaveWritesUpperCaseKeysInKeyOrderOneHeaderPerSectionDefaultsIncluded) {
  test::TempDir dir;
  const std::string path =
      dir.write("t.ini",
                "# comment dropped\ntop = level\n[attributes]\nzeta=1\n"
                "[attr_uri]\nphone = http://h/p?a=b\nname=http://h/n\n[ATTRIBUTES]\nalpha=2\n");
  const CCMEParameterDef table[] = {{"DEFAULTS", "K", "STRING", "", "dflt", "N", "N"}};
  CCMEParameterINIStore store(path.c_str(), u"", table, 1);
  store.load();
  store.save();
  // The section-less key ":TOP" comes first and needs no header.
  EXPECT_EQ(test::TempDir::read(path),
            "TOP=level\n[ATTR_URI]\nNAME=http://h/n\nPHONE=http://h/p?a=b\n[ATTRIBUTES]\nALPHA=2\nZETA=1\n"
            "[DEFAULTS]\nK=dflt\n");
  EXPECT_EQ(CCMEParameterINIStore(nullptr, u"", nullptr, 0).fileName(), ".ini");  // the process default
}

TEST(IniStore, FailuresNameTheFile) {
  test::TempDir dir;
  std::filesystem::create_directory(dir.file("subdir"));
  enum Op { kConstruct, kLoad, kSave };
  const std::string read = "9113E|Failed to open ini file for reading [",
                    write = "9112E|Failed to open ini file for writing [";
  // Constructing with an application name reads the file already; a full disk shows only when closing.
  const std::tuple<Op, std::string, std::string> cases[] = {{kConstruct, dir.file("missing.ini"), read},
                                                            {kLoad, dir.file("missing.ini"), read},
                                                            {kLoad, "", read},
                                                            {kLoad, dir.file("subdir"), read},
                                                            {kSave, dir.file("none/out.ini"), write},
                                                            {kSave, "/dev/full", write}};
  for (const auto& [op, path, text] : cases) {
    try {
      CCMEParameterINIStore store(path.c_str(), op == kConstruct ? u"APP" : u"", nullptr, 0);
      store.setValue(u"S", u"K", u"v", true);
      if (op == kLoad) store.load();
      if (op == kSave) store.save();
      ADD_FAILURE() << "no exception for " << path;
    } catch (const QRM_Exception& e) {
      EXPECT_EQ(test::describe(e), text + path + "]|4");
      EXPECT_EQ(e.entry(0).number(), 0u) << path;  // unnumbered: no tag when logged
    }
  }
}

// Without a connection the destination gets the file's values, its section and the definitions' defaults,
// as plain values.
TEST(BuildParameterStore, WithoutAConnectionCopiesTheIniStore) {
  test::TempDir dir;
  const std::string path = dir.write("app.ini", "[MYAPP]\nretries = 5\n[ATTR_URI]\nphone = http://h/score\n");
  const CCMEParameterDef table[] = {{"*", "TIMEOUT", "INTEGER", "", "10000", "N", "N"}};
  CCMEParameterMemoryStore destination;
  buildParameterStore(destination, nullptr, path.c_str(), u"MYAPP", table, 1);
  EXPECT_EQ(toStdString(destination.section()), "MYAPP");
  EXPECT_EQ(toStdString(destination.getParameter(u"attr_uri", u"PHONE")), "http://h/score");
  EXPECT_EQ(toStdString(destination.getParameter(u"*", u"RETRIES")), "5");
  const CCMEParameterRecord* timeout = destination.findRecord(u"MYAPP:TIMEOUT");
  ASSERT_NE(timeout, nullptr);
  EXPECT_EQ(toStdString(timeout->currentValue), "10000");
  EXPECT_FALSE(timeout->programmed);
  EXPECT_EQ(destination.records().size(), 3u);
}

}  // namespace
}  // namespace hcs
