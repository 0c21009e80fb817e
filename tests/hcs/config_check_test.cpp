#include "check/config_check.h"

#include <string>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "db/qrm_mem_table.h"
#include "support/db_targets.h"
#include "support/pg_cluster.h"
#include "error/qrm_exception.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs::check {
namespace {

struct UriCase {
  std::string uri;
  std::string problem;
};

class HttpUriProblem : public ::testing::TestWithParam<UriCase> {};

TEST_P(HttpUriProblem, ExplainsExactlyWhatTheCheckRefuses) {
  const UriCase& c = GetParam();
  EXPECT_EQ(httpUriProblem(c.uri), c.problem) << c.uri;
  // The explanation must never disagree with the plugin's own verdict.
  EXPECT_EQ(isCalloutUri(UCString(c.uri)), c.problem.empty()) << c.uri;
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpUriProblem,
    ::testing::Values(UriCase{"http://127.0.0.1:8080/score", ""}, UriCase{"HTTP://h", ""},
                      UriCase{"http://h/p?retries=1", ""}, UriCase{"http://.x-y/", ""},
                      UriCase{"https://h/", "https is not supported: the callout speaks plain http"},
                      UriCase{"ftp://h/", "the scheme is \"ftp\", not http"},
                      UriCase{"h:8080/score", "not of the form http://host[:port][/path]"},
                      UriCase{"http://", "no host"}, UriCase{"http:///p", "no host"},
                      UriCase{"http://:80/", "no host"},
                      UriCase{"http://u:pw@h/", "user information is not allowed"},
                      UriCase{"http://-h/", "the host starts with a hyphen"},
                      UriCase{"http://[::1]:80/", "IPv6 literal hosts are not accepted"},
                      UriCase{"http://h_1/", "the host or port holds \"_\""},
                      UriCase{"http://h:/", "the port is not a number"},
                      UriCase{"http://h:65536/", "the port is above 65535"},
                      UriCase{"http://h:8o/", "the host or port holds \"o\""},
                      UriCase{"http://h?x=1", "a query needs a path before it (/?…)"},
                      UriCase{"http://h/a\nb", "a line break in the path"},
                      UriCase{" http://h/", "blanks before or after the URI"}));

TEST(CheckConfig, ListsEveryCalloutWithItsVerdict) {
  test::TempDir dir;
  const std::string path = dir.write("c.ini",
                                     "[NODE1]\nx=1\n"
                                     "[attr_uri]\nPhone = http://127.0.0.1:8080/score\nname=https://h/\n"
                                     "[OTHER]\nkey=http://ignored/\n");
  const ConfigReport report = checkConfig(path, "NODE1");
  EXPECT_EQ(report.section, "NODE1");
  ASSERT_EQ(report.entries.size(), 2u);
  EXPECT_EQ(report.entries[0].attrType, "name");
  EXPECT_EQ(report.entries[0].problem, "https is not supported: the callout speaks plain http");
  EXPECT_EQ(report.entries[1].attrType, "Phone");
  EXPECT_EQ(report.entries[1].uri, "http://127.0.0.1:8080/score");
  EXPECT_EQ(report.entries[1].problem, "");
  EXPECT_THROW(checkConfig(dir.file("missing.ini"), ""), QRM_Exception);
}

class CheckConfigWithDatabase : public ::testing::Test {
 protected:
  void SetUp() override { DBIndexer::instance().reset(); }
  void TearDown() override { DBIndexer::instance().reset(); }

  test::TempSqliteFile sqlite_;
  test::DbTarget target_ = test::makeDbTarget("sqlite", sqlite_.path());
  test::TempDir dir_;
};

TEST_F(CheckConfigWithDatabase, MarksTheSourceOfEachCalloutAndListsConflicts) {
  test::createSystemParam(target_, {"'ATTR_URI', 'NAME', 'http://db/name', NULL, 'STRING'",
                                    "'ATTR_URI', 'EMAIL', 'https://db/', NULL, 'STRING'",
                                    "'LIMITS', 'RETRIES', '010', NULL, 'INTEGER'"});
  const std::string ini = dir_.write("c.ini", "[ATTR_URI]\nname=http://ini/name\nPHONE=http://ini/phone\n"
                                              "[LIMITS]\nRETRIES=10\n");
  const ConfigReport report = checkConfig(ini, "", target_.uri);
  EXPECT_TRUE(report.withDatabase);
  EXPECT_EQ(report.databaseParameters, 3u);
  ASSERT_EQ(report.entries.size(), 3u);
  const auto expect = [&](size_t i, const char* type, const char* uri, ValueSource source, bool ok) {
    EXPECT_EQ(report.entries[i].attrType, type);
    EXPECT_EQ(report.entries[i].uri, uri);
    EXPECT_EQ(report.entries[i].source, source) << type;
    EXPECT_EQ(report.entries[i].problem.empty(), ok) << type;
  };
  expect(0, "EMAIL", "https://db/", ValueSource::kDatabase, false);
  expect(1, "NAME", "http://db/name", ValueSource::kDatabase, true);
  expect(2, "PHONE", "http://ini/phone", ValueSource::kIni, true);
  // 010 against 10 is the same INTEGER: only NAME conflicts.
  ASSERT_EQ(report.conflicts.size(), 1u);
  EXPECT_EQ(report.conflicts[0].key, "ATTR_URI:NAME");
  EXPECT_EQ(report.conflicts[0].databaseValue, "http://db/name");
  EXPECT_EQ(report.conflicts[0].iniValue, "http://ini/name");
}

TEST_F(CheckConfigWithDatabase, UnopenableDatabaseIsNamedWithItsPasswordMasked) {
  const std::string ini = dir_.write("c.ini", "[ATTR_URI]\nNAME=http://ini/name\n");
  try {
    checkConfig(ini, "", "pg://scott:tiger@127.0.0.1:1/hcs");
    FAIL() << "no exception";
  } catch (const QRM_Exception& e) {
    EXPECT_STREQ(e.what(), "Unable to open database specified in the following URI [pg://scott:****@127.0.0.1:1/hcs]");
    for (int32_t i = 0; i < e.entryCount(); ++i) EXPECT_EQ(e.entry(i).narrowText().find("tiger"), std::string::npos);
  }
}

}  // namespace
}  // namespace hcs::check
