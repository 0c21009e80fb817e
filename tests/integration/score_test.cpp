// score end to end: the exported function, a real OHTTP on libcurl, a real loopback server.
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/callout_registry.h"
#include "plugin/plugin.h"
#include "support/http_test_server.h"
#include "transport/http_interface.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;
using test::HttpTestServer;

constexpr char kReply[] = "<SCORE_RESULT><SCORE>0.93</SCORE></SCORE_RESULT>";

// Entries never leave the process-wide registry, so every test files its interface under a fresh key.
int32_t registerInterface(const std::string& uri) {
  static std::atomic<int32_t> nextKey{7000};
  const int32_t key = nextKey++;
  EXPECT_TRUE(calloutRegistry().insert(key, std::make_unique<OHTTP>(CUri(UCString(uri)), 10000, 1)));
  return key;
}

std::string attribute(const std::string& type, const std::string& value, const std::string& root = "ATTRIBUTE") {
  return "<" + root + "><ATTR_TYPE_ID>" + type + "</ATTR_TYPE_ID><VALUE>" + value + "</VALUE></" + root + ">";
}

struct Result {
  int32_t status;
  std::string text;
};

Result callScore(const std::string& request, const std::string& inbound, const std::string& matched,
                 uint32_t maxResultSize = 4096) {
  std::string buffer(maxResultSize + 1, '\x7f');
  const int32_t status = scoreImpl(request.data(), static_cast<int32_t>(request.size()), inbound.data(),
                               static_cast<int32_t>(inbound.size()), matched.data(),
                               static_cast<int32_t>(matched.size()), buffer.data(), maxResultSize);
  return {status, std::string(buffer.c_str())};
}

std::string errorDocument(const std::string& text) { return "<SCORE_RESULT><ERROR>" + text + "</ERROR></SCORE_RESULT>"; }

class ScoreTest : public ::testing::Test {
 protected:
  void SetUp() override { server_.setDefault(HttpTestAnswer::ok(kReply)); }
  HttpTestServer server_;
};

TEST_F(ScoreTest, PostsTheWrappedDocumentAndHandsBackTheReply) {
  const std::string key = std::to_string(registerInterface(server_.uri("/score/run")));
  const Result r = callScore("<req mode='fast'><Opt>keep Case</Opt></req>",
                             attribute(key, "Ann \xc3\x9cnal"), attribute(key, "Anne"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.text, kReply);
  ASSERT_EQ(server_.requestCount(), 1u);
  const auto request = server_.requests()[0];
  EXPECT_EQ(request.requestLine, "POST /score/run HTTP/1.1");
  EXPECT_EQ(request.header("Content-Type"), "text/xml; charset=UTF-8");
  EXPECT_EQ(request.body, "<ATTRS_TO_SCORE><REQ MODE=\"FAST\"><OPT>keep Case</OPT></REQ>"
                          "<ATTR1><ATTR_TYPE_ID>" + key + "</ATTR_TYPE_ID><VALUE>Ann \xc3\x9cnal</VALUE></ATTR1>"
                          "<ATTR2><ATTR_TYPE_ID>" + key + "</ATTR_TYPE_ID><VALUE>Anne</VALUE></ATTR2>"
                          "</ATTRS_TO_SCORE>\n");
}

TEST_F(ScoreTest, LowerCaseRootKeepsItsNameAndItsTypeIsStillFound) {
  const std::string key = std::to_string(registerInterface(server_.uri("/")));
  const Result r = callScore("<R/>", attribute(key, "a", "attribute"), attribute(key, "b"));
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(server_.requestCount(), 1u);
  EXPECT_NE(server_.requests()[0].body.find("<R/><ATTRIBUTE><ATTR_TYPE_ID>"), std::string::npos)
      << server_.requests()[0].body;
}

TEST_F(ScoreTest, ServerErrorsAreRetriedAndOnlyLogged) {
  server_.enqueue(HttpTestAnswer::withStatus(500, "Internal Server Error", "busy"), 3);
  const std::string key = std::to_string(registerInterface(server_.uri("/")));
  const Result r = callScore("<R/>", attribute(key, "a"), attribute(key, "b"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.text, kReply);
  EXPECT_EQ(server_.requestCount(), 4u);
}

TEST_F(ScoreTest, NoRetriesMeansOneAttempt) {
  server_.setDefault(HttpTestAnswer::withStatus(503, "Service Unavailable", "down"));
  const std::string key = std::to_string(registerInterface(server_.uri("/x?retries=0")));
  const Result r = callScore("<R/>", attribute(key, "a"), attribute(key, "b"));
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.text, errorDocument("HTTP Callout: Failed to receive message despite retries"));
  EXPECT_EQ(server_.requestCount(), 1u);
}

TEST(ScoreUnreachable, EveryAttemptFailsToConnectAndTheReplyIsEmpty) {
  HttpTestServer closed(false);  // bound but not listening: connections are refused
  const std::string key = std::to_string(registerInterface(closed.uri("/")));
  const Result r = callScore("<R/>", attribute(key, "a"), attribute(key, "b"));
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.text, errorDocument("HTTP Callout: Result message was returned empty"));
}

TEST_F(ScoreTest, ResetThenSuccessStillFailsTheCallWithTheLibraryText) {
  server_.enqueue(HttpTestAnswer::withFault(HttpTestAnswer::Fault::kResetAfterRequest));
  const std::string key = std::to_string(registerInterface(server_.uri("/")));
  const Result r = callScore("<R/>", attribute(key, "a"), attribute(key, "b"));
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.text.rfind("<SCORE_RESULT><ERROR>HTTP Callout: ", 0), 0u) << r.text;
  EXPECT_GT(r.text.size(), errorDocument("HTTP Callout: ").size()) << "the library's text is missing";
  EXPECT_EQ(server_.requestCount(), 2u);
}

TEST_F(ScoreTest, ConnectionsAreKeptAliveAndReopenedWhenTheServerCloses) {
  const std::string key = std::to_string(registerInterface(server_.uri("/")));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(callScore("<R/>", attribute(key, "a"), attribute(key, "b")).status, 0);
  EXPECT_EQ(server_.connectionsAccepted(), 1u);

  HttpTestAnswer closing = HttpTestAnswer::ok(kReply);
  closing.close = HttpTestAnswer::Close::kAfterAnswer;
  server_.setDefault(closing);
  for (int i = 0; i < 5; ++i) {
    const Result r = callScore("<R/>", attribute(key, "a"), attribute(key, "b"));
    EXPECT_TRUE(r.status == 0 || r.text.find("HTTP Callout: ") != std::string::npos) << r.text;
  }
  EXPECT_GE(server_.connectionsAccepted(), 5u);
}

struct ReplyCase {
  const char* name;
  std::string body;
  uint32_t maxResultSize;
  int32_t status;
  std::string expected;
};

class ScoreReply : public ScoreTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ScoreReply, IsCheckedBeforeItReachesTheHost) {
  server_.setDefault(HttpTestAnswer::ok(GetParam().body));
  const std::string key = std::to_string(registerInterface(server_.uri("/")));
  const Result r = callScore("<R/>", attribute(key, "a"), attribute(key, "b"), GetParam().maxResultSize);
  EXPECT_EQ(r.status, GetParam().status);
  EXPECT_EQ(r.text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScoreReply,
    ::testing::Values(
        ReplyCase{"exactly_max", std::string(1000, 'r'), 1000, 0, std::string(1000, 'r')},
        ReplyCase{"one_over_max", std::string(1001, 'r'), 1000, -1,
                  errorDocument("return document size exceeds maximum allowed size")},
        ReplyCase{"nul_cuts_reply", std::string("abc\0def", 7), 100, 0, "abc"},
        ReplyCase{"empty_reply", "", 100, -1, errorDocument("HTTP Callout: Result message was returned empty")},
        ReplyCase{"error_reply_handed_back", "<SCORE_RESULT><ERROR>bad</ERROR></SCORE_RESULT>", 100, -1,
                  "<SCORE_RESULT><ERROR>bad</ERROR></SCORE_RESULT>"},
        ReplyCase{"error_document_cut_to_buffer", std::string(100, 'r'), 60, -1,
                  "<SCORE_RESULT><ERROR>return document </ERROR></SCORE_RESULT>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScoreTest, MismatchedTypesStillCallWithTheInboundType) {
  const std::string key = std::to_string(registerInterface(server_.uri("/")));
  const Result r = callScore("<R/>", attribute(key, "a"), attribute("0" + key, "b"));
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.text, errorDocument("mismatched attribute types. inbound[" + key + "] matched[0" + key + "]"));
  EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(ScoreTest, UnregisteredTypeMakesNoTraffic) {
  registerInterface(server_.uri("/"));
  const Result r = callScore("<R/>", attribute("424242", "a"), attribute("424242", "b"));
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.text, errorDocument("ATTR_TYPE_ID [424242] does not have a URI configured."));
  EXPECT_EQ(server_.requestCount(), 0u);
}

class ScoreUnreadableInput : public ScoreTest, public ::testing::WithParamInterface<int> {};

TEST_P(ScoreUnreadableInput, NamesTheInputAndMakesNoCallout) {
  const std::string key = std::to_string(registerInterface(server_.uri("/")));
  std::string docs[] = {"<R/>", attribute(key, "a"), attribute(key, "b")};
  const char* names[] = {"request", "inbound", "matched"};
  docs[GetParam()] = "<R><unclosed></R>";
  const Result r = callScore(docs[0], docs[1], docs[2]);
  EXPECT_EQ(r.status, -1);
  const std::string prefix = std::string("<SCORE_RESULT><ERROR>") + names[GetParam()] +
                             " document is not well-formed XML: XML Parse failed:";
  EXPECT_EQ(r.text.rfind(prefix, 0), 0u) << r.text;
  EXPECT_EQ(server_.requestCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Inputs, ScoreUnreadableInput, ::testing::Values(0, 1, 2));

TEST_F(ScoreTest, ConcurrentCallersOverTwoInterfacesEachGetTheirOwnAnswer) {
  HttpTestServer other;
  // Each reply echoes the inbound value, so a reply crossing over to another caller shows.
  auto echo = [](const test::HttpTestRequest& request) {
    const size_t start = request.body.find("<ATTR1>");
    const size_t value = request.body.find("<VALUE>", start) + 7;
    return HttpTestAnswer::ok("<S>" + request.body.substr(value, request.body.find('<', value) - value) + "</S>");
  };
  server_.setHandler(echo);
  other.setHandler(echo);
  const std::string keys[] = {std::to_string(registerInterface(server_.uri("/a"))),
                              std::to_string(registerInterface(other.uri("/b")))};
  constexpr int kThreads = 8;
  constexpr int kCalls = 1000;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        const std::string value =
            std::string(1, 'v').append(std::to_string(t)).append(1, '_').append(std::to_string(i));
        const std::string& key = keys[(t + i) % 2];
        const Result r = callScore("<R/>", attribute(key, value), attribute(key, "x"));
        if (r.status != 0 || r.text != "<S>" + value + "</S>") ++wrong;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(server_.requestCount() + other.requestCount(), static_cast<size_t>(kThreads * kCalls));
  EXPECT_LE(server_.connectionsAccepted() + other.connectionsAccepted(), static_cast<uint64_t>(2 * kThreads));
}

struct BadInput {
  const char* name;
  std::function<std::string(const std::string& key)> inbound;
  int32_t length;  // -2: the text's own length
};

class ScoreBadInput : public ScoreTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(ScoreBadInput, GetsADefinedAnswerWithoutCrashing) {
  const std::string key = std::to_string(registerInterface(server_.uri("/")));
  const std::string inbound = GetParam().inbound(key);
  const int32_t length = GetParam().length == -2 ? static_cast<int32_t>(inbound.size()) : GetParam().length;
  std::string buffer(4097, '\x7f');
  const std::string matched = attribute(key, "b");
  const int32_t status = scoreImpl(GetParam().length == 0 ? nullptr : inbound.data(), length,
                               GetParam().length == 0 ? nullptr : inbound.data(), length, matched.data(),
                               static_cast<int32_t>(matched.size()), buffer.data(), 4096);
  EXPECT_TRUE(status == 0 || status == -1);
  const size_t written = buffer.find('\0');
  ASSERT_NE(written, std::string::npos) << "result not terminated";
  EXPECT_TRUE(status == 0 || buffer.rfind("<SCORE_RESULT><ERROR>", 0) == 0) << buffer.substr(0, written);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScoreBadInput,
    ::testing::Values(
        BadInput{"null_pointers_length_0", [](const std::string&) { return std::string(); }, 0},
        BadInput{"negative_length", [](const std::string& k) { return attribute(k, "a"); }, -5},
        BadInput{"invalid_utf8", [](const std::string& k) { return attribute(k, "a\xff\xfe\xc3(\xed\xa0\x80"); }, -2},
        BadInput{"one_megabyte", [](const std::string& k) { return attribute(k, std::string(1 << 20, 'm')); }, -2},
        BadInput{"deep_nesting",
                 [](const std::string& k) {
                   std::string open, close;
                   for (int i = 0; i < 10000; ++i) {
                     open += "<N>";
                     close += "</N>";
                   }
                   return "<ATTRIBUTE><ATTR_TYPE_ID>" + k + "</ATTR_TYPE_ID>" + open + close + "</ATTRIBUTE>";
                 },
                 -2},
        BadInput{"embedded_nul", [](const std::string& k) { return attribute(k, std::string("a\0b", 3)); }, -2}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hcs
