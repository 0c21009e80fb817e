// The plugin as a host runs it: dlopen'ed, initialised from an .ini file, scoring against the
// reference service of hcs.
#include <gtest/gtest.h>

#include <thread>

#include "../config/ini_fixture.h"
#include "host/pairs.h"
#include "host/plugin_library.h"
#include "service/score_server.h"

namespace hcs {
namespace {

// The reference service on a free loopback port, served from its own thread while alive. The plugin
// keeps its connection open; a short keep-alive lets stop() end it promptly.
struct RunningService {
  RunningService() : server({.keepAliveSeconds = 1}), port(server.bind("127.0.0.1", 0)) {
    if (port > 0) serving = std::thread([this] { server.run(); });
  }
  ~RunningService() {
    if (!serving.joinable()) return;
    server.stop();
    serving.join();
  }
  service::ScoreServer server;
  int port;
  std::thread serving;
};

TEST(PluginHost, InitialisesFromAnIniFileAndScoresAgainstTheReferenceService) {
  RunningService service;
  ASSERT_GT(service.port, 0);
  std::string error;
  const auto plugin = host::PluginLibrary::open(HCS_PLUGIN_PATH, error);
  ASSERT_NE(plugin, nullptr) << error;

  test::TempDir dir;
  const std::string ini = dir.write("host.ini", "; callouts\n[ATTR_URI]\nNAME = http://127.0.0.1:" +
                                                    std::to_string(service.port) + "/score\n");
  char errorText[1024] = "";
  const std::string name = host::initDocument(ini, "HOST", "NAME", 5);
  ASSERT_EQ(plugin->initPlugin(name.data(), static_cast<int32_t>(name.size()), errorText), 0) << errorText;
  // A failure the plugin does not handle reaches the host as a std::exception it can catch.
  const std::string missing = host::initDocument(ini, "HOST", "EMAIL", 7);
  EXPECT_THROW(plugin->initPlugin(missing.data(), static_cast<int32_t>(missing.size()), errorText),
               std::exception);

  const std::string request = host::requestDocument(1);
  const std::string same = host::attributeRecord(5, "Martha Jones");
  for (const auto& [other, expected] :
       {std::pair{same, "1.0000"}, {host::attributeRecord(5, "Marhta Jones"), "0.9806"}}) {
    char reply[4097] = "";
    EXPECT_EQ(plugin->score(request.data(), static_cast<int32_t>(request.size()), same.data(),
                            static_cast<int32_t>(same.size()), other.data(),
                            static_cast<int32_t>(other.size()), reply, 4096),
              0);
    EXPECT_EQ(std::string(reply),
              std::string("<SCORE_RESULT><SCORE>") + expected + "</SCORE></SCORE_RESULT>");
  }
}

}  // namespace
}  // namespace hcs
