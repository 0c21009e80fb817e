// score end to end: the exported function's body, a real OHTTP on libcurl, a real loopback server.
#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "support/host_calls.h"
#include "support/http_test_server.h"

namespace hcs {
namespace {

using test::attribute;
using test::callScore;
using test::echo;
using test::exitStatus;
using test::HttpTestAnswer;
using test::HttpTestServer;
using test::kReply;
using test::registerInterface;
using test::registerWithSettings;
using test::scoreOwnValues;
using Fault = HttpTestAnswer::Fault;
using std::chrono::milliseconds;

std::string errorDocument(const std::string& text) {
  return "<SCORE_RESULT><ERROR>" + text + "</ERROR></SCORE_RESULT>";
}

struct CallCase {
  const char* name;
  std::vector<HttpTestAnswer> answers = {};  // queued in order; the last one also answers every later request
  std::string path = "/";
  bool listening = true;
  std::string request = "<R/>";  // in the documents and the expected texts, {key} is the registered type
  std::string inbound = attribute("{key}", "a");
  std::string matched = attribute("{key}", "b");
  int32_t inboundLength = 1;
  uint32_t maxResultSize = 4096;
  size_t requests = 1;
  // The host's answer (status -1 exactly when it is an error document); a final '*' stands for any text.
  std::string expected = kReply;
  std::string sent = "";  // the body the service must receive, when given
};

std::string withKey(std::string text, const std::string& key) {
  for (size_t at; (at = text.find("{key}")) != std::string::npos;) text.replace(at, 5, key);
  return text;
}

bool matches(const std::string& text, const std::string& pattern) {
  if (!pattern.ends_with('*')) return text == pattern;
  return text.size() >= pattern.size() && text.starts_with(pattern.substr(0, pattern.size() - 1));
}

void PrintTo(const CallCase& c, std::ostream* out) { *out << c.name; }

class ScoreCall : public ::testing::TestWithParam<CallCase> {};

TEST_P(ScoreCall, AnswersTheHostWithTheReplyOrTheErrorDocument) {
  const CallCase& c = GetParam();
  HttpTestServer server(c.listening);
  for (size_t i = 0; i + 1 < c.answers.size(); ++i) server.enqueue(c.answers[i]);
  if (!c.answers.empty()) server.setDefault(c.answers.back());
  const std::string key = registerInterface(server.uri(c.path));
  const std::string answer = callScore(withKey(c.request, key), withKey(c.inbound, key),
                                       withKey(c.matched, key), c.maxResultSize, c.inboundLength);
  const std::string status = c.expected.starts_with("<SCORE_RESULT><ERROR>") ? "-1|" : "0|";
  EXPECT_TRUE(matches(answer, status + withKey(c.expected, key))) << answer;
  EXPECT_EQ(c.sent.empty() ? "" : server.requests().at(0).body, withKey(c.sent, key));
  EXPECT_EQ(server.requestCount(), c.requests);
}

const HttpTestAnswer kOk = HttpTestAnswer::ok(kReply);
const HttpTestAnswer k500 = HttpTestAnswer::withStatus(500, "Internal Server Error", "busy");
std::string unreadable(const std::string& which) {
  return "<SCORE_RESULT><ERROR>" + which + " document is not well-formed XML: XML Parse failed:*";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, ScoreCall, ::testing::Values(
    // One document goes out: the request and the records, renamed ATTR1 and ATTR2 by exact root name only,
    // so a root written in lower case keeps its name; its type is still found.
    CallCase{.name = "wraps_the_documents", .answers = {kOk},
             .request = "<req mode='fast'><Opt>keep Case</Opt></req>",
             .inbound = attribute("{key}", "Ann \xc3\x9cnal"), .matched = attribute("{key}", "b", "attribute"),
             .sent = "<ATTRS_TO_SCORE><REQ MODE=\"FAST\"><OPT>keep Case</OPT></REQ><ATTR1><ATTR_TYPE_ID>{key}"
                     "</ATTR_TYPE_ID><VALUE>Ann \xc3\x9cnal</VALUE></ATTR1><ATTRIBUTE><ATTR_TYPE_ID>{key}"
                     "</ATTR_TYPE_ID><VALUE>b</VALUE></ATTRIBUTE></ATTRS_TO_SCORE>\n"},
    // Failed statuses are only logged; the next attempt's answer counts.
    CallCase{.name = "server_errors_retried", .answers = {k500, k500, k500, kOk}, .requests = 4},
    CallCase{.name = "no_retries_one_attempt", .answers = {k500}, .path = "/x?retries=0",
             .expected = errorDocument("HTTP Callout: Failed to receive message despite retries")},
    CallCase{.name = "unreachable", .listening = false, .requests = 0,
             .expected = errorDocument("HTTP Callout: Result message was returned empty")},
    // A transport failure fails the call even when a later attempt gets through.
    CallCase{.name = "reset_then_success", .answers = {HttpTestAnswer::withFault(Fault::kResetAfterRequest), kOk},
             .requests = 2, .expected = "<SCORE_RESULT><ERROR>HTTP Callout: *"},
    // The callout is still made, with the inbound type.
    CallCase{.name = "mismatched_types", .answers = {kOk}, .matched = attribute("0{key}", "b"),
             .expected = errorDocument("mismatched attribute types. inbound[{key}] matched[0{key}]")},
    CallCase{.name = "unregistered_type", .inbound = attribute("424242", "a"), .matched = attribute("424242", "b"),
             .requests = 0, .expected = errorDocument("ATTR_TYPE_ID [424242] does not have a URI configured.")},
    CallCase{.name = "unreadable_request", .request = "<R><x></R>", .requests = 0, .expected = unreadable("request")},
    CallCase{.name = "unreadable_matched", .matched = "<R><x></R>", .requests = 0, .expected = unreadable("matched")},
    // Whatever the host hands over, it gets the error document back, not a crash.
    CallCase{.name = "null_inbound", .inboundLength = 0, .requests = 0, .expected = unreadable("inbound")},
    CallCase{.name = "negative_inbound_length", .inboundLength = -5, .requests = 0, .expected = unreadable("inbound")},
    CallCase{.name = "reply_exactly_max", .answers = {HttpTestAnswer::ok(std::string(1000, 'r'))},
             .maxResultSize = 1000, .expected = std::string(1000, 'r')},
    CallCase{.name = "reply_one_over_max", .answers = {HttpTestAnswer::ok(std::string(1001, 'r'))},
             .maxResultSize = 1000, .expected = errorDocument("return document size exceeds maximum allowed size")},
    CallCase{.name = "error_reply_handed_back", .answers = {HttpTestAnswer::ok(errorDocument("bad"))},
             .expected = errorDocument("bad")},
    // Ill-formed UTF-8 comes back with U+FFFD in place, and is measured as it comes back.
    CallCase{.name = "ill_formed_reply_exactly_max", .answers = {HttpTestAnswer::ok(std::string(997, 'r') + "\xFF")},
             .maxResultSize = 1000, .expected = std::string(997, 'r') + "\xEF\xBF\xBD"},
    CallCase{.name = "ill_formed_reply_over_max", .answers = {HttpTestAnswer::ok(std::string(998, 'r') + "\xFF")},
             .maxResultSize = 1000, .expected = errorDocument("return document size exceeds maximum allowed size")}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Each reply echoes the posted document, so a reply crossing over to another caller shows.
TEST(ScoreThreads, ConcurrentCallersOverTwoInterfacesEachGetTheirOwnAnswer) {
  auto echo = [](const test::HttpTestRequest& request) { return HttpTestAnswer::ok(request.body); };
  HttpTestServer one, other;
  one.setHandler(echo);
  other.setHandler(echo);
  const std::string keys[] = {registerInterface(one.uri("/a")), registerInterface(other.uri("/b"))};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const std::string value = "v" + std::to_string(t) + "_" + std::to_string(i);
        const std::string& key = keys[(t + i) % 2];
        const std::string answer = callScore("<R/>", attribute(key, value), attribute(key, "x"));
        if (!answer.starts_with("0|") || answer.find("<VALUE>" + value + "</VALUE>") == std::string::npos)
          ++wrong;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(one.requestCount() + other.requestCount(), 8u * 200);
  EXPECT_LE(one.connectionsAccepted() + other.connectionsAccepted(), 2u * 8);  // one per thread and interface
}

// A host that forks: parent and child score on, each on connections of its own. The service echoes
// the document, so every reply tells whose request it answers.
TEST(HostFork, ParentAndChildNeverShareAConnectionOrARequestId) {
  HttpTestServer server;
  server.setHandler(echo);
  const std::string key =
      registerWithSettings(server.uri("/s?requestIdHeader=X-Request-Id"), "FORK", nullptr);
  ASSERT_EQ(scoreOwnValues(key, "before", 1), 0);  // the parent now keeps a connection open
  const pid_t child = ::fork();
  if (child == 0) ::_exit(scoreOwnValues(key, "child", 300));
  EXPECT_EQ(scoreOwnValues(key, "parent", 300), 0);
  EXPECT_EQ(exitStatus(child, milliseconds(60000)), 0) << "replies the child got that were not its own";
  std::set<std::string> ids;
  for (const auto& request : server.requests()) ids.insert(request.header("X-Request-Id"));
  EXPECT_EQ(server.requestCount(), 601u);
  EXPECT_EQ(ids.size(), server.requestCount()) << "request ids repeated";
}

}  // namespace
}  // namespace hcs
