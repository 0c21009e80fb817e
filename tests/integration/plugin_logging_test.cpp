// Logging switched on without code: HTTPCALLOUT_LOG read when the plugin is loaded.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "../config/ini_fixture.h"
#include "host/pairs.h"
#include "host/plugin_library.h"
#include "support/http_test_server.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;

// In a fresh process (the plugin must not be loaded yet): load it with `logSetting` in the
// environment, score once against a service whose first answer is a 500, exit 0 when all went well.
// That nothing is installed when the variable is unset is the log configuration's own test.
void scoreOnceWithFirstAttemptFailing(const std::string& logSetting, const std::string& iniDir) {
  ::setenv("HTTPCALLOUT_LOG", logSetting.c_str(), 1);
  test::HttpTestServer server;
  server.enqueue(HttpTestAnswer::withStatus(500, "Internal Server Error", "busy"));
  server.setDefault(HttpTestAnswer::ok("<SCORE_RESULT><SCORE>1</SCORE></SCORE_RESULT>"));
  const std::string ini = iniDir + "/log.ini";
  std::ofstream(ini) << "[ATTR_URI]\nNAME=" << server.uri("/score") << "\n";
  std::string error;
  const auto plugin = host::PluginLibrary::open(HCS_PLUGIN_PATH, error);
  if (!plugin) std::exit(3);
  const std::string init = host::initDocument(ini, "LOG", "NAME", 3);
  char errorText[1024];
  if (plugin->initPlugin(init.data(), static_cast<int32_t>(init.size()), errorText) != 0) std::exit(4);
  const std::string request = host::requestDocument(1);
  const std::string record = host::attributeRecord(3, "x");
  char reply[1024];
  const int32_t status = plugin->score(request.data(), static_cast<int32_t>(request.size()), record.data(),
                                       static_cast<int32_t>(record.size()), record.data(),
                                       static_cast<int32_t>(record.size()), reply, 1000);
  std::exit(status == 0 && server.requestCount() == 2 ? 0 : 5);
}

// The death-test child runs the test body again from the start; the directory travels to it through the
// environment (the child keeps the value it inherited).
std::string sharedDirectory(const test::TempDir& dir) {
  ::setenv("HCS_LOG_TEST_DIR", dir.file("").c_str(), 0);
  return ::getenv("HCS_LOG_TEST_DIR");
}

TEST(PluginLogging, AFailedAttemptIsWrittenToTheConfiguredFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::TempDir dir;
  const std::string shared = sharedDirectory(dir);
  const std::string logFile = shared + "/plugin.log";
  EXPECT_EXIT(scoreOnceWithFirstAttemptFailing("file://" + logFile + " *.*", shared),
              ::testing::ExitedWithCode(0), "");
  const std::string log = test::TempDir::read(logFile);
  ::unsetenv("HCS_LOG_TEST_DIR");
  EXPECT_NE(log.find("WARN"), std::string::npos) << log;
  EXPECT_NE(log.find("CRITICAL ERROR[UVO-00003]: Failed to send 500 Internal Server Error."),
            std::string::npos)
      << log;
}

}  // namespace
}  // namespace hcs
