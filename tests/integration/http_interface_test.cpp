#include "transport/http_interface.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>

#include <gtest/gtest.h>

#include "error/qrm_exception.h"
#include "support/http_test_server.h"
#include "transport/http_client.h"
#include "transport/http_driver.h"
#include "transport/output_interface.h"
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

// One send as "result|status|reply".
std::string sendText(OHTTP& http, const U& message = U(u"<X/>")) {
  U status;
  U reply(u"stale");
  const int32_t result = http.send(nullptr, message, status, &reply);
  return std::to_string(result) + "|" + toStdString(status) + "|" + toStdString(reply);
}

// What `call` returned, or how it failed: "connection: <why>" and "exchange: <why>" from the client, or
// a record as "record code|entries|number|severity|message".
std::string outcome(const std::function<std::string()>& call) {
  try {
    return call();
  } catch (const CHttpConnectException& e) {
    return "connection: " + e.why();
  } catch (const CHttpException& e) {
    return "exchange: " + e.why();
  } catch (const QRM_Exception& e) {
    return "record " + toStdString(e.entry(0).message().code()) + "|" + std::to_string(e.entryCount()) + "|" +
           std::to_string(e.entry(0).number()) + "|" + std::to_string(e.severity()) + "|" + e.what();
  }
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
  EXPECT_EQ(sendText(*http), "0|200 OK|<SCORE>1</SCORE>");
  EXPECT_EQ(sendText(*http), "-1|500 Internal Server Error|<ERROR>boom</ERROR>");
  EXPECT_EQ(sendText(*http), "0|200 OK|ab");
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
  ASSERT_EQ(sendText(*http, U(u"<A>\u00e9\u20ac\U0001F600</A>")), "0|200 OK|") << c.path;
  const test::HttpTestRequest r = server.requests().at(0);
  EXPECT_EQ(r.requestLine, c.requestLine);
  EXPECT_EQ(r.header("Content-Type"), "text/xml; charset=UTF-8");
  EXPECT_EQ(r.body, "<A>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</A>\n");
  EXPECT_EQ(r.header("Content-Length"), std::to_string(r.body.size()));
  EXPECT_FALSE(r.hasHeader("Expect"));
  EXPECT_EQ(r.header("Host"), "127.0.0.1:" + std::to_string(server.port()));
  U status;
  ASSERT_EQ(http->sendUtf8("<A>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</A>", status, nullptr, {}), 0);
  EXPECT_EQ(server.requests().at(1).body, r.body);
}

// The query is no part of the target; a decoded blank goes out encoded again.
INSTANTIATE_TEST_SUITE_P(Table, OHTTPWire,
                         ::testing::Values(WireCase{"/a%20b?retries=2", 1, "POST /a%20b HTTP/1.1"},
                                           WireCase{"", 0, "POST / HTTP/1.0"}));

// The byte path hands back what the UTF-16 path's reply becomes as 8-bit text: ill-formed UTF-8
// (overlong forms, surrogates alone or paired as in CESU-8, past U+10FFFF, cut short) as substituted.
class OHTTPUtf8Reply : public OHTTPTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(OHTTPUtf8Reply, IsTheUtf16ReplyAs8BitText) {
  server.setDefault(HttpTestAnswer::withStatus(500, "Internal Server \xC3\xA9rror", GetParam()));
  auto http = makeInterface(server.uri("/"));
  U status, reply, byteStatus;
  std::string bytes = "stale";
  ASSERT_EQ(http->send(nullptr, U(u"<X/>"), status, &reply), -1);
  ASSERT_EQ(http->sendUtf8("<X/>", byteStatus, &bytes, {}), -1);
  EXPECT_EQ(bytes, toStdString(reply));
  EXPECT_EQ(byteStatus, status);
}

INSTANTIATE_TEST_SUITE_P(Bodies, OHTTPUtf8Reply,
                         ::testing::Values("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBF",
                                           "\xC0\xAF \xC1\xBF \xE0\x80\xAF \xF0\x80\x80\xAF",
                                           "\xED\xA0\xBD\xED\xB8\x80 \xED\xB0\x80 \xED\x9F\xBF",
                                           "\xF4\x90\x80\x80 \xF8\x88\x80\x80\x80 \xFE\xFF \x80", "a\xE2\x82",
                                           "\xF0\x9F\x98", std::string("a\0\xFF", 3)));

// Addresses that can never be connected to fail in the connection step, every time, and the client is
// kept; once the service listens, the next send connects.
TEST(OHTTPConnect, FailsInTheConnectionStepUntilTheServiceListens) {
  HttpTestServer server(/*listening=*/false);
  server.setDefault(HttpTestAnswer::ok("up"));
  for (const std::string& uri : {server.uri("/x"), std::string("http://127.0.0.1:0/x"),
                                 std::string("http:///x"), std::string("http://127.0.0.1:99999/x"),
                                 std::string("http://127.0.0.1:-5/x"), std::string("http://a%3Fb:80/x")}) {
    auto http = makeInterface(uri, 1000);
    for (int i = 0; i < 2; ++i) {
      const std::string failure = outcome([&] { return sendText(*http); });
      EXPECT_TRUE(failure.starts_with("record 0000E|1|0|4|") && failure.size() > 19)
          << uri << ": " << failure;
    }
    EXPECT_EQ(http->idleClients(), 1u) << uri;
    EXPECT_EQ(http->idleConnections(), 0u) << uri;
  }
  auto http = makeInterface(server.uri("/x"));
  EXPECT_NE(outcome([&] { return sendText(*http); }).find(std::to_string(server.port())), std::string::npos);
  server.listen();
  EXPECT_EQ(sendText(*http), "0|200 OK|up");
  EXPECT_EQ(server.connectionsAccepted(), 1u);
}

struct FaultCase {
  const char* name;
  HttpTestAnswer answer;
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

HttpTestAnswer late() {
  HttpTestAnswer slow = HttpTestAnswer::ok("late");
  slow.delay = std::chrono::milliseconds(3000);
  return slow;
}

class OHTTPExchangeFault : public OHTTPTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(OHTTPExchangeFault, DropsTheClientAndTheNextSendReconnects) {
  server.enqueue(GetParam().answer);
  server.setDefault(HttpTestAnswer::ok("again"));
  // Short enough for the late answer to miss it, long enough for every other answer.
  auto http = makeInterface(server.uri("/x"), GetParam().answer.delay.count() > 0 ? 200 : 5000);
  const std::string failure = outcome([&] { return sendText(*http); });
  EXPECT_TRUE(failure.starts_with("exchange: ") && failure.size() > 10) << failure;
  EXPECT_EQ(http->idleClients(), 0u);
  EXPECT_EQ(sendText(*http), "0|200 OK|again");
  EXPECT_EQ(server.connectionsAccepted(), 2u);
  EXPECT_EQ(server.requestCount(), 2u);  // the failed request was not silently sent again
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OHTTPExchangeFault,
    ::testing::Values(FaultCase{"reset", HttpTestAnswer::withFault(Fault::kResetAfterRequest)},
                      FaultCase{"closed", HttpTestAnswer::withFault(Fault::kCloseWithoutAnswer)},
                      FaultCase{"late", late()}),
    [](const auto& info) { return std::string(info.param.name); });

// One connection serves every send while the service keeps it; when the service closes it after each
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
    EXPECT_EQ(sendText(*http, UCString(std::to_string(i))), "0|200 OK|re:" + std::to_string(i) + "\n");
  }
  const bool kept = GetParam() == HttpTestAnswer::Close::kKeepAlive;
  EXPECT_EQ(server.connectionsAccepted(), kept ? 1u : 5u);
  EXPECT_EQ(http->idleClients(), 1u);
  EXPECT_TRUE(!kept || http->idleConnections() == 1u);
}

INSTANTIATE_TEST_SUITE_P(Modes, OHTTPServerCloses,
                         ::testing::Values(HttpTestAnswer::Close::kKeepAlive,
                                           HttpTestAnswer::Close::kAfterAnswer,
                                           HttpTestAnswer::Close::kAfterAnswerSaid));

TEST(OHTTPThreads, ConcurrentSendsEachGetTheirOwnAnswer) {
  HttpTestServer server;
  server.setHandler([](const test::HttpTestRequest& r) { return HttpTestAnswer::ok("echo:" + r.body); });
  auto http = makeInterface(server.uri("/x"));
  constexpr int kThreads = 8;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        const std::string text = "<T" + std::to_string(t * 100 + i) + "/>";
        if (outcome([&] { return sendText(*http, UCString(text)); }) != "0|200 OK|echo:" + text + "\n")
          ++wrong;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(server.requestCount(), size_t{kThreads * 25});
  EXPECT_LE(server.connectionsAccepted(), uint64_t{kThreads});
  EXPECT_LE(http->idleClients(), size_t{kThreads});
}

TEST(HttpClient, RefusesABodyOverTheCapWhetherStreamedOrAnnounced) {
  HttpTestServer server;
  HttpTestAnswer big;
  big.streamBytes = HttpClient::kMaxBodyBytes + 1;
  server.enqueue(big);
  big.headers.emplace_back("Content-Length", std::to_string(big.streamBytes));
  server.enqueue(big);
  const HttpEndpoint endpoint("127.0.0.1", server.port(), 1, 20000);  // the client keeps a reference
  HttpClient client(endpoint);
  const auto post = [&] { return outcome([&] { return client.post("/", "text/xml", "x").body; }); };
  for (const char* how : {"streamed", "announced"}) {
    EXPECT_EQ(post(), "exchange: Reply body larger than 67108864 bytes refused") << how;
  }
}

// A kept connection the service dropped without answering is re-sent on a new one by libcurl itself.
// That must work on the sixth post of a client as on the first, not only five times in its life.
TEST(HttpClient, DeadKeptConnectionIsRetriedOnEveryPostNotOnlyTheFirstFive) {
  HttpTestServer server;
  server.enqueue(HttpTestAnswer::ok("first"));
  for (int i = 0; i < 6; ++i) {
    server.enqueue(HttpTestAnswer::withFault(Fault::kCloseWithoutAnswer));
    server.enqueue(HttpTestAnswer::ok("again"));
  }
  const HttpEndpoint endpoint("127.0.0.1", server.port(), 1, 5000);
  HttpClient client(endpoint);
  const auto post = [&] { return outcome([&] { return client.post("/", "text/xml", "x").body; }); };
  EXPECT_EQ(post(), "first");
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(client.isConnected()) << "post " << i;
    EXPECT_EQ(post(), "again") << "post " << i;
  }
  EXPECT_EQ(server.connectionsAccepted(), 7u);
}

// libcurl re-sends a request whose kept connection died before any answer; when that new connection is
// refused, the failure is a connection failure like any other (retryOn=connect retries it).
TEST(HttpClient, ARefusedReSendIsAConnectionFailure) {
  HttpTestServer server;
  auto requests = std::make_shared<std::atomic<int>>(0);
  server.setResetBeforeRequest([requests] { return (*requests)++ > 0; });  // all but the first
  const HttpEndpoint endpoint("127.0.0.1", server.port(), 1, 5000);
  HttpClient client(endpoint);
  EXPECT_EQ(client.post("/", "text/xml", "x").code, 200);
  ASSERT_TRUE(client.isConnected());
  server.closeListener();
  try {
    client.post("/", "text/xml", "x");
    ADD_FAILURE() << "the post went through";
  } catch (const CHttpException& e) {
    EXPECT_EQ(e.failure(), AttemptResult::kConnect) << e.why();
    EXPECT_NE(dynamic_cast<const CHttpConnectException*>(&e), nullptr) << e.why();
  }
}

// A failed exchange gives back the memory a huge reply grew, as a good one does.
TEST_F(OHTTPTest, AReplyOverTheCapLeavesNoBufferBehind) {
  HttpTestAnswer huge;
  huge.streamBytes = HttpClient::kMaxBodyBytes + 1;
  server.enqueue(huge);
  const auto http = makeInterface(server.uri("/"));
  const auto inUse = [] {
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
  };
  const size_t before = inUse();
  U status;
  std::string reply;
  EXPECT_THROW(http->sendUtf8("<X/>", status, &reply, {}), CHttpException);
  EXPECT_LT(inUse(), before + 4 * 1024 * 1024);
}

// A 2xx answer returns with the reply; any other becomes the "7302E" record; transport failures pass.
TEST(SendOrThrow, TurnsOnlyAFailedStatusIntoARecord) {
  HttpTestServer server;
  // The reset comes first: on a kept connection libcurl would quietly send the request again.
  server.enqueue(HttpTestAnswer::withFault(Fault::kResetAfterRequest));
  server.enqueue(HttpTestAnswer::ok("<R/>"));
  server.enqueue(HttpTestAnswer::withStatus(500, "Internal Server Error", "<E/>"));
  const std::unique_ptr<OInterface> http = OHTTPDriver().create(UCString(server.uri("/s")));
  U reply;
  const auto send = [&] {
    return outcome([&] {
      sendOrThrow(*http, nullptr, U(u"<Q/>"), &reply);
      return std::string("sent");
    });
  };
  EXPECT_TRUE(send().starts_with("exchange: "));
  EXPECT_EQ(send(), "sent");
  EXPECT_EQ(reply, U(u"<R/>"));
  EXPECT_EQ(send(), "record 7302E|1|3|4|Failed to send 500 Internal Server Error.");
  EXPECT_EQ(reply, U(u"<E/>"));
}

}  // namespace
}  // namespace hcs
