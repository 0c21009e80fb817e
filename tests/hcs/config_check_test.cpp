#include "check/config_check.h"

#include <gtest/gtest.h>

#include <string>

#include "config/ini_fixture.h"
#include "error/qrm_exception.h"
#include "support/database_fixture.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs::check {
namespace {

TEST(HttpUriProblem, ExplainsExactlyWhatTheCheckRefuses) {
  const std::pair<std::string, std::string> cases[] = {
      {"HTTP://h:8080/p?retries=1", ""},
      {"http://.x-y/", ""},
      {"https://h/", "https is not supported: the callout speaks plain http"},
      {"h:8080/score", "not of the form http://host[:port][/path]"},
      {"http:///p", "no host"},
      {"http://u:pw@h/", "user information is not allowed"},
      {"http://-h/", "the host starts with a hyphen"},
      {"http://[::1]:80/", "IPv6 literal hosts are not accepted"},
      {"http://h_1/", "the host or port holds \"_\""},
      {"http://h:/", "the port is not a number"},
      {"http://h:65536/", "the port is above 65535"},
      {"http://h?x=1", "a query needs a path before it (/?…)"},
      {"http://h/a\nb", "a line break in the path"},
      {" http://h/", "blanks before or after the URI"}};
  for (const auto& [uri, problem] : cases) {
    EXPECT_EQ(httpUriProblem(uri), problem) << uri;
    // The explanation must never disagree with the plugin's own verdict.
    EXPECT_EQ(isCalloutUri(UCString(uri)), problem.empty()) << uri;
  }
}

// One line per callout ("type uri source problem") and per conflict.
std::string summary(const ConfigReport& report) {
  std::string out = report.section + "\n";
  for (const CalloutEntry& e : report.entries)
    out +=
        e.attrType + " " + e.uri + (e.source == ValueSource::kDatabase ? " db " : " ini ") + e.problem + "\n";
  for (const ConfigConflict& c : report.conflicts)
    out += c.key + " " + c.databaseValue + " " + c.iniValue + "\n";
  return out;
}

TEST(CheckConfig, ListsEveryCalloutWithItsVerdict) {
  test::TempDir dir;
  const std::string path =
      dir.write("c.ini",
                "[NODE1]\nx=1\n[attr_uri]\nPhone = http://h:8080/score\nname=https://h/\n"
                "[OTHER]\nkey=http://ignored/\n");
  EXPECT_EQ(summary(checkConfig(path, "NODE1")),
            "NODE1\nname https://h/ ini https is not supported: the callout speaks plain http\n"
            "Phone http://h:8080/score ini \n");
  EXPECT_THROW(checkConfig(dir.file("missing.ini"), ""), QRM_Exception);
}

class CheckConfigWithDatabase : public test::RealDatabaseTest {};

TEST_P(CheckConfigWithDatabase, MarksTheSourceOfEachCalloutListsConflictsAndMasksAnUnopenableDatabase) {
  test::createSystemParam(target_, {"'ATTR_URI', 'NAME', 'http://db/name', NULL, 'STRING'",
                                    "'ATTR_URI', 'EMAIL', 'ftp://db/', NULL, 'STRING'"});
  test::TempDir dir;
  const std::string ini = dir.write("c.ini", "[ATTR_URI]\nname=http://ini/name\nPHONE=http://ini/phone\n");
  const ConfigReport report = checkConfig(ini, "", target_.uri);
  EXPECT_TRUE(report.withDatabase);
  EXPECT_EQ(report.databaseParameters, 2u);
  EXPECT_EQ(summary(report),
            "UNKNOWN_APP\nEMAIL ftp://db/ db the scheme is \"ftp\", not http\nNAME http://db/name db \n"
            "PHONE http://ini/phone ini \nATTR_URI:NAME http://db/name http://ini/name\n");
  try {
    checkConfig(ini, "", "pg://scott:tiger@127.0.0.1:1/hcs");
    FAIL() << "no exception";
  } catch (const QRM_Exception& e) {
    EXPECT_STREQ(e.what(),
                 "Unable to open database specified in the following URI [pg://scott:****@127.0.0.1:1/hcs]");
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, CheckConfigWithDatabase, ::testing::Values("sqlite"));

}  // namespace
}  // namespace hcs::check
