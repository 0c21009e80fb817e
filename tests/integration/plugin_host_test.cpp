// The plugin as a host runs it: dlopen'ed, initialised from an .ini file, scoring against the
// reference service of hcs.
#include <thread>

#include <gtest/gtest.h>

#include "../config/ini_fixture.h"
#include "host/pairs.h"
#include "host/plugin_library.h"
#include "service/score_server.h"
#include "support/db_targets.h"
#include "support/pg_cluster.h"

namespace hcs {
namespace {

// The reference service on a free loopback port, served from its own thread while alive.
class RunningService {
 public:
  RunningService() : server_(options()), port_(server_.bind("127.0.0.1", 0)) {
    if (port_ > 0) serving_ = std::thread([this] { server_.run(); });
  }
  ~RunningService() {
    if (!serving_.joinable()) return;
    server_.stop();
    serving_.join();
  }
  int port() const { return port_; }

 private:
  static service::ScoreServer::Options options() {
    // The plugin keeps its connection open; a short keep-alive lets stop() end it promptly.
    service::ScoreServer::Options options;
    options.keepAliveSeconds = 1;
    return options;
  }

  service::ScoreServer server_;
  int port_;
  std::thread serving_;
};

TEST(PluginHost, InitialisesFromAnIniFileAndScoresAgainstTheReferenceService) {
  RunningService service;
  const int port = service.port();
  ASSERT_GT(port, 0);

  std::string error;
  const auto plugin = host::PluginLibrary::open(HCS_PLUGIN_PATH, error);
  ASSERT_NE(plugin, nullptr) << error;
  EXPECT_STREQ(plugin->getVersion(), "1.0");

  test::TempDir dir;
  const std::string ini = dir.write("host.ini", "; callouts\n[ATTR_URI]\nNAME = http://127.0.0.1:" +
                                                    std::to_string(port) + "/score\nPHONE=https://nope/\n");
  char errorText[1024] = "";
  const std::string name = host::initDocument(ini, "HOST", "NAME", 5);
  ASSERT_EQ(plugin->initPlugin(name.data(), static_cast<int32_t>(name.size()), errorText), 0) << errorText;
  const std::string phone = host::initDocument(ini, "HOST", "PHONE", 6);
  EXPECT_EQ(plugin->initPlugin(phone.data(), static_cast<int32_t>(phone.size()), errorText), -1);
  EXPECT_STREQ(errorText, "<ERROR>Malformed HTTP Callout URI: [https://nope/]</ERROR>");

  // A failure the plugin does not handle reaches the host as a std::exception it can catch.
  const std::string missing = host::initDocument(ini, "HOST", "EMAIL", 7);
  EXPECT_THROW(plugin->initPlugin(missing.data(), static_cast<int32_t>(missing.size()), errorText),
               std::exception);

  const std::string request = host::requestDocument(1);
  const std::string same = host::attributeRecord(5, "Martha Jones");
  const std::string close = host::attributeRecord(5, "Marhta Jones");
  char reply[4097] = "";
  EXPECT_EQ(plugin->score(request.data(), static_cast<int32_t>(request.size()), same.data(),
                          static_cast<int32_t>(same.size()), same.data(), static_cast<int32_t>(same.size()), reply,
                          4096),
            0);
  EXPECT_STREQ(reply, "<SCORE_RESULT><SCORE>1.0000</SCORE></SCORE_RESULT>");
  EXPECT_EQ(plugin->score(request.data(), static_cast<int32_t>(request.size()), same.data(),
                          static_cast<int32_t>(same.size()), close.data(), static_cast<int32_t>(close.size()),
                          reply, 4096),
            0);
  EXPECT_STREQ(reply, "<SCORE_RESULT><SCORE>0.9806</SCORE></SCORE_RESULT>");
}

TEST(PluginHost, ScoresThroughTheCalloutSystemParamNamesOverTheIniFile) {
  RunningService service;
  const int port = service.port();
  ASSERT_GT(port, 0);

  test::TempSqliteFile sqlite;
  const test::DbTarget target = test::makeDbTarget("sqlite", sqlite.path());
  test::createSystemParam(target, {"'ATTR_URI', 'name', 'http://127.0.0.1:" + std::to_string(port) +
                                   "/score', NULL, 'STRING'"});
  test::TempDir dir;
  // Nothing listens on port 9: only the table's callout can score.
  const std::string ini = dir.write("host.ini", "[ATTR_URI]\nNAME = http://127.0.0.1:9/score\n");

  std::string error;
  const auto plugin = host::PluginLibrary::open(HCS_PLUGIN_PATH, error);
  ASSERT_NE(plugin, nullptr) << error;
  const std::string init = "<INIT><DB_CONNECTION>" + target.uri + "</DB_CONNECTION><CONFIG_FILE>" + ini +
                           "</CONFIG_FILE><ATTR_TYPE>NAME</ATTR_TYPE><ATTR_TYPE_ID>15</ATTR_TYPE_ID></INIT>";
  char errorText[1024] = "";
  ASSERT_EQ(plugin->initPlugin(init.data(), static_cast<int32_t>(init.size()), errorText), 0) << errorText;

  const std::string request = host::requestDocument(1);
  const std::string record = host::attributeRecord(15, "Martha Jones");
  char reply[4097] = "";
  EXPECT_EQ(plugin->score(request.data(), static_cast<int32_t>(request.size()), record.data(),
                          static_cast<int32_t>(record.size()), record.data(), static_cast<int32_t>(record.size()),
                          reply, 4096),
            0)
      << reply;
  EXPECT_STREQ(reply, "<SCORE_RESULT><SCORE>1.0000</SCORE></SCORE_RESULT>");
}

}  // namespace
}  // namespace hcs
