#include "transport/output_interface.h"

#include <gtest/gtest.h>

#include "error/qrm_exception.h"
#include "support/http_test_server.h"
#include "transport/http_driver.h"
#include "transport/http_interface.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

using test::HttpTestAnswer;
using test::HttpTestServer;
using U = icu::UnicodeString;

TEST(DriverRegistry, HoldsTheHttpDriverFromTheStart) {
  auto& registry = driverRegistry();
  ASSERT_EQ(registry.size(), 1u);
  EXPECT_NE(dynamic_cast<OHTTPDriver*>(registry.front()), nullptr);

  OHTTPDriver another;
  registerDriver(&another);
  EXPECT_EQ(registry.size(), 2u);
  EXPECT_EQ(registry.back(), &another);
  registry.pop_back();
}

struct AcceptCase {
  const char* uri;
  bool accepted;
};

class OHTTPDriverAccepts : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(OHTTPDriverAccepts, OnlyTheExactLowerCaseHttpScheme) {
  OHTTPDriver driver;
  EXPECT_EQ(driver.accepts(UCString(GetParam().uri)), GetParam().accepted) << GetParam().uri;
}

INSTANTIATE_TEST_SUITE_P(Table, OHTTPDriverAccepts,
                         ::testing::Values(AcceptCase{"http://h:1/x", true},
                                           AcceptCase{"HTTP://h:1/x", false},
                                           AcceptCase{"https://h:1/x", false}, AcceptCase{"file:/./x", false},
                                           AcceptCase{"", false}));

TEST(OHTTPDriver, CreatesAnInterfaceWithoutTimeoutSpeakingHttp11) {
  OHTTPDriver driver;
  auto made = driver.create(UCString("http://h:81/p?retries=5"));
  auto* http = dynamic_cast<OHTTP*>(made.get());
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(http->timeout(), 0u);
  EXPECT_EQ(http->versionMinor(), 1);
  EXPECT_EQ(http->retries(), 5);
  // Not checked: any scheme still gets an interface.
  EXPECT_NE(dynamic_cast<OHTTP*>(driver.create(UCString("file:/./x")).get()), nullptr);
}

class SendOrThrow : public ::testing::Test {
 protected:
  HttpTestServer server;
  std::unique_ptr<OInterface> http = OHTTPDriver().create(UCString(server.uri("/s")));
};

TEST_F(SendOrThrow, ReturnsNormallyWithTheReplyOn2xx) {
  server.enqueue(HttpTestAnswer::ok("<R/>"));
  U reply;
  sendOrThrow(*http, nullptr, U(u"<Q/>"), &reply);
  EXPECT_EQ(reply, U(u"<R/>"));
}

TEST_F(SendOrThrow, TurnsAFailedStatusIntoThe7302ERecord) {
  server.enqueue(HttpTestAnswer::withStatus(500, "Internal Server Error", "<E/>"));
  U reply;
  try {
    sendOrThrow(*http, nullptr, U(u"<Q/>"), &reply);
    FAIL() << "no record thrown";
  } catch (const QRM_Exception& e) {
    ASSERT_EQ(e.entryCount(), 1);
    EXPECT_EQ(e.entry(0).message().code(), U(u"7302E"));
    EXPECT_STREQ(e.what(), "Failed to send 500 Internal Server Error.");
    EXPECT_EQ(e.entry(0).number(), 3u);
    EXPECT_EQ(e.entry(0).label(), "");
    EXPECT_EQ(e.severity(), kSeverityCritical);
  }
  EXPECT_EQ(reply, U(u"<E/>"));
}

TEST_F(SendOrThrow, LetsTransportExceptionsThroughUnchanged) {
  server.enqueue(HttpTestAnswer::withFault(HttpTestAnswer::Fault::kResetAfterRequest));
  U reply;
  EXPECT_THROW(sendOrThrow(*http, nullptr, U(u"<Q/>"), &reply), CHttpException);
}

}  // namespace
}  // namespace hcs
