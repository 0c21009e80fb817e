#include "check/config_check.h"

#include <string>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
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
  EXPECT_EQ(isHttpUri(UCString(c.uri)), c.problem.empty()) << c.uri;
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

}  // namespace
}  // namespace hcs::check
