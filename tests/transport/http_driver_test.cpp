// The HTTP driver and the settings an OHTTP takes from its URI; no request is sent.
#include "transport/http_driver.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "transport/http_interface.h"
#include "transport/output_interface.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

std::unique_ptr<OHTTP> makeInterface(const std::string& uri, uint32_t timeoutMs = 5000, int32_t version = 1) {
  return std::make_unique<OHTTP>(CUri(UCString(uri)), timeoutMs, version);
}

struct SettingsCase {
  std::string uri;
  int32_t retries;  // only an all-digit value counts
  int32_t port;     // 80 when the URI names none
};

class OHTTPSettings : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(OHTTPSettings, ComeFromTheUri) {
  const auto http = makeInterface(GetParam().uri);
  EXPECT_EQ(http->retries(), GetParam().retries) << GetParam().uri;
  EXPECT_EQ(http->endpoint().port(), GetParam().port) << GetParam().uri;
}

INSTANTIATE_TEST_SUITE_P(Table, OHTTPSettings,
                         ::testing::Values(SettingsCase{"http://127.0.0.1/x", 3, 80},
                                           SettingsCase{"http://h:8080/x?a=b&retries=7", 7, 8080},
                                           SettingsCase{"http://h:1/x?retries=", 0, 1},
                                           SettingsCase{"http://h:1/x?retries=-1", 3, 1},
                                           SettingsCase{"http://h:1/x?retries=2x", 3, 1}));

// The plugin finds the HTTP driver registered from the start. It takes only the exact lower-case scheme,
// but creates an interface for any address it is handed.
TEST(OHTTPDriver, IsRegisteredAcceptsOnlyLowerCaseHttpAndCreatesWithoutTimeoutOnHttp11) {
  ASSERT_EQ(driverRegistry().size(), 1u);
  EXPECT_NE(dynamic_cast<OHTTPDriver*>(driverRegistry().front()), nullptr);
  OHTTPDriver driver;
  EXPECT_TRUE(driver.accepts(UCString("http://h:1/x")));
  for (const char* uri : {"HTTP://h:1/x", "https://h:1/x", "file:/./x", ""})
    EXPECT_FALSE(driver.accepts(UCString(uri))) << uri;
  const std::unique_ptr<OInterface> made = driver.create(UCString("file:/./x"));
  const auto* http = dynamic_cast<const OHTTP*>(made.get());
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(http->timeout(), 0u);
  EXPECT_EQ(http->versionMinor(), 1);
}

}  // namespace
}  // namespace hcs
