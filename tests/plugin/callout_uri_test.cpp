// Callout URIs as initPlugin takes them from the configuration: which it refuses, and that an accepted one
// reaches the service with a bounded number of attempts.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "../config/ini_fixture.h"
#include "log/log_message.h"
#include "plugin/init_plugin.h"
#include "plugin/score.h"
#include "support/capturing_dispatcher.h"
#include "support/http_test_server.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;
using test::HttpTestServer;

struct CalloutCase {
  const char* name;
  std::string uri;  // "{port}" stands for the loopback service's port
  bool accepted;
  size_t warnings;  // logged by initPlugin
};

void PrintTo(const CalloutCase& c, std::ostream* out) { *out << c.name; }

class CalloutUri : public ::testing::TestWithParam<CalloutCase> {};

TEST_P(CalloutUri, IsRefusedOrReachesTheServiceOnce) {
  static std::atomic<int32_t> nextId{14100};
  const std::string id = std::to_string(nextId++);
  HttpTestServer server;
  server.setDefault(HttpTestAnswer::ok("<SCORE>1</SCORE>"));
  std::string uri = GetParam().uri;
  if (const size_t at = uri.find("{port}"); at != std::string::npos)
    uri.replace(at, 6, std::to_string(server.port()));
  test::TempDir dir;
  const std::string doc =
      "<INIT><CONFIG_FILE>" + dir.write("c.ini", "[ATTR_URI]\nNAME=" + uri + "\n") +
      "</CONFIG_FILE><NODE_NAME>APP</NODE_NAME><ATTR_TYPE>NAME</ATTR_TYPE><ATTR_TYPE_ID>" + id +
      "</ATTR_TYPE_ID></INIT>";

  test::CapturingDispatcher log;
  std::string error(1024, '\x7f');
  const int32_t init = initializePlugin(doc.data(), static_cast<int32_t>(doc.size()), error.data());
  size_t warnings = 0;
  for (const auto& entry : log.entries()) warnings += entry.level == kLogWarning ? 1 : 0;
  EXPECT_EQ(warnings, GetParam().warnings) << uri;
  if (!GetParam().accepted) {
    EXPECT_EQ(init, -1) << uri;
    EXPECT_STREQ(error.c_str(), ("<ERROR>Malformed HTTP Callout URI: [" + uri + "]</ERROR>").c_str());
    return;
  }
  ASSERT_EQ(init, 0) << error.c_str();
  const std::string record = "<ATTRIBUTE><ATTR_TYPE_ID>" + id + "</ATTR_TYPE_ID></ATTRIBUTE>";
  std::string result(4097, '\x7f');
  EXPECT_EQ(scoreRequest("<REQ/>", 6, record.data(), static_cast<int32_t>(record.size()), record.data(),
                         static_cast<int32_t>(record.size()), result.data(), 4096),
            0)
      << result.c_str();
  EXPECT_EQ(server.requestCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CalloutUri,
    ::testing::Values(
        // 4295014607 is 47311 modulo 2^32: it must not wrap to some other port.
        CalloutCase{"port_wrapping_32_bits", "http://127.0.0.1:4295014607/x", false, 0},
        CalloutCase{"port_65536", "http://127.0.0.1:65536/x", false, 0},
        CalloutCase{"port_with_leading_zeros", "http://127.0.0.1:000{port}/x", true, 0},
        CalloutCase{"retries_int32_max", "http://127.0.0.1:{port}/x?retries=2147483647", true, 1},
        CalloutCase{"retries_uint32_max", "http://127.0.0.1:{port}/x?retries=4294967295", true, 1},
        CalloutCase{"retries_101", "http://127.0.0.1:{port}/x?retries=101", true, 1},
        CalloutCase{"retries_100", "http://127.0.0.1:{port}/x?retries=100", true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hcs
