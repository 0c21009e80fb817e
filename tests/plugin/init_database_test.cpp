// initPlugin with DB_CONNECTION: SYSTEM_PARAM on real PostgreSQL and SQLite merged with the .ini file.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../config/ini_fixture.h"
#include "error/qrm_exception.h"
#include "plugin/callout_registry.h"
#include "plugin/plugin.h"
#include "support/capturing_dispatcher.h"
#include "support/database_fixture.h"
#include "support/db_targets.h"
#include "transport/http_interface.h"

namespace hcs {
namespace {

struct InitResult {
  int32_t status;
  std::string error;
};

bool contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

class InitPluginDatabase : public test::RealDatabaseTest {
 protected:
  void systemParam(const std::vector<std::string>& rows) { test::createSystemParam(target_, rows); }

  // Through the exported entry's own body, so the test's log dispatcher sees what the plugin logs.
  InitResult init(const std::string& type, int id, const std::string& uri = "") {
    const std::string document = "<INIT><DB_CONNECTION>" + (uri.empty() ? target_.uri : uri) +
                                 "</DB_CONNECTION><CONFIG_FILE>" + ini_ + "</CONFIG_FILE><NODE_NAME>APP</NODE_NAME>"
                                 "<ATTR_TYPE>" + type + "</ATTR_TYPE><ATTR_TYPE_ID>" + std::to_string(id) +
                                 "</ATTR_TYPE_ID></INIT>";
    std::string buffer(1024, '\x7f');
    const int32_t status = initPluginImpl(document.data(), static_cast<int32_t>(document.size()), buffer.data());
    return {status, buffer.substr(0, buffer.find('\0'))};
  }

  // The path of the interface filed under `id`, "" when none.
  static std::string calloutPath(int id) {
    const auto* http = dynamic_cast<const OHTTP*>(calloutRegistry().find(id));
    return http == nullptr ? "" : toStdString(http->path());
  }

  // Registry keys are process-wide: each parameter gets its own range.
  int key(int n) const { return (GetParam() == "pg" ? 9100 : 9200) + n; }

  test::TempDir dir_;
  std::string ini_ = dir_.write("app.ini",
                                "[ATTR_URI]\nNAME=http://127.0.0.1:9/ini-name\nPHONE=http://127.0.0.1:9/ini-phone\n");
};

TEST_P(InitPluginDatabase, DatabaseValueWinsIniOnlyKeyIsFoundConflictIsLogged) {
  systemParam({"'ATTR_URI', 'NAME', 'http://127.0.0.1:9/db-name', NULL, 'STRING'"});
  test::CapturingDispatcher log;
  ASSERT_EQ(init("NAME", key(1)).status, 0);
  EXPECT_EQ(calloutPath(key(1)), "/db-name");
  ASSERT_EQ(init("phone", key(2)).status, 0);
  EXPECT_EQ(calloutPath(key(2)), "/ini-phone");
  const std::vector<std::string> lines = log.allLines();
  EXPECT_TRUE(contains(lines, "      ATTR_URI:NAME (NAME) [http://127.0.0.1:9/db-name] vs. [http://127.0.0.1:9/ini-name]"));
  EXPECT_TRUE(contains(lines, "Reading configuration from SYSTEM_PARAM..."));
}

TEST_P(InitPluginDatabase, RowsDifferingOnlyInCaseAreOneParameter) {
  systemParam({"'attr_uri', 'name', 'http://127.0.0.1:9/first', NULL, 'STRING'",
               "'ATTR_URI', 'NAME', 'http://127.0.0.1:9/second', NULL, 'STRING'"});
  ASSERT_EQ(init("Name", key(3)).status, 0);
  EXPECT_EQ(calloutPath(key(3)), "/second");
}

TEST_P(InitPluginDatabase, EmptyTableLeavesTheIniAlone) {
  systemParam({});
  test::CapturingDispatcher log;
  ASSERT_EQ(init("NAME", key(4)).status, 0);
  EXPECT_EQ(calloutPath(key(4)), "/ini-name");
  EXPECT_FALSE(contains(log.allLines(), "Conflicting parameters"));
}

TEST_P(InitPluginDatabase, FailedTableReadLeavesAsTheDatabaseRecord) {
  test::runCommitted(target_, {"DROP TABLE IF EXISTS SYSTEM_PARAM"});
  try {
    init("NAME", key(6));
    FAIL() << "no exception";
  } catch (const QRMSQL_Exception& e) {
    ASSERT_GE(e.entryCount(), 2);
    EXPECT_EQ(toStdString(e.entry(e.entryCount() - 1).text()),
              "Failed to load general configuration, please check the SYSTEM_PARAM file or table!");
  }
  EXPECT_EQ(calloutRegistry().find(key(6)), nullptr);
}

TEST_P(InitPluginDatabase, UnopenableDatabaseIsReportedWithThePasswordMaskedEverywhere) {
  const std::string uri = GetParam() == "pg" ? "pg://scott:tiger@127.0.0.1:1/hcs"
                                             : "sqlite://scott:tiger@/nonexistent-dir/hcs.db";
  const std::string masked = GetParam() == "pg" ? "pg://scott:****@127.0.0.1:1/hcs"
                                                : "sqlite://scott:****@/nonexistent-dir/hcs.db";
  test::CapturingDispatcher log;
  const InitResult r = init("NAME", key(7), uri);
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.error, "<ERROR>Unable to open database specified in the following URI [" + masked + "]</ERROR>");
  EXPECT_EQ(calloutRegistry().find(key(7)), nullptr);
  for (const std::string& line : log.allLines()) EXPECT_EQ(line.find("tiger"), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(Databases, InitPluginDatabase, ::testing::Values("pg", "sqlite"));

}  // namespace
}  // namespace hcs
