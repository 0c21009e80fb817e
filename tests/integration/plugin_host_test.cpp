// The plugin as a host runs it, in a fresh process (the library reads HTTPCALLOUT_LOG when it is loaded):
// a death-test child loads it with dlopen and logging switched on by that variable, initialises it from an
// .ini file and scores against a service whose first answer is a 500; it exits 0 when all went as the host
// expects, else says on stderr what did not. The parent then reads the log the child wrote.
#include <cstdio>
#include <filesystem>

#include <stdlib.h>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "host/pairs.h"
#include "host/plugin_library.h"
#include "support/http_test_server.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;

constexpr char kReply[] = "<SCORE_RESULT><SCORE>1</SCORE></SCORE_RESULT>";

// What went wrong for the host, "" when nothing did.
std::string hostOnce(const test::TempDir& dir, const test::HttpTestServer& server) {
  std::string error;
  const auto plugin = host::PluginLibrary::open(HCS_PLUGIN_PATH, error);
  if (plugin == nullptr) return error;
  const std::string ini =
      dir.write("host.ini", "; callouts\n[ATTR_URI]\nNAME = " + server.uri("/score") + "\n");
  const std::string init = host::initDocument(ini, "HOST", "NAME", 5);
  char errorText[1024] = "";
  if (plugin->initPlugin(init.data(), static_cast<int32_t>(init.size()), errorText) != 0) return errorText;
  // A failure the plugin does not handle reaches the host as a std::exception it can catch.
  const std::string missing = host::initDocument(ini, "HOST", "EMAIL", 7);
  try {
    plugin->initPlugin(missing.data(), static_cast<int32_t>(missing.size()), errorText);
    return "a missing parameter threw nothing";
  } catch (const std::exception&) {
  }
  const std::string request = host::requestDocument(1), record = host::attributeRecord(5, "Martha Jones");
  char reply[4097] = "";
  const int32_t status = plugin->score(request.data(), static_cast<int32_t>(request.size()), record.data(),
                                       static_cast<int32_t>(record.size()), record.data(),
                                       static_cast<int32_t>(record.size()), reply, 4096);
  const std::string answer =
      std::to_string(status) + "|" + reply + "|" + std::to_string(server.requestCount());
  return answer == "0|" + std::string(kReply) + "|2" ? "" : answer;
}

TEST(PluginHost, LogsAsTheEnvironmentSaysInitialisesFromAnIniFileAndScores) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::TempDir dir;
  // The child runs this body again from the start, with a directory of its own: the log file travels to
  // it through the environment (the child keeps the value it inherited).
  ::setenv("HCS_HOST_TEST_LOG", dir.file("plugin.log").c_str(), 0);
  const std::string logFile = ::getenv("HCS_HOST_TEST_LOG");
  EXPECT_EXIT(
      {
        ::setenv("HTTPCALLOUT_LOG", ("file://" + logFile + " *.*").c_str(), 1);
        test::HttpTestServer server;
        server.enqueue(HttpTestAnswer::withStatus(500, "Internal Server Error", "busy"));
        server.setDefault(HttpTestAnswer::ok(kReply));
        const std::string failure = hostOnce(dir, server);
        std::fputs(failure.c_str(), stderr);
        std::filesystem::remove_all(dir.file(""));  // exit() runs no destructor of this body
        std::exit(failure.empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  const std::string log = test::TempDir::read(logFile);
  ::unsetenv("HCS_HOST_TEST_LOG");
  EXPECT_NE(log.find("WARN"), std::string::npos) << log;
  EXPECT_NE(log.find("ERROR[UVO-00003]: Failed to send 500 Internal Server Error."), std::string::npos)
      << log;
}

}  // namespace
}  // namespace hcs
