// The clients of hcs bench's baselines and the bytes they post, against the loopback server and the
// loaded plugin.
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bench/call_pattern.h"
#include "bench/curl_clients.h"
#include "bench/floor_client.h"
#include "config/ini_fixture.h"
#include "host/pairs.h"
#include "host/plugin_library.h"
#include "support/http_test_server.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;
// One post of each baseline's client, whichever it is.
std::function<bool(std::string_view)> clientOf(const std::string& kind, const std::string& url) {
  if (kind == "floor") {
    bench::HttpTarget target;
    bench::parseHttpTarget(url, target);
    auto client = std::make_shared<bench::FloorClient>(target);
    return [client](std::string_view body) { return client->post(body); };
  }
  bench::ServiceUrl service;
  std::string why;
  EXPECT_TRUE(bench::readServiceUrl(url, service, why)) << why;
  if (kind == "curl-multi") {
    auto client = std::make_shared<bench::CurlMultiClient>(service);
    return [client](std::string_view body) { return client->post(body); };
  }
  auto client = std::make_shared<bench::CurlEasyClient>(service);
  return [client](std::string_view body) { return client->post(body); };
}

class BenchClient : public ::testing::TestWithParam<std::string> {};

// Each baseline must post what the plugin posts (the same head fields and body), keep its connection,
// and count a bad reply as a failure and then carry on with a new connection.
TEST_P(BenchClient, PostsThePluginsHeadOnAKeptConnectionAndCarriesOnAfterAFailure) {
  test::HttpTestServer server;
  server.enqueue(HttpTestAnswer::ok("<SCORE/>"), 2);
  server.enqueue(HttpTestAnswer::withFault(HttpTestAnswer::Fault::kGarbageStatusLine));
  server.enqueue(HttpTestAnswer::withStatus(500, "Internal Server Error", "busy"));
  server.setDefault(HttpTestAnswer::ok("<SCORE/>"));
  const auto post = clientOf(GetParam(), server.uri("/score"));
  const std::string body = "<ATTRS_TO_SCORE><R/></ATTRS_TO_SCORE>\n";
  std::string results;
  for (int i = 0; i < 5; ++i) results += post(body) ? "ok " : "failed ";
  EXPECT_EQ(results, "ok ok failed failed ok ");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 5u);
  for (const auto& request : requests) {
    std::vector<std::string> names;
    for (const auto& header : request.headers) names.push_back(header.first);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(request.requestLine + " " + testing::PrintToString(names),
              "POST /score HTTP/1.1 { \"Content-Length\", \"Content-Type\", \"Host\" }");
    EXPECT_EQ(request.header("Content-Type"), "text/xml; charset=UTF-8");
    EXPECT_EQ(request.body, body);
  }
  EXPECT_EQ(requests[1].connection, requests[0].connection);
  EXPECT_EQ(requests[2].connection, requests[0].connection);
  EXPECT_NE(requests[3].connection, requests[2].connection);  // the garbage reply ended the first
}

// A service that closes each connection after its reply, saying so: every post is answered, each on a
// connection of its own.
TEST_P(BenchClient, FollowsAServiceThatClosesEachConnectionAfterItsReply) {
  test::HttpTestServer server;
  HttpTestAnswer closing = HttpTestAnswer::ok("<SCORE/>");
  closing.close = HttpTestAnswer::Close::kAfterAnswerSaid;
  server.setDefault(closing);
  const auto post = clientOf(GetParam(), server.uri("/score"));
  std::string results;
  for (int i = 0; i < 3; ++i) results += post("<R/>") ? "ok " : "failed ";
  EXPECT_EQ(results, "ok ok ok ");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_NE(requests[1].connection, requests[0].connection);
  EXPECT_NE(requests[2].connection, requests[1].connection);
}

INSTANTIATE_TEST_SUITE_P(Baselines, BenchClient, ::testing::Values("floor", "curl-multi", "curl-easy"));

// The baselines post the pattern's wire documents: they must be what the plugin itself posts for the
// pattern's three documents, or the comparison is of different work.
TEST(BenchWireDocument, IsByteForByteWhatThePluginPostsForEachPattern) {
  test::HttpTestServer server;
  server.setDefault(HttpTestAnswer::ok("<SCORE_RESULT><SCORE>1</SCORE></SCORE_RESULT>"));
  test::TempDir dir;
  const std::string ini = dir.write("bench.ini", "[ATTR_URI]\nBENCH=" + server.uri("/score") + "\n");
  std::string error;
  const auto plugin = host::PluginLibrary::open(HCS_PLUGIN_PATH, error);
  ASSERT_NE(plugin, nullptr) << error;
  const std::string init = host::initDocument(ini, "BENCH", "BENCH", 1);
  char text[4097] = "";
  ASSERT_EQ(plugin->initPlugin(init.data(), static_cast<int32_t>(init.size()), text), 0) << text;
  for (const char* pattern : bench::kPatterns) {
    const auto calls = bench::callsOf(pattern);
    for (size_t i = 0; i < std::min<size_t>(calls.size(), 2); ++i) {
      const bench::CallDocuments& call = calls[i];
      ASSERT_EQ(plugin->score(call.request.data(), static_cast<int32_t>(call.request.size()),
                              call.inbound.data(), static_cast<int32_t>(call.inbound.size()),
                              call.matched.data(), static_cast<int32_t>(call.matched.size()), text, 4096),
                0)
          << text;
      EXPECT_EQ(server.requests().back().body, call.wire) << pattern << " " << i;
    }
  }
}

}  // namespace
}  // namespace hcs
