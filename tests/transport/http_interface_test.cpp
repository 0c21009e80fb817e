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

TEST_F(OHTTPTest, AnswerIsReturnedWithItsStatusText) {
  server.enqueue(HttpTestAnswer::ok("<SCORE>1</SCORE>"));
  server.enqueue(HttpTestAnswer::withStatus(500, "Internal Server Error", "<ERROR>boom</ERROR>"));
  auto http = makeInterface(server.uri("/score"));

  const Outcome ok = sendText(*http);
  EXPECT_EQ(ok.result, 0);
  EXPECT_EQ(ok.status, "200 OK");
  EXPECT_EQ(ok.reply, "<SCORE>1</SCORE>");

  const Outcome failed = sendText(*http);
  EXPECT_EQ(failed.result, -1);
  EXPECT_EQ(failed.status, "500 Internal Server Error");
  EXPECT_EQ(failed.reply, "<ERROR>boom</ERROR>");
}

TEST_F(OHTTPTest, ReplyIsCutAtNulByte) {
  server.enqueue(HttpTestAnswer::ok(std::string("ab\0cd", 5)));
  auto http = makeInterface(server.uri("/"));
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
  const char* name;
  std::string path;  // as written in the URI
  int32_t version;
  std::string requestLine;  // as the server must read it
};

class OHTTPWire : public OHTTPTest, public ::testing::WithParamInterface<WireCase> {};

TEST_P(OHTTPWire, RequestCarriesPathContentTypeAndUtf8BodyWithLineFeed) {
  const WireCase& c = GetParam();
  auto http = makeInterface(server.uri(c.path), 5000, c.version);
  const U message(u"<A>\u00e9\u20ac\U0001F600</A>");
  ASSERT_EQ(sendText(*http, message).result, 0);

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

INSTANTIATE_TEST_SUITE_P(
    Table, OHTTPWire,
    ::testing::Values(WireCase{"plain_path", "/score/pair", 1, "POST /score/pair HTTP/1.1"},
                      WireCase{"query_is_not_sent", "/score?retries=2", 1, "POST /score HTTP/1.1"},
                      WireCase{"no_path", "", 1, "POST / HTTP/1.1"},
                      WireCase{"decoded_blank_stays_one_token", "/a%20b", 1, "POST /a%20b HTTP/1.1"},
                      WireCase{"http_1_0", "/x", 0, "POST /x HTTP/1.0"}),
    [](const auto& info) { return std::string(info.param.name); });

struct RetriesCase {
  const char* name;
  std::string query;
  int32_t retries;
};

class OHTTPRetries : public ::testing::TestWithParam<RetriesCase> {};

TEST_P(OHTTPRetries, ReadsOnlyAllDigitValues) {
  EXPECT_EQ(makeInterface("http://127.0.0.1:1/x" + GetParam().query)->retries(), GetParam().retries);
}

INSTANTIATE_TEST_SUITE_P(Table, OHTTPRetries,
                         ::testing::Values(RetriesCase{"absent", "", 3}, RetriesCase{"zero", "?retries=0", 0},
                                           RetriesCase{"empty", "?retries=", 0},
                                           RetriesCase{"seven", "?a=b&retries=7", 7},
                                           RetriesCase{"negative", "?retries=-1", 3},
                                           RetriesCase{"letter", "?retries=x", 3},
                                           RetriesCase{"digit_then_letter", "?retries=2x", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OHTTP, UriWithoutPortGivesTheHttpDefault) {
  EXPECT_EQ(makeInterface("http://127.0.0.1/x")->endpoint().port(), 80);
  EXPECT_EQ(makeInterface("http://127.0.0.1:8080/x")->endpoint().port(), 8080);
}

// Addresses that can never be connected to fail in the connection step, every time.
class OHTTPBadAddress : public ::testing::TestWithParam<const char*> {};

TEST_P(OHTTPBadAddress, FailsInTheConnectionStep) {
  auto http = makeInterface(GetParam(), 1000);
  expectConnectionFailure(*http);
  expectConnectionFailure(*http);
  EXPECT_EQ(http->idleClients(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, OHTTPBadAddress,
                         ::testing::Values("http://127.0.0.1:0/x", "http://127.0.0.1:99999/x",
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

class OHTTPExchangeFault : public OHTTPTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(OHTTPExchangeFault, DropsTheClientAndTheNextSendReconnects) {
  server.enqueue(HttpTestAnswer::withFault(GetParam()));
  server.setDefault(HttpTestAnswer::ok("again"));
  auto http = makeInterface(server.uri("/x"));

  try {
    sendText(*http);
    FAIL() << "the exchange did not fail";
  } catch (const CHttpException& e) {
    EXPECT_FALSE(dynamic_cast<const CHttpConnectException*>(&e));
    EXPECT_FALSE(e.why().empty());
  }
  EXPECT_EQ(http->idleClients(), 0u);

  EXPECT_EQ(sendText(*http).reply, "again");
  EXPECT_EQ(server.connectionsAccepted(), 2u);
  EXPECT_EQ(server.requestCount(), 2u);  // the failed request was not silently sent again
}

INSTANTIATE_TEST_SUITE_P(Faults, OHTTPExchangeFault,
                         ::testing::Values(Fault::kResetAfterRequest, Fault::kCloseWithoutAnswer,
                                           Fault::kGarbageStatusLine, Fault::kTruncatedBody));

TEST_F(OHTTPTest, ReplyTimeoutIsAnExchangeFailure) {
  HttpTestAnswer slow = HttpTestAnswer::ok("late");
  slow.delay = std::chrono::milliseconds(3000);
  server.enqueue(slow);
  auto http = makeInterface(server.uri("/x"), 200);
  EXPECT_THROW(sendText(*http), CHttpException);
  EXPECT_EQ(http->idleClients(), 0u);
}

TEST_F(OHTTPTest, KeepAliveUsesOneConnectionForManySends) {
  auto http = makeInterface(server.uri("/x"));
  for (int i = 0; i < 10; ++i) ASSERT_EQ(sendText(*http).result, 0);
  EXPECT_EQ(server.connectionsAccepted(), 1u);
  EXPECT_EQ(http->idleClients(), 1u);
  EXPECT_EQ(http->idleConnections(), 1u);
}

class OHTTPServerCloses : public OHTTPTest, public ::testing::WithParamInterface<HttpTestAnswer::Close> {};

TEST_P(OHTTPServerCloses, EverySendStillGetsItsAnswer) {
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
  EXPECT_EQ(server.connectionsAccepted(), 5u);
}

INSTANTIATE_TEST_SUITE_P(Modes, OHTTPServerCloses,
                         ::testing::Values(HttpTestAnswer::Close::kAfterAnswer,
                                           HttpTestAnswer::Close::kAfterAnswerSaid));

TEST_F(OHTTPTest, ConcurrentSendsEachGetTheirOwnAnswer) {
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
