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

TEST(OHTTPDriver, AcceptsOnlyTheExactLowerCaseHttpSchemeButCreatesForAny) {
  OHTTPDriver driver;
  EXPECT_TRUE(driver.accepts(UCString("http://h:1/x")));
  for (const char* uri : {"HTTP://h:1/x", "https://h:1/x", "file:/./x", ""}) {
    EXPECT_FALSE(driver.accepts(UCString(uri))) << uri;
  }
  auto made = driver.create(UCString("http://h:81/p?retries=5"));
  auto* http = dynamic_cast<OHTTP*>(made.get());
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(http->timeout(), 0u);
  EXPECT_EQ(http->versionMinor(), 1);
  EXPECT_EQ(http->retries(), 5);
  EXPECT_NE(dynamic_cast<OHTTP*>(driver.create(UCString("file:/./x")).get()), nullptr);
}

// A 2xx answer returns with the reply; any other becomes the "7302E" record; transport failures pass.
TEST(SendOrThrow, TurnsOnlyAFailedStatusIntoARecord) {
  HttpTestServer server;
  // The reset comes first: on a kept connection libcurl would quietly send the request again.
  server.enqueue(HttpTestAnswer::withFault(HttpTestAnswer::Fault::kResetAfterRequest));
  server.enqueue(HttpTestAnswer::ok("<R/>"));
  server.enqueue(HttpTestAnswer::withStatus(500, "Internal Server Error", "<E/>"));
  const std::unique_ptr<OInterface> http = OHTTPDriver().create(UCString(server.uri("/s")));
  U reply;
  EXPECT_THROW(sendOrThrow(*http, nullptr, U(u"<Q/>"), &reply), CHttpException);
  sendOrThrow(*http, nullptr, U(u"<Q/>"), &reply);
  EXPECT_EQ(reply, U(u"<R/>"));
  try {
    sendOrThrow(*http, nullptr, U(u"<Q/>"), &reply);
    ADD_FAILURE() << "no record thrown";
  } catch (const QRM_Exception& e) {
    const auto& entry = e.entry(0);
    EXPECT_EQ(toStdString(entry.message().code()) + "|" + entry.label() + "|" +
                  std::to_string(entry.number()) + "|" + std::to_string(e.severity()) + "|" +
                  std::to_string(e.entryCount()) + "|" + e.what(),
              "7302E||3|4|1|Failed to send 500 Internal Server Error.");
  }
  EXPECT_EQ(reply, U(u"<E/>"));
}

}  // namespace
}  // namespace hcs
