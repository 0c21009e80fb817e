// initPlugin's answers and the capped host buffers, in process.
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "error/qrm_exception.h"
#include "plugin/callout_registry.h"
#include "plugin/host_buffer.h"
#include "plugin/init_plugin.h"
#include "support/host_calls.h"
#include "transport/callout.h"

namespace hcs {
namespace {

using test::initDoc;

// The score reply's cap is checked through score(); the wrapper's edges here.
TEST(WriteCapped, KeepsTheWrapperWholeAndCutsTheInnerTextWithinTheCapacity) {
  const struct {
    size_t capacity;
    std::string inner, expected;
  } cases[] = {{12, "text", "<E>text</E>"},
               {11, "text", "<E>tex</E>"},
               {8, "text", "<E></E>"},
               {5, "text", "<E>t"},
               {1, "text", ""},
               {10, "a\xc3\xa9", "<E>a</E>"}};
  for (const auto& c : cases) {
    std::string buffer(c.capacity + 8, '#');  // guard bytes past the capacity must stay untouched
    writeCapped(buffer.data(), c.capacity, "<E>", c.inner, "</E>");
    EXPECT_EQ(std::string(buffer.c_str()), c.expected) << c.capacity << " [" << c.inner << "]";
    EXPECT_EQ(buffer.substr(c.capacity), std::string(8, '#')) << c.capacity << " [" << c.inner << "]";
  }
  writeCapped(nullptr, 100, "<E>", "x", "</E>");
  char untouched = '#';
  writeCapped(&untouched, 0, "<E>", "x", "</E>");
  EXPECT_EQ(untouched, '#');
}

// The result, and the buffer's text up to its first NUL (all of it, 1100 '#', when left untouched).
const std::string kUntouched(1100, '#');
std::pair<int32_t, std::string> init(const std::string& document) {
  std::string buffer = kUntouched;
  const int32_t status =
      initializePlugin(document.data(), static_cast<int32_t>(document.size()), buffer.data());
  return {status, buffer.substr(0, buffer.find('\0'))};
}

struct ReportCase {
  std::string type, uri, db;  // the .ini line is type=uri
  std::string error;          // "" when the callout is registered
};

class InitPluginReports : public ::testing::TestWithParam<ReportCase> {};

TEST_P(InitPluginReports, RegistersOrReportsWithMinusOne) {
  static int32_t nextId = 830;
  const int32_t id = nextId++;
  const ReportCase& c = GetParam();
  test::TempDir dir;
  const std::string ini = dir.write("a.ini", "[ATTR_URI]\n" + c.type + "=" + c.uri + "\n");
  const auto [status, text] = init(initDoc(ini, c.type, std::to_string(id), c.db));
  const std::string name = c.type.substr(0, 8) + "=" + c.uri + " " + c.db;
  EXPECT_EQ(status, c.error.empty() ? 0 : -1) << name;
  EXPECT_EQ(text, c.error.empty() ? kUntouched : c.error) << name;
  EXPECT_EQ(calloutRegistry().find(id) != nullptr, c.error.empty()) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, InitPluginReports,
    ::testing::Values(ReportCase{"NAME", "HTTP://127.0.0.1:1/x", "", ""},
                      ReportCase{"NAME", "", "",
                                 "<ERROR>No ATTR_URI entry is configured for ATTR_TYPE [NAME]</ERROR>"},
                      ReportCase{"NAME", "https://h/x", "", ""},  // the defined check refused https
                      ReportCase{"NAME", "http://h/", "pg://scott:tiger@127.0.0.1:1/hcs",
                                 "<ERROR>Unable to open database specified in the following URI "
                                 "[pg://scott:****@127.0.0.1:1/hcs]</ERROR>"},
                      // Longer than the host's 1024 bytes: the inner text is cut, the wrapper stays whole.
                      ReportCase{std::string(1200, 'T'), "", "",
                                 "<ERROR>No ATTR_URI entry is configured for ATTR_TYPE [" +
                                     std::string(961, 'T') + "</ERROR>"}));

TEST(InitPlugin, FilesTheCalloutUnderTheParsedIdAndTheFirstRegistrationWins) {
  test::TempDir dir;
  const std::string a = dir.write("a.ini", "[ATTR_URI]\nname=http://127.0.0.1:9/a?retries=1\n");
  // Lower-case markup is found: the document is upper-cased before it is read.
  const std::string lower =
      "<init><config_file>" + a +
      "</config_file><attr_type>name</attr_type><attr_type_id> 821x</attr_type_id></init>";
  ASSERT_EQ(init(lower).first, 0);
  const std::string b = dir.write("b.ini", "[ATTR_URI]\nNAME=http://127.0.0.1:9/b\n");
  ASSERT_EQ(init(initDoc(b, "NAME", "821")).first, 0);
  ASSERT_NE(calloutRegistry().find(821), nullptr);
  const auto* http = dynamic_cast<const OHTTP*>(&calloutRegistry().find(821)->transport());
  ASSERT_NE(http, nullptr);
  EXPECT_EQ(http->path(), icu::UnicodeString(u"/a"));
  EXPECT_EQ(http->retries(), 1);
  EXPECT_EQ(http->timeout(), 10000u);
  EXPECT_EQ(http->versionMinor(), 1);
}

}  // namespace
}  // namespace hcs
