// HTTPCALLOUT_METRICS read when the plugin is loaded: the file is written every interval and a last time
// when the host process ends, and by no child the host forks.
#include <filesystem>
#include <optional>
#include <thread>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "host/pairs.h"
#include "host/plugin_library.h"
#include "support/http_test_server.h"

namespace hcs {
namespace {

const std::string kOkSeries = "hcs_score_calls_total{type_id=\"3\",type=\"NAME\",outcome=\"ok\"} ";

// A host with the metrics file set: the plugin loaded (it must not be loaded yet: run in a fresh
// process), type 3 configured against `uri`. Exits the process on a failed set-up.
struct MetricsHost {
  MetricsHost(const std::string& setting, const std::string& uri, const std::string& iniDir) {
    ::setenv("HTTPCALLOUT_METRICS", setting.c_str(), 1);
    const std::string ini = iniDir + "/metrics.ini";
    std::ofstream(ini) << "[ATTR_URI]\nNAME=" << uri << "\n";
    std::string error;
    plugin = host::PluginLibrary::open(HCS_PLUGIN_PATH, error);
    const std::string init = host::initDocument(ini, "M", "NAME", 3);
    char text[1024];
    if (!plugin || plugin->initPlugin(init.data(), static_cast<int32_t>(init.size()), text) != 0)
      std::exit(3);
  }
  int32_t score() {
    const std::string record = host::attributeRecord(3, "x");
    char text[1024];
    return plugin->score("<R/>", 4, record.data(), static_cast<int32_t>(record.size()), record.data(),
                         static_cast<int32_t>(record.size()), text, 1000);
  }

  std::unique_ptr<host::PluginLibrary> plugin;
};

// Score once, see the interval's write, close the plugin and exit. Exits 0 when all went as it should.
void scoreOnceAndExit(const std::string& uri, const std::string& file, const std::string& iniDir) {
  MetricsHost host("file://" + file + "?interval=1", uri, iniDir);
  const int32_t status = host.score();
  const auto written = [&] { return test::TempDir::read(file).find(kOkSeries + "1") != std::string::npos; };
  for (int i = 0; i < 300 && !written(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!written()) std::exit(4);
  std::filesystem::remove(file);
  host.plugin.reset();  // stays loaded: the last write comes as the process ends
  std::exit(status == 0 ? 0 : 5);
}

// Whether `child` exited with 0 within a bounded number of waits (30 s); killed when it did not end.
bool exitedWithZero(pid_t child) {
  int status = 0;
  for (int i = 0; i < 3000; ++i) {
    if (::waitpid(child, &status, WNOHANG) == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, &status, 0);
  return false;
}

// Score once, then fork a child that scores nothing and one that scores twice, each ending with
// exit() as a host's child does. Neither may hang or write the file: it is written once, with this
// process's one call, when this process exits (the interval is never reached).
void scoreForkAndExit(const std::string& uri, const std::string& file, const std::string& iniDir) {
  MetricsHost host("file://" + file + "?interval=86400", uri, iniDir);
  if (host.score() != 0) std::exit(5);
  for (const int calls : {0, 2}) {
    const pid_t child = ::fork();
    if (child == 0) {
      int32_t status = 0;
      for (int i = 0; i < calls; ++i) status |= host.score();
      std::exit(status == 0 ? 0 : 1);
    }
    if (child < 0 || !exitedWithZero(child)) std::exit(6 + calls);
  }
  std::exit(std::filesystem::exists(file) ? 9 : 0);
}

// Runs `host` in a fresh process (a death test) with the service's URI, a file path and a folder for
// its .ini, and returns the metrics file it left. The service runs in this process, so a host that
// forks holds no memory of service threads its children lose (a leak checker would report it there).
std::string metricsFileLeftBy(void (*host)(const std::string& uri, const std::string& file,
                                           const std::string& iniDir)) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The death-test child runs the test body again; the folder and the service's URI travel to it
  // through the environment (a folder of its own would be left behind: it ends with exit()).
  std::optional<test::TempDir> dir;
  std::optional<test::HttpTestServer> server;
  if (::getenv("HCS_METRICS_TEST_DIR") == nullptr) {
    ::setenv("HCS_METRICS_TEST_DIR", dir.emplace().file("").c_str(), 1);
    server.emplace().setDefault(test::HttpTestAnswer::ok("<SCORE_RESULT><SCORE>1</SCORE></SCORE_RESULT>"));
    ::setenv("HCS_METRICS_TEST_URI", server->uri("/score").c_str(), 1);
  }
  const std::string shared = ::getenv("HCS_METRICS_TEST_DIR"), uri = ::getenv("HCS_METRICS_TEST_URI");
  EXPECT_EXIT(host(uri, shared + "/hcs.prom", shared), ::testing::ExitedWithCode(0), "");
  ::unsetenv("HCS_METRICS_TEST_DIR");
  ::unsetenv("HCS_METRICS_TEST_URI");
  return test::TempDir::read(shared + "/hcs.prom");
}

TEST(PluginMetrics, TheFileIsWrittenEveryIntervalAndWhenTheProcessEnds) {
  const std::string text = metricsFileLeftBy(&scoreOnceAndExit);
  EXPECT_NE(text.find(kOkSeries + "1\n"), std::string::npos) << text;
}

TEST(PluginMetrics, AForkedChildExitsWithoutWaitingForTheWriterOrWritingTheFile) {
  const std::string text = metricsFileLeftBy(&scoreForkAndExit);
  EXPECT_NE(text.find(kOkSeries + "1\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace hcs
