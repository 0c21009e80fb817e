#include "config/build_store.h"

#include <string>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "config/ini_store.h"
#include "error/qrm_exception.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

const char* kIni =
    "[MYAPP]\nretries = 5\n"
    "[ATTR_URI]\nphone = http://127.0.0.1:8080/score\nName=http://127.0.0.1:8080/name\n";

struct BuildCase {
  const char* label;
  const char16_t* appName;
  const char* expectedSection;
};

class BuildFromIni : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildFromIni, CopiesEveryValueAndTheSection) {
  const BuildCase& c = GetParam();
  test::TempDir dir;
  const std::string path = dir.write("app.ini", kIni);
  const CCMEParameterDef table[] = {{"*", "TIMEOUT", "INTEGER", "", "10000", "N", "N"}};
  CCMEParameterMemoryStore destination;
  buildParameterStore(destination, nullptr, path.c_str(), c.appName, table, 1);
  EXPECT_EQ(toStdString(destination.section()), c.expectedSection);
  EXPECT_EQ(toStdString(destination.getParameter(u"ATTR_URI", u"PHONE")), "http://127.0.0.1:8080/score");
  EXPECT_EQ(toStdString(destination.getParameter(u"attr_uri", u"name")), "http://127.0.0.1:8080/name");
  EXPECT_EQ(toStdString(destination.getParameter(u"MYAPP", u"RETRIES")), "5");
  // The definition's default reaches the destination as a plain value.
  const std::string timeoutKey = std::string(c.expectedSection) + ":TIMEOUT";
  const CCMEParameterRecord* timeout = destination.findRecord(UCString(timeoutKey));
  ASSERT_NE(timeout, nullptr);
  EXPECT_EQ(toStdString(timeout->currentValue), "10000");
  EXPECT_FALSE(timeout->programmed);
  EXPECT_EQ(destination.records().size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Table, BuildFromIni,
                         ::testing::Values(BuildCase{"AppInFile", u"MYAPP", "MYAPP"},
                                           BuildCase{"AppNotInFile", u"OTHER", "UNKNOWN_APP"},
                                           BuildCase{"NoApp", u"", "UNKNOWN_APP"}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(BuildParameterStore, MissingFileFailsWithTheIniRecord) {
  test::TempDir dir;
  const std::string path = dir.file("missing.ini");
  for (const char16_t* app : {u"MYAPP", u""}) {
    CCMEParameterMemoryStore destination;
    try {
      buildParameterStore(destination, nullptr, path.c_str(), app, nullptr, 0);
      ADD_FAILURE() << "no exception";
    } catch (const QRM_Exception& e) {
      EXPECT_EQ(test::describe(e), "9113E|Failed to open ini file for reading [" + path + "]|4");
    }
    EXPECT_TRUE(destination.records().empty());
  }
}

TEST(BuildParameterStore, PreparedDestinationKeepsItsDefinitions) {
  test::TempDir dir;
  const std::string path = dir.write("app.ini", kIni);
  const CCMEParameterDef own[] = {{"ATTR_URI", "PHONE", "STRING", "callout", "", "Y", "Y"},
                                  {"ATTR_URI", "FAX", "STRING", "", "none", "N", "N"}};
  CCMEParameterMemoryStore destination;
  destination.setup(u"", own, 2);
  buildParameterStore(destination, nullptr, path.c_str(), u"MYAPP", nullptr, 0);
  const CCMEParameterRecord* phone = destination.findRecord(u"ATTR_URI:PHONE");
  ASSERT_NE(phone, nullptr);
  EXPECT_TRUE(phone->hasValue && phone->required && phone->hidden && phone->programmed);
  EXPECT_EQ(toStdString(phone->value()), "http://127.0.0.1:8080/score");
  EXPECT_EQ(toStdString(destination.getParameter(u"ATTR_URI", u"FAX")), "none");
  EXPECT_FALSE(destination.findRecord(u"ATTR_URI:FAX")->hasValue);
}

}  // namespace
}  // namespace hcs
