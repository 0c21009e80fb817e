// What an OHTTP makes of its URI: the request line the service reads, and the attempts it allows.
#include <gtest/gtest.h>

#include <string>

#include "support/http_test_server.h"
#include "transport/http_interface.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

using test::HttpTestServer;

struct TargetCase {
  const char* name;
  std::string scheme;  // before "://127.0.0.1:<port>"
  std::string rest;    // path and query as written
  std::string requestLine;
  int32_t retries;
  bool capped;
};

void PrintTo(const TargetCase& c, std::ostream* out) { *out << c.name; }

class RequestTarget : public ::testing::TestWithParam<TargetCase> {};

TEST_P(RequestTarget, KeepsThePathAsWrittenAndCapsRetries) {
  const TargetCase& c = GetParam();
  HttpTestServer server;
  OHTTP http(CUri(UCString(c.scheme + "://127.0.0.1:" + std::to_string(server.port()) + c.rest)), 5000, 1);
  EXPECT_EQ(http.retries(), c.retries);
  EXPECT_EQ(http.retriesCapped(), c.capped);
  icu::UnicodeString status;
  icu::UnicodeString reply;
  ASSERT_EQ(http.send(nullptr, u"<X/>", status, &reply), 0);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].requestLine, c.requestLine);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RequestTarget,
    ::testing::Values(
        TargetCase{"upper_case_scheme", "HTTP", "/cap/x", "POST /cap/x HTTP/1.1", 3, false},
        TargetCase{"mixed_case_scheme", "hTtP", "/a/b?retries=1", "POST /a/b HTTP/1.1", 1, false},
        // Decoded, these would split the path, start a query or a fragment, or make a new escape.
        TargetCase{"reserved_escapes_kept", "http", "/a%2Fb%3Fc%23d%25e", "POST /a%2Fb%3Fc%23d%25e HTTP/1.1",
                   3, false},
        TargetCase{"kept_as_written", "http", "/a%2fb%0a%20", "POST /a%2fb%0a%20 HTTP/1.1", 3, false},
        TargetCase{"other_escapes_decoded", "http", "/%41b%7E", "POST /Ab~ HTTP/1.1", 3, false},
        TargetCase{"retries_past_32_bits", "http", "/x?retries=4294967296", "POST /x HTTP/1.1", 100, true},
        TargetCase{"retries_int32_max", "http", "/x?retries=2147483647", "POST /x HTTP/1.1", 100, true},
        TargetCase{"retries_101", "http", "/x?retries=101", "POST /x HTTP/1.1", 100, true},
        TargetCase{"retries_100", "http", "/x?retries=100", "POST /x HTTP/1.1", 100, false},
        TargetCase{"retries_leading_zeros", "http", "/x?retries=00000000000007", "POST /x HTTP/1.1", 7,
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hcs
