// score end to end: the exported function's body, a real OHTTP on libcurl, a real loopback server.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

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
std::string registerInterface(const std::string& uri) {
  static std::atomic<int32_t> nextKey{7000};
  const int32_t key = nextKey++;
  EXPECT_TRUE(calloutRegistry().insert(key, std::make_unique<OHTTP>(CUri(UCString(uri)), 10000, 1)));
  return std::to_string(key);
}

std::string attribute(const std::string& type, const std::string& value,
                      const std::string& root = "ATTRIBUTE") {
  return "<" + root + "><ATTR_TYPE_ID>" + type + "</ATTR_TYPE_ID><VALUE>" + value + "</VALUE></" + root + ">";
}

struct Result {
  int32_t status;
  std::string text;
};

// An `inboundLength` below 1 hands the inbound record over as a host may: 0 with a null pointer, or negative.
Result callScore(const std::string& request, const std::string& inbound, const std::string& matched,
                 uint32_t maxResultSize = 4096, int32_t inboundLength = 1) {
  std::string buffer(maxResultSize + 1, '\x7f');
  const int32_t status = scoreImpl(
      request.data(), static_cast<int32_t>(request.size()), inboundLength == 0 ? nullptr : inbound.data(),
      inboundLength > 0 ? static_cast<int32_t>(inbound.size()) : inboundLength, matched.data(),
      static_cast<int32_t>(matched.size()), buffer.data(), maxResultSize);
  return {status, std::string(buffer.c_str())};
}

std::string errorDocument(const std::string& text) {
  return "<SCORE_RESULT><ERROR>" + text + "</ERROR></SCORE_RESULT>";
}

const std::string kA = attribute("{key}", "a");
const std::string kB = attribute("{key}", "b");
const std::string kUnclosed = "<R><unclosed></R>";

struct CallCase {
  const char* name;
  std::vector<HttpTestAnswer> answers = {};  // queued in order; the last one also answers every later request
  std::string request = "<R/>";  // in the documents and the expected text, {key} is the registered type
  std::string inbound = kA;
  std::string matched = kB;
  std::string expected = kReply;  // a '*' stands for any text of at least one character
  int32_t status = 0;
  size_t requests = 1;
  std::string path = "/";
  uint32_t maxResultSize = 4096;
  bool listening = true;
  int32_t inboundLength = 1;
  std::string sent = "";  // the body the service must receive, when given
};

std::string withKey(std::string text, const std::string& key) {
  for (size_t at; (at = text.find("{key}")) != std::string::npos;) text.replace(at, 5, key);
  return text;
}

bool matches(const std::string& text, const std::string& pattern) {
  const size_t star = pattern.find('*');
  if (star == std::string::npos) return text == pattern;
  const std::string tail = pattern.substr(star + 1);
  return text.size() > pattern.size() - 1 && text.starts_with(pattern.substr(0, star)) &&
         text.ends_with(tail);
}

void PrintTo(const CallCase& c, std::ostream* out) { *out << c.name; }

class ScoreCall : public ::testing::TestWithParam<CallCase> {};

TEST_P(ScoreCall, AnswersTheHostWithTheReplyOrTheErrorDocument) {
  const CallCase& c = GetParam();
  HttpTestServer server(c.listening);
  for (size_t i = 0; i + 1 < c.answers.size(); ++i) server.enqueue(c.answers[i]);
  if (!c.answers.empty()) server.setDefault(c.answers.back());
  const std::string key = registerInterface(server.uri(c.path));
  const Result r = callScore(withKey(c.request, key), withKey(c.inbound, key), withKey(c.matched, key),
                             c.maxResultSize, c.inboundLength);
  EXPECT_EQ(r.status, c.status);
  EXPECT_TRUE(matches(r.text, withKey(c.expected, key))) << r.text;
  if (!c.sent.empty()) {
    EXPECT_EQ(server.requests().at(0).body, withKey(c.sent, key));
  }
  EXPECT_EQ(server.requestCount(), c.requests);
}

const HttpTestAnswer kOk = HttpTestAnswer::ok(kReply);
const HttpTestAnswer k500 = HttpTestAnswer::withStatus(500, "Internal Server Error", "busy");
const HttpTestAnswer k503 = HttpTestAnswer::withStatus(503, "Service Unavailable", "down");
const HttpTestAnswer kReset = HttpTestAnswer::withFault(HttpTestAnswer::Fault::kResetAfterRequest);
const std::string kEmpty = errorDocument("HTTP Callout: Result message was returned empty");
const std::string kNotWellFormed =
    " document is not well-formed XML: XML Parse failed:*</ERROR></SCORE_RESULT>";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, ScoreCall, ::testing::Values(
    // The request and both records, renamed ATTR1 and ATTR2 by their exact root name only, go out as one
    // document; a root written in lower case keeps its name and its type is still found.
    CallCase{.name = "wraps_the_documents", .answers = {kOk},
             .request = "<req mode='fast'><Opt>keep Case</Opt></req>",
             .inbound = attribute("{key}", "Ann \xc3\x9cnal"),
             .sent = "<ATTRS_TO_SCORE><REQ MODE=\"FAST\"><OPT>keep Case</OPT></REQ><ATTR1><ATTR_TYPE_ID>{key}"
                     "</ATTR_TYPE_ID><VALUE>Ann \xc3\x9cnal</VALUE></ATTR1><ATTR2><ATTR_TYPE_ID>{key}"
                     "</ATTR_TYPE_ID><VALUE>b</VALUE></ATTR2></ATTRS_TO_SCORE>\n"},
    CallCase{.name = "lower_case_root_kept", .answers = {kOk},
             .inbound = attribute("{key}", "a", "attribute"),
             .sent = "<ATTRS_TO_SCORE><R/><ATTRIBUTE><ATTR_TYPE_ID>{key}</ATTR_TYPE_ID><VALUE>a</VALUE>"
                     "</ATTRIBUTE><ATTR2><ATTR_TYPE_ID>{key}</ATTR_TYPE_ID><VALUE>b</VALUE></ATTR2>"
                     "</ATTRS_TO_SCORE>\n"},
    // Failed statuses are only logged; the next attempt's answer counts.
    CallCase{.name = "server_errors_retried", .answers = {k500, k500, k500, kOk}, .requests = 4},
    CallCase{.name = "no_retries_one_attempt", .answers = {k503}, .expected = errorDocument(
             "HTTP Callout: Failed to receive message despite retries"), .status = -1,
             .path = "/x?retries=0"},
    CallCase{.name = "unreachable", .expected = kEmpty, .status = -1, .requests = 0, .listening = false},
    // A transport failure fails the call even when a later attempt gets through.
    CallCase{.name = "reset_then_success", .answers = {kReset, kOk},
             .expected = errorDocument("HTTP Callout: *"), .status = -1, .requests = 2},
    // The callout is still made, with the inbound type.
    CallCase{.name = "mismatched_types", .answers = {kOk}, .matched = attribute("0{key}", "b"), .expected =
             errorDocument("mismatched attribute types. inbound[{key}] matched[0{key}]"), .status = -1},
    CallCase{.name = "unregistered_type", .inbound = attribute("424242", "a"),
             .matched = attribute("424242", "b"),
             .expected = errorDocument("ATTR_TYPE_ID [424242] does not have a URI configured."), .status = -1,
             .requests = 0},
    CallCase{.name = "unreadable_request", .request = kUnclosed, .expected = "<SCORE_RESULT><ERROR>request" +
             kNotWellFormed, .status = -1, .requests = 0},
    CallCase{.name = "unreadable_inbound", .inbound = kUnclosed, .expected = "<SCORE_RESULT><ERROR>inbound" +
             kNotWellFormed, .status = -1, .requests = 0},
    CallCase{.name = "unreadable_matched", .matched = kUnclosed, .expected = "<SCORE_RESULT><ERROR>matched" +
             kNotWellFormed, .status = -1, .requests = 0},
    // Whatever the host hands over, it gets the error document back, not a crash.
    CallCase{.name = "null_inbound", .expected = "<SCORE_RESULT><ERROR>inbound" + kNotWellFormed,
             .status = -1, .requests = 0, .inboundLength = 0},
    CallCase{.name = "negative_inbound_length", .expected = "<SCORE_RESULT><ERROR>inbound" + kNotWellFormed,
             .status = -1, .requests = 0, .inboundLength = -5},
    CallCase{.name = "reply_exactly_max", .answers = {HttpTestAnswer::ok(std::string(1000, 'r'))},
             .expected = std::string(1000, 'r'), .maxResultSize = 1000},
    CallCase{.name = "reply_one_over_max", .answers = {HttpTestAnswer::ok(std::string(1001, 'r'))},
             .expected = errorDocument("return document size exceeds maximum allowed size"), .status = -1,
             .maxResultSize = 1000},
    // Inside a small buffer the error document stays whole and its text is cut.
    CallCase{.name = "error_document_cut_to_buffer", .answers = {HttpTestAnswer::ok(std::string(100, 'r'))},
             .expected = errorDocument("return document "), .status = -1, .maxResultSize = 60},
    CallCase{.name = "empty_reply", .answers = {HttpTestAnswer::ok("")}, .expected = kEmpty, .status = -1},
    CallCase{.name = "error_reply_handed_back", .answers = {HttpTestAnswer::ok(errorDocument("bad"))},
             .expected = errorDocument("bad"), .status = -1}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Each reply echoes the inbound value, so a reply crossing over to another caller shows.
TEST(ScoreThreads, ConcurrentCallersOverTwoInterfacesEachGetTheirOwnAnswer) {
  auto echo = [](const test::HttpTestRequest& request) {
    const size_t value = request.body.find("<VALUE>", request.body.find("<ATTR1>")) + 7;
    return HttpTestAnswer::ok("<S>" + request.body.substr(value, request.body.find('<', value) - value) +
                              "</S>");
  };
  HttpTestServer one, other;
  one.setHandler(echo);
  other.setHandler(echo);
  const std::string keys[] = {registerInterface(one.uri("/a")), registerInterface(other.uri("/b"))};
  constexpr int kThreads = 8;
  constexpr int kCalls = 200;
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
  EXPECT_EQ(one.requestCount() + other.requestCount(), static_cast<size_t>(kThreads * kCalls));
  EXPECT_LE(one.connectionsAccepted() + other.connectionsAccepted(), static_cast<uint64_t>(2 * kThreads));
}

}  // namespace
}  // namespace hcs
