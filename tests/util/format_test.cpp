#include "util/format.h"

#include <climits>
#include <functional>

#include <gtest/gtest.h>

#include "error/qrm_exception.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

TEST(FormatString, ConversionsBehaveAsInC) {
  std::string out;
  const icu::UnicodeString type(u"NAME");
  EXPECT_EQ(formatString(out, "<ERROR>No ATTR_URI entry is configured for ATTR_TYPE [%S]</ERROR>", type), 67);
  EXPECT_EQ(out, "<ERROR>No ATTR_URI entry is configured for ATTR_TYPE [NAME]</ERROR>");
  formatString(out, "%d|%5d|%-4d|%05.1f|%x|%X|%u|%c|%%|%.2s|%3s", -7, 42, 1, 2.25, 255, -1, 3u, 'z', "abc", "q");
  EXPECT_EQ(out, "-7|   42|1   |002.2|ff|FFFFFFFF|3|z|%|ab|  q");
  formatString(out, "%*d|%lld|%zu|%s", 4, 9, 1234567890123LL, size_t{5}, std::string("x"));
  EXPECT_EQ(out, "   9|1234567890123|5|x");
  formatString(out, "%s", static_cast<const char*>(nullptr));
  EXPECT_EQ(out, "(null)");
}

TEST(FormatUnicode, SKeepsUnicodeAndSmallSConvertsFromLocalCodePage) {
  icu::UnicodeString out;
  const icu::UnicodeString name(u"J\u00fcrgen \U0001F600");
  EXPECT_EQ(formatUnicode(out, u"%s=%S (%d)", "Gr\xc3\xbc\xc3\x9f" "e", name, 3), 19);
  EXPECT_EQ(out, icu::UnicodeString(u"Gr\u00fc\u00dfe=J\u00fcrgen \U0001F600 (3)"));
  formatUnicode(out, u"[%-6S][%3.1S]", icu::UnicodeString(u"ab"), icu::UnicodeString(u"xyz"));
  EXPECT_EQ(out, icu::UnicodeString(u"[ab    ][  x]"));
  // A bogus output string is replaced, not appended to.
  out.setToBogus();
  formatUnicode(out, u"ok");
  EXPECT_EQ(out, icu::UnicodeString(u"ok"));
}

struct BadFormat {
  const char* name;
  std::function<void()> call;
};

class FormatMismatch : public ::testing::TestWithParam<BadFormat> {};

TEST_P(FormatMismatch, ThrowsInsteadOfReadingGarbage) {
  try {
    GetParam().call();
    FAIL() << GetParam().name << " did not throw";
  } catch (const QRM_Exception& e) {
    EXPECT_EQ(e.entry(0).message().code(), icu::UnicodeString(u"0000E")) << GetParam().name;
    EXPECT_NE(std::string(e.what()).find("Format error"), std::string::npos) << GetParam().name;
  }
}

std::string gOut;
icu::UnicodeString gUout;
const icu::UnicodeString kU(u"u");

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatMismatch,
    ::testing::Values(BadFormat{"d_with_text", [] { formatString(gOut, "%d", "text"); }},
                      BadFormat{"s_with_int", [] { formatString(gOut, "%s", 5); }},
                      BadFormat{"S_with_narrow", [] { formatString(gOut, "%S", "narrow"); }},
                      BadFormat{"s_with_unicode", [] { formatString(gOut, "%s", kU); }},
                      BadFormat{"f_with_int", [] { formatString(gOut, "%f", 1); }},
                      BadFormat{"missing_argument", [] { formatString(gOut, "%d %d", 1); }},
                      BadFormat{"percent_n", [] { formatString(gOut, "%n", 1); }},
                      BadFormat{"unknown_conversion", [] { formatString(gOut, "%y", 1); }},
                      BadFormat{"dangling_percent", [] { formatString(gOut, "abc%"); }},
                      BadFormat{"unicode_S_with_int", [] { formatUnicode(gUout, u"%S", 3); }},
                      // A negative width means left-justified; the most negative int has no positive.
                      BadFormat{"star_width_int_min", [] { formatString(gOut, "%*d", INT_MIN, 1); }},
                      BadFormat{"star_width_beyond_int", [] { formatString(gOut, "%*d", 1LL << 32, 1); }},
                      BadFormat{"star_precision_beyond_int", [] { formatUnicode(gUout, u"%.*S", ~0u, kU); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hcs
