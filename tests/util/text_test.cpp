#include <climits>
#include <functional>

#include <gtest/gtest.h>

#include "error/qrm_exception.h"
#include "util/format.h"
#include "util/numbers.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

using U = icu::UnicodeString;

TEST(UCString, HostTextBecomesTerminatedUnicodeWithoutError) {
  const UCString fromBytes("abcdef", 3);
  EXPECT_EQ(fromBytes, U(u"abc"));
  EXPECT_EQ(fromBytes.getBuffer()[3], 0);
  EXPECT_EQ(UCString(U(u"xy")).getBuffer()[2], 0);
  EXPECT_EQ(UCString().getBuffer()[0], 0);
  for (const UCString& empty : {UCString(nullptr, 12), UCString("abc", 0), UCString("abc", -1),
                                UCString(static_cast<const char*>(nullptr))}) {
    EXPECT_TRUE(empty.isEmpty());
  }
  // Invalid UTF-8 becomes substitution characters.
  EXPECT_EQ(UCString("a\xff\xc3(b", 5), U(u"a\uFFFD\uFFFD(b"));
}

// What `call` throws as "code|text", or "nothing thrown".
std::string thrown(const std::function<void()>& call) {
  try {
    call();
  } catch (const QRM_Exception& e) {
    return toStdString(e.entry(0).message().code()) + "|" + e.what();
  }
  return "nothing thrown";
}

// toStdString substitutes what it cannot convert; toUtf8, which feeds the wire, refuses it.
TEST(Conversions, NonAsciiRoundTripsAndALoneSurrogateIsRefusedOnlyByToUtf8) {
  const std::string utf8 = "Ren\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
  const UCString text(utf8);
  EXPECT_EQ(toUtf8(text), utf8);
  EXPECT_EQ(toStdString(text), utf8);
  const U lone = U(u"ab").append(static_cast<UChar>(0xD800)).append(u'c');
  EXPECT_EQ(thrown([&] { toStdString(lone); }), "nothing thrown");
  EXPECT_EQ(thrown([&] { toUtf8(lone); }), "0000E|U_INVALID_CHAR_FOUND");
}

TEST(FormatString, ConversionsBehaveAsInC) {
  std::string out;
  formatString(out, "%d|%5d|%-4d|%05.1f|%x|%X|%u|%c|%%|%.2s|%3s", -7, 42, 1, 2.25, 255, -1, 3u, 'z', "abc",
               "q");
  EXPECT_EQ(out, "-7|   42|1   |002.2|ff|FFFFFFFF|3|z|%|ab|  q");
  formatString(out, "%*d|%lld|%zu|%s", 4, 9, 1234567890123LL, size_t{5}, std::string("x"));
  EXPECT_EQ(out, "   9|1234567890123|5|x");
  formatString(out, "%s", static_cast<const char*>(nullptr));
  EXPECT_EQ(out, "(null)");
}

TEST(FormatUnicode, SKeepsUnicodeAndSmallSConvertsFromLocalCodePage) {
  U out;
  const U name(u"J\u00fcrgen \U0001F600");
  EXPECT_EQ(formatUnicode(out, u"%s=%S (%d)", "Gr\xc3\xbc\xc3\x9f", name, 3), 18);
  EXPECT_EQ(out, U(u"Gr\u00fc\u00df=J\u00fcrgen \U0001F600 (3)"));
  formatUnicode(out, u"[%-6S][%3.1S]", U(u"ab"), U(u"xyz"));
  EXPECT_EQ(out, U(u"[ab    ][  x]"));
}

// Every mismatch between a conversion and its argument throws instead of reading garbage.
TEST(FormatMismatch, ThrowsTheFormatErrorRecord) {
  std::string out;
  U uout;
  const std::pair<const char*, std::function<void()>> calls[] = {
      {"%d text", [&] { formatString(out, "%d", "text"); }},
      {"%s int", [&] { formatString(out, "%s", 5); }},
      {"%S narrow", [&] { formatString(out, "%S", "narrow"); }},
      {"%f int", [&] { formatString(out, "%f", 1); }},
      {"missing argument", [&] { formatString(out, "%d %d", 1); }},
      {"%n", [&] { formatString(out, "%n", 1); }},
      {"unknown conversion", [&] { formatString(out, "%y", 1); }},
      {"dangling %", [&] { formatString(out, "abc%"); }},
      // A negative width means left-justified; the most negative int has no positive.
      {"* width INT_MIN", [&] { formatString(out, "%*d", INT_MIN, 1); }},
      {"* width beyond int", [&] { formatString(out, "%*d", 1LL << 32, 1); }},
      {"* precision beyond int", [&] { formatUnicode(uout, u"%.*S", ~0u, U()); }}};
  for (const auto& [name, call] : calls) EXPECT_TRUE(thrown(call).starts_with("0000E|Format error")) << name;
}

// clang-format off
const std::pair<const char16_t*, int32_t> kParseIntCases[] = {
    {u"", 0}, {u" -42", -42}, {u"--7", -7}, {u"4 2", 4}, {u"+5", 0}, {u"x12", 0},
    {u"\t5", 0},                                   // only U+0020 is a blank
    {u"0 -3", -3},                                 // leading zeros keep "-" and blanks open
    {u"7-", 7},                                    // "-" after a digit ends the number
    {u"\u0664\u0662", 42}, {u"\U0001D7D5\U0001D7CE", 70},  // any decimal digit
    {u"2147483648", INT32_MIN}};                   // 32-bit wrap, no check
// clang-format on

class ParseInt : public ::testing::TestWithParam<std::pair<const char16_t*, int32_t>> {};

TEST_P(ParseInt, ReadsLeniently) {
  const U text(GetParam().first);
  EXPECT_EQ(parseInt(text), GetParam().second) << "input [" << toStdString(text) << "]";
}

INSTANTIATE_TEST_SUITE_P(Table, ParseInt, ::testing::ValuesIn(kParseIntCases));

}  // namespace
}  // namespace hcs
