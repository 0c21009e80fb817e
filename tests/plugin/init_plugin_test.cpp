#include "plugin/init_plugin.h"

#include <string>

#include <gtest/gtest.h>

#include "../config/ini_fixture.h"
#include "error/qrm_exception.h"
#include "plugin/callout_registry.h"
#include "plugin/plugin.h"
#include "support/http_test_server.h"
#include "transport/http_interface.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;
using test::HttpTestServer;

std::string initDoc(const std::string& configFile, const std::string& type, const std::string& id,
                    const std::string& db = "") {
  return "<INIT><DB_CONNECTION>" + db + "</DB_CONNECTION><CONFIG_FILE>" + configFile +
         "</CONFIG_FILE><NODE_NAME>APP</NODE_NAME><ATTR_TYPE>" + type + "</ATTR_TYPE><ATTR_TYPE_ID>" + id +
         "</ATTR_TYPE_ID></INIT>";
}

struct InitResult {
  int32_t status;
  std::string error;
};

InitResult init(const std::string& document) {
  std::string buffer(1100, '\x7f');
  const int32_t status = initializePlugin(document.data(), static_cast<int32_t>(document.size()), buffer.data());
  const size_t nul = buffer.find('\0');
  return {status, nul == std::string::npos ? "<unterminated>" : buffer.substr(0, nul)};
}

class InitPlugin : public ::testing::Test {
 protected:
  std::string ini(const std::string& attrUriSection) { return dir_.write("hcs.ini", "[ATTR_URI]\n" + attrUriSection); }
  test::TempDir dir_;
};

struct IdCase {
  std::string id;
  int32_t key;
};

class InitPluginIds : public InitPlugin, public ::testing::WithParamInterface<IdCase> {};

TEST_P(InitPluginIds, FilesTheInterfaceUnderTheParsedId) {
  const std::string file = ini("NAME=http://127.0.0.1:9/score\n");
  EXPECT_EQ(init(initDoc(file, "NAME", GetParam().id)).status, 0);
  EXPECT_NE(calloutRegistry().find(GetParam().key), nullptr) << "[" << GetParam().id << "]";
}

INSTANTIATE_TEST_SUITE_P(Table, InitPluginIds,
                         ::testing::Values(IdCase{"812", 812}, IdCase{" 813", 813}, IdCase{"814x", 814},
                                           IdCase{"", 0}, IdCase{"x", 0}, IdCase{"-815", -815}));

TEST_F(InitPlugin, FirstRegistrationOfAKeyWins) {
  HttpTestServer first, second;
  const std::string a = dir_.write("a.ini", "[ATTR_URI]\nNAME=" + first.uri("/a") + "\n");
  const std::string b = dir_.write("b.ini", "[ATTR_URI]\nNAME=" + second.uri("/b") + "\n");
  ASSERT_EQ(init(initDoc(a, "NAME", "820")).status, 0);
  ASSERT_EQ(init(initDoc(b, "NAME", "820")).status, 0);
  const auto* http = dynamic_cast<const OHTTP*>(calloutRegistry().find(820));
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(http->path(), icu::UnicodeString(u"/a"));
}

TEST_F(InitPlugin, LowerCaseElementNamesAreFound) {
  const std::string file = ini("name=http://127.0.0.1:9/x?retries=1\n");
  const std::string doc = "<init><config_file>" + file + "</config_file><attr_type>name</attr_type>"
                          "<attr_type_id>821</attr_type_id></init>";
  EXPECT_EQ(init(doc).status, 0);
  const auto* http = dynamic_cast<const OHTTP*>(calloutRegistry().find(821));
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(http->retries(), 1);
  EXPECT_EQ(http->timeout(), 10000u);
  EXPECT_EQ(http->versionMinor(), 1);
}

struct UriCase {
  const char* uri;
  bool accepted;
};

class InitPluginUris : public InitPlugin, public ::testing::WithParamInterface<UriCase> {};

TEST_P(InitPluginUris, ChecksTheCalloutUri) {
  static int32_t nextId = 830;
  const int32_t id = nextId++;
  const InitResult r = init(initDoc(ini(std::string("NAME=") + GetParam().uri + "\n"), "NAME", std::to_string(id)));
  if (GetParam().accepted) {
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(calloutRegistry().find(id), nullptr);
  } else {
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.error, std::string("<ERROR>Malformed HTTP Callout URI: [") + GetParam().uri + "]</ERROR>");
    EXPECT_EQ(calloutRegistry().find(id), nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, InitPluginUris,
                         ::testing::Values(UriCase{"HTTP://127.0.0.1:1/x", true}, UriCase{"http://svc", true},
                                           UriCase{"https://h/x", false}, UriCase{"http://user@h/x", false},
                                           UriCase{"http://h x/y", false}, UriCase{"ftp://h/", false}));

TEST_F(InitPlugin, EmptyUriIsReported) {
  const InitResult r = init(initDoc(ini("NAME=\n"), "NAME", "840"));
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.error, "<ERROR>No ATTR_URI entry is configured for ATTR_TYPE [NAME]</ERROR>");
  EXPECT_EQ(calloutRegistry().find(840), nullptr);
}

TEST_F(InitPlugin, ErrorTextNeverPassesTheHostBuffer) {
  const std::string type(1200, 'T');  // longer than the buffer, shorter than an .ini line
  const InitResult r = init(initDoc(ini(type + "=\n"), type, "841"));
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.error.size(), 1023u);
  EXPECT_EQ(r.error.substr(r.error.size() - 8), "</ERROR>");
}

TEST_F(InitPlugin, MissingParameterAndUnreadableIniLeaveAsRecords) {
  const std::string file = ini("OTHER=http://h/\n");
  std::string buffer(8, '#');
  const std::string noType = initDoc(file, "NAME", "842");
  try {
    initializePlugin(noType.data(), static_cast<int32_t>(noType.size()), buffer.data());
    FAIL() << "no 9107E";
  } catch (const QRM_Exception& e) {
    EXPECT_EQ(e.entry(0).message().code(), icu::UnicodeString(u"9107E"));
    EXPECT_STREQ(e.what(), "Cannot get parameter [ATTR_URI:NAME] from parameter store");
  }
  const std::string noFile = initDoc(dir_.file("missing.ini"), "NAME", "843");
  try {
    initializePlugin(noFile.data(), static_cast<int32_t>(noFile.size()), buffer.data());
    FAIL() << "no 9113E";
  } catch (const QRM_Exception& e) {
    EXPECT_EQ(e.entry(0).message().code(), icu::UnicodeString(u"9113E"));
  }
  EXPECT_EQ(buffer, std::string(8, '#'));
  EXPECT_EQ(calloutRegistry().find(842), nullptr);
}

TEST_F(InitPlugin, UnopenableDatabaseIsReportedWithThePasswordMasked) {
  const InitResult r = init(initDoc(ini("NAME=http://h/\n"), "NAME", "844", "pg://scott:tiger@127.0.0.1:1/hcs"));
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.error,
            "<ERROR>Unable to open database specified in the following URI [pg://scott:****@127.0.0.1:1/hcs]</ERROR>");
  EXPECT_EQ(calloutRegistry().find(844), nullptr);
}

TEST_F(InitPlugin, NonXmlDocumentIsNotFatalOfItsOwn) {
  // All five values are empty: no .ini name, so the default ".ini" cannot be read.
  const std::string doc = "not xml at all";
  std::string buffer(64, '#');
  EXPECT_THROW(initializePlugin(doc.data(), static_cast<int32_t>(doc.size()), buffer.data()), QRM_Exception);
}

}  // namespace
}  // namespace hcs
