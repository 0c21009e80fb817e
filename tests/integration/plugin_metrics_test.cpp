// HTTPCALLOUT_METRICS read when the plugin is loaded: the file is written every interval and a last time
// when the host process ends.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <thread>

#include "../config/ini_fixture.h"
#include "host/pairs.h"
#include "host/plugin_library.h"
#include "support/http_test_server.h"

namespace hcs {
namespace {

const std::string kOkSeries = "hcs_score_calls_total{type_id=\"3\",type=\"NAME\",outcome=\"ok\"} ";

// In a fresh process (the plugin must not be loaded yet): load the plugin with the metrics file set,
// score once, see the interval's write, close the plugin and exit. Exits 0 when all went as it should.
void scoreOnceAndExit(const std::string& file, const std::string& iniDir) {
  ::setenv("HTTPCALLOUT_METRICS", ("file://" + file + "?interval=1").c_str(), 1);
  test::HttpTestServer server;
  server.setDefault(test::HttpTestAnswer::ok("<SCORE_RESULT><SCORE>1</SCORE></SCORE_RESULT>"));
  const std::string ini = iniDir + "/metrics.ini";
  std::ofstream(ini) << "[ATTR_URI]\nNAME=" << server.uri("/score") << "\n";
  std::string error;
  auto plugin = host::PluginLibrary::open(HCS_PLUGIN_PATH, error);
  if (!plugin) std::exit(3);
  int32_t status = -2;
  const std::string init = host::initDocument(ini, "M", "NAME", 3), record = host::attributeRecord(3, "x");
  char text[1024];
  if (plugin->initPlugin(init.data(), static_cast<int32_t>(init.size()), text) == 0) {
    status = plugin->score("<R/>", 4, record.data(), static_cast<int32_t>(record.size()), record.data(),
                           static_cast<int32_t>(record.size()), text, 1000);
  }
  const auto written = [&] { return test::TempDir::read(file).find(kOkSeries + "1") != std::string::npos; };
  for (int i = 0; i < 300 && !written(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!written()) std::exit(4);
  std::filesystem::remove(file);
  plugin.reset();  // stays loaded: the last write comes as the process ends
  std::exit(status == 0 ? 0 : 5);
}

TEST(PluginMetrics, TheFileIsWrittenEveryIntervalAndWhenTheProcessEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::TempDir dir;
  // The death-test child runs the test body again; the directory travels to it through the environment.
  ::setenv("HCS_METRICS_TEST_DIR", dir.file("").c_str(), 0);
  const std::string shared = ::getenv("HCS_METRICS_TEST_DIR");
  EXPECT_EXIT(scoreOnceAndExit(shared + "/hcs.prom", shared), ::testing::ExitedWithCode(0), "");
  const std::string text = test::TempDir::read(shared + "/hcs.prom");
  ::unsetenv("HCS_METRICS_TEST_DIR");
  EXPECT_NE(text.find(kOkSeries + "1\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace hcs
