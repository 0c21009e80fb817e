#include "util/uri.h"

#include <gtest/gtest.h>

#include "error/qrm_exception.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

struct UriCase {
  const char* text;
  const char* scheme;
  const char* user;
  const char* password;
  const char* host;
  const char* port;
  const char* path;
  std::map<std::string, std::string> params;
};

class CUriParse : public ::testing::TestWithParam<UriCase> {};

TEST_P(CUriParse, SplitsIntoParts) {
  const UriCase& p = GetParam();
  const CUri uri(UCString(p.text));
  EXPECT_EQ(toStdString(uri.scheme), p.scheme) << p.text;
  EXPECT_EQ(toStdString(uri.user), p.user) << p.text;
  EXPECT_EQ(toStdString(uri.password), p.password) << p.text;
  EXPECT_EQ(toStdString(uri.host), p.host) << p.text;
  EXPECT_EQ(toStdString(uri.port), p.port) << p.text;
  EXPECT_EQ(toStdString(uri.path), p.path) << p.text;
  EXPECT_EQ(toStdString(uri.text), p.text);
  std::map<std::string, std::string> params;
  for (const auto& [k, v] : uri.params) params[toStdString(k)] = toStdString(v);
  EXPECT_EQ(params, p.params) << p.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CUriParse,
    ::testing::Values(
        UriCase{"http://scoresvc:8080/score/run?retries=2", "http", "", "", "scoresvc", "8080", "/score/run",
                {{"retries", "2"}}},
        UriCase{"http://svc", "http", "", "", "svc", "", "/", {}},
        UriCase{"file:/./conf/x.ini", "file", "", "", "", "", ".\\conf\\x.ini", {}},
        UriCase{"file:///C:/data/x", "file", "", "", "", "", "C:\\data\\x", {}},
        UriCase{"file://./dir/x", "file", "", "", "", "", ".\\dir\\x", {}},
        UriCase{"file://C:/dir/x", "file", "", "", "", "", "C:\\dir\\x", {}},
        UriCase{"db://scott:tiger@server/db?schema=S&fetching=100", "db", "scott", "tiger", "server", "",
                "\\db", {{"schema", "S"}, {"fetching", "100"}}},
        UriCase{"mssql://name@server/", "mssql", "", "name", "server", "", "\\", {}},
        UriCase{"HTTP://h:1/a/b", "HTTP", "", "", "h", "1", "/a/b", {}},
        UriCase{"http://h/p?q=a@b", "http", "", "", "h", "", "/p", {{"q", "a@b"}}},
        UriCase{"http://h:81/p?q=a@b", "http", "", "", "h", "81", "/p", {{"q", "a@b"}}},
        UriCase{"http://h/%41b%4", "http", "", "", "h", "", "/Ab%4", {}},
        UriCase{"http://h/%zz%00", "http", "", "", "h", "", "/%zz%00", {}},
        UriCase{"http://h%2Fx/p", "http", "", "", "h/x", "", "/p", {}},
        UriCase{"http://h/p?a=1%262", "http", "", "", "h", "", "/p", {{"a", "1&2"}}},
        UriCase{"http://h/p?a=1&a=2", "http", "", "", "h", "", "/p", {{"a", "2"}}},
        UriCase{"http://h/p?=1&b=2", "http", "", "", "h", "", "/p", {{"", "1"}, {"b", "2"}}},
        UriCase{"http://h/p?flag&b=2", "http", "", "", "h", "", "/p", {{"flag&b", "2"}}},
        UriCase{"http://h/p?a=1;b", "http", "", "", "h", "", "/p", {{"a", "1"}, {"b", ""}}},
        UriCase{"db://server?x=1", "db", "", "", "server?x=1", "", "\\", {}},
        UriCase{"msmq://h//queue/a", "msmq", "", "", "h", "", "queue\\a", {}},
        UriCase{"plainword", "plainword", "", "", "", "", "\\", {}},
        UriCase{"", "", "", "", "", "", "\\", {}}));

struct HttpCheck {
  const char* text;
  bool accepted;
};

class IsHttpUri : public ::testing::TestWithParam<HttpCheck> {};

TEST_P(IsHttpUri, AcceptsOnlyPlainHttpAddresses) {
  EXPECT_EQ(isHttpUri(UCString(GetParam().text)), GetParam().accepted) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Table, IsHttpUri,
                         ::testing::Values(HttpCheck{"http://h", true}, HttpCheck{"HTTP://h:1/a/b", true},
                                           HttpCheck{"hTtP://score-svc.local:8080/run?x=1", true},
                                           HttpCheck{"http://127.0.0.1:9/", true}, HttpCheck{"http://.a", true},
                                           HttpCheck{"http://h/\xc3\xa9", true},
                                           HttpCheck{"https://h/x", false}, HttpCheck{"http://user@h/x", false},
                                           HttpCheck{"http://h x/y", false}, HttpCheck{"http://-h/", false},
                                           HttpCheck{"http://", false}, HttpCheck{"http://h:/x", false},
                                           HttpCheck{"http://h?q=1", false}, HttpCheck{" http://h", false},
                                           HttpCheck{"http://h/x\ny", false}, HttpCheck{"http:/h", false},
                                           HttpCheck{"http://h\xc3\xa9/", false}, HttpCheck{"", false}));

TEST(IsHttpUri, LoneSurrogateThrowsTheConversionRecord) {
  icu::UnicodeString text(u"http://h/");
  text.append(static_cast<UChar>(0xDC00));
  EXPECT_THROW(isHttpUri(text), QRM_Exception);
}

TEST(MaskedUri, HidesOnlyThePassword) {
  EXPECT_EQ(toStdString(maskedUri(UCString("pg://scott:tiger@db.local:5432/hcs?x=1"))),
            "pg://scott:****@db.local:5432/hcs?x=1");
  EXPECT_EQ(toStdString(maskedUri(UCString("sqlite:///tmp/x.db"))), "sqlite:///tmp/x.db");
  EXPECT_EQ(toStdString(maskedUri(UCString("mssql://secret@server/"))), "mssql://****@server/");
}

}  // namespace
}  // namespace hcs
