#include "transport/http_interface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "error/qrm_exception.h"
#include "support/http_test_server.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;
using test::HttpTestServer;
using U = icu::UnicodeString;
using Fault = HttpTestAnswer::Fault;

std::unique_ptr<OHTTP> makeInterface(const std::string& uri, uint32_t timeoutMs = 5000, int32_t version = 1) {
  return std::make_unique<OHTTP>(CUri(UCString(uri)), timeoutMs, version);
}

struct Outcome {
  int32_t result;
  std::string status;
  std::string reply;
};

Outcome sendText(OHTTP& http, const U& message = U(u"<X/>")) {
  U status;
  U reply(u"stale");
  const int32_t result = http.send(nullptr, message, status, &reply);
  return {result, toStdString(status), toStdString(reply)};
}

// The connection step's failure: the "0000E" text record with the transport's message.
std::string expectConnectionFailure(OHTTP& http) {
  try {
    sendText(http);
  } catch (const QRM_Exception& e) {
    EXPECT_EQ(e.entryCount(), 1);
    EXPECT_EQ(e.entry(0).message().code(), U(u"0000E"));
    EXPECT_EQ(e.entry(0).number(), 0u);
    EXPECT_EQ(e.severity(), kSeverityCritical);
    EXPECT_STRNE(e.what(), "");
    return e.what();
  }
  ADD_FAILURE() << "no connection failure";
  return {};
}

class OHTTPTest : public ::testing::Test {
 protected:
  HttpTestServer server;
};

TEST_F(OHTTPTest, AnswerIsReturnedWithItsStatusTextUpToANul) {
  server.enqueue(HttpTestAnswer::ok("<SCORE>1</SCORE>"));
  server.enqueue(HttpTestAnswer::withStatus(500, "Internal Server Error", "<ERROR>boom</ERROR>"));
  server.enqueue(HttpTestAnswer::ok(std::string("ab\0cd", 5)));
  auto http = makeInterface(server.uri("/score"));
  const Outcome ok = sendText(*http);
  EXPECT_EQ(ok.result, 0);
  EXPECT_EQ(ok.status, "200 OK");
  EXPECT_EQ(ok.reply, "<SCORE>1</SCORE>");
  const Outcome failed = sendText(*http);
  EXPECT_EQ(failed.result, -1);
  EXPECT_EQ(failed.status, "500 Internal Server Error");
  EXPECT_EQ(failed.reply, "<ERROR>boom</ERROR>");
  EXPECT_EQ(sendText(*http).reply, "ab");
}

TEST_F(OHTTPTest, MessageThatIsNoValidUtf16FailsBeforeAnythingIsSent) {
  auto http = makeInterface(server.uri("/"));
  const UChar loneSurrogate[] = {u'<', 0xD800, u'>'};
  EXPECT_THROW(sendText(*http, U(loneSurrogate, 3)), QRM_Exception);
  EXPECT_EQ(server.connectionsAccepted(), 0u);
  EXPECT_EQ(http->idleClients(), 1u);  // the client is not lost
}

struct WireCase {
  std::string path;  // as written in the URI
  int32_t version;
  std::string requestLine;  // as the server must read it
};

class OHTTPWire : public OHTTPTest, public ::testing::WithParamInterface<WireCase> {};

TEST_P(OHTTPWire, RequestCarriesPathContentTypeAndUtf8BodyWithLineFeed) {
  const WireCase& c = GetParam();
  auto http = makeInterface(server.uri(c.path), 5000, c.version);
  ASSERT_EQ(sendText(*http, U(u"<A>\u00e9\u20ac\U0001F600</A>")).result, 0) << c.path;
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.requestLine, c.requestLine);
  EXPECT_EQ(r.header("Content-Type"), "text/xml; charset=UTF-8");
  EXPECT_EQ(r.body, "<A>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</A>\n");
  EXPECT_EQ(r.header("Content-Length"), std::to_string(r.body.size()));
  EXPECT_FALSE(r.hasHeader("Expect"));
  EXPECT_EQ(r.header("Host"), "127.0.0.1:" + std::to_string(server.port()));
}

INSTANTIATE_TEST_SUITE_P(Table, OHTTPWire,
                         ::testing::Values(WireCase{"/score/pair", 1, "POST /score/pair HTTP/1.1"},
                                           WireCase{"/score?retries=2", 1, "POST /score HTTP/1.1"},
                                           WireCase{"", 1, "POST / HTTP/1.1"},
                                           WireCase{"/a%20b", 1, "POST /a%20b HTTP/1.1"},
                                           WireCase{"/x", 0, "POST /x HTTP/1.0"}));

struct SettingsCase {
  std::string uri;
  int32_t retries;
  int32_t port;  // no default port is filled in
};

class OHTTPSettings : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(OHTTPSettings, RetriesTakeOnlyAllDigitValues) {
  const auto http = makeInterface(GetParam().uri);
  EXPECT_EQ(http->retries(), GetParam().retries) << GetParam().uri;
  EXPECT_EQ(http->endpoint().port(), GetParam().port) << GetParam().uri;
}

INSTANTIATE_TEST_SUITE_P(Table, OHTTPSettings,
                         ::testing::Values(SettingsCase{"http://127.0.0.1/x", 3, 0},
                                           SettingsCase{"http://127.0.0.1:8080/x?retries=0", 0, 8080},
                                           SettingsCase{"http://h:1/x?retries=", 0, 1},
                                           SettingsCase{"http://h:1/x?a=b&retries=7", 7, 1},
                                           SettingsCase{"http://h:1/x?retries=-1", 3, 1},
                                           SettingsCase{"http://h:1/x?retries=x", 3, 1},
                                           SettingsCase{"http://h:1/x?retries=2x", 3, 1}));

// Addresses that can never be connected to fail in the connection step, every time, keeping the client.
class OHTTPBadAddress : public ::testing::TestWithParam<const char*> {};

TEST_P(OHTTPBadAddress, FailsInTheConnectionStep) {
  auto http = makeInterface(GetParam(), 1000);
  expectConnectionFailure(*http);
  expectConnectionFailure(*http);
  EXPECT_EQ(http->idleClients(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, OHTTPBadAddress,
                         ::testing::Values("http://127.0.0.1/x", "http://127.0.0.1:99999/x",
                                           "http://127.0.0.1:-5/x", "http://a%3Fb:80/x", "http:///x"));

TEST(OHTTPConnect, RefusedConnectionFailsThenLaterSendConnects) {
  HttpTestServer server(/*listening=*/false);
  server.setDefault(HttpTestAnswer::ok("up"));
  auto http = makeInterface(server.uri("/x"));
  EXPECT_NE(expectConnectionFailure(*http).find(std::to_string(server.port())), std::string::npos);
  EXPECT_EQ(http->idleClients(), 1u);  // the client is kept, only not connected
  EXPECT_EQ(http->idleConnections(), 0u);
  server.listen();
  EXPECT_EQ(sendText(*http).reply, "up");
  EXPECT_EQ(server.connectionsAccepted(), 1u);
}

HttpTestAnswer late() {
  HttpTestAnswer slow = HttpTestAnswer::ok("late");
  slow.delay = std::chrono::milliseconds(3000);
  return slow;
}

class OHTTPExchangeFault : public OHTTPTest, public ::testing::WithParamInterface<HttpTestAnswer> {};

TEST_P(OHTTPExchangeFault, DropsTheClientAndTheNextSendReconnects) {
  server.enqueue(GetParam());
  server.setDefault(HttpTestAnswer::ok("again"));
  // Short enough for the late answer to miss it, long enough for every other answer.
  auto http = makeInterface(server.uri("/x"), GetParam().delay.count() > 0 ? 200 : 5000);
  try {
    sendText(*http);
    FAIL() << "the exchange did not fail";
  } catch (const CHttpException& e) {
    EXPECT_FALSE(dynamic_cast<const CHttpConnectException*>(&e)) << e.why();
    EXPECT_FALSE(e.why().empty());
  }
  EXPECT_EQ(http->idleClients(), 0u);
  EXPECT_EQ(sendText(*http).reply, "again");
  EXPECT_EQ(server.connectionsAccepted(), 2u);
  EXPECT_EQ(server.requestCount(), 2u);  // the failed request was not silently sent again
}

INSTANTIATE_TEST_SUITE_P(Faults, OHTTPExchangeFault,
                         ::testing::Values(HttpTestAnswer::withFault(Fault::kResetAfterRequest),
                                           HttpTestAnswer::withFault(Fault::kCloseWithoutAnswer),
                                           HttpTestAnswer::withFault(Fault::kGarbageStatusLine),
                                           HttpTestAnswer::withFault(Fault::kTruncatedBody), late()));

// One connection serves many sends while the service keeps it; when the service closes it after each
// answer, said or unsaid, every send still gets its answer on a new one.
class OHTTPServerCloses : public OHTTPTest, public ::testing::WithParamInterface<HttpTestAnswer::Close> {};

TEST_P(OHTTPServerCloses, EverySendGetsItsAnswer) {
  server.setHandler([](const test::HttpTestRequest& r) {
    HttpTestAnswer a = HttpTestAnswer::ok("re:" + r.body);
    a.close = GetParam();
    return a;
  });
  auto http = makeInterface(server.uri("/x"));
  for (int i = 0; i < 5; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_EQ(sendText(*http, UCString(n)).reply, "re:" + n + "\n");
  }
  const bool kept = GetParam() == HttpTestAnswer::Close::kKeepAlive;
  EXPECT_EQ(server.connectionsAccepted(), kept ? 1u : 5u);
  EXPECT_EQ(http->idleClients(), 1u);
  if (kept) {
    EXPECT_EQ(http->idleConnections(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, OHTTPServerCloses,
                         ::testing::Values(HttpTestAnswer::Close::kKeepAlive, HttpTestAnswer::Close::kAfterAnswer,
                                           HttpTestAnswer::Close::kAfterAnswerSaid));

TEST(OHTTPThreads, ConcurrentSendsEachGetTheirOwnAnswer) {
  HttpTestServer server;
  server.setHandler([](const test::HttpTestRequest& r) { return HttpTestAnswer::ok("echo:" + r.body); });
  auto http = makeInterface(server.uri("/x"));
  constexpr int kThreads = 8;
  constexpr int kSends = 25;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kSends; ++i) {
        const std::string text = "<T" + std::to_string(t) + "_" + std::to_string(i) + "/>";
        try {
          const Outcome o = sendText(*http, UCString(text));
          if (o.result != 0 || o.reply != "echo:" + text + "\n") ++wrong;
        } catch (...) {
          ++wrong;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(server.requestCount(), size_t{kThreads * kSends});
  EXPECT_LE(server.connectionsAccepted(), uint64_t{kThreads});
  EXPECT_LE(http->idleClients(), size_t{kThreads});
}

}  // namespace
}  // namespace hcs
