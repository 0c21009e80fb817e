#include "util/numbers.h"

#include <gtest/gtest.h>

namespace hcs {
namespace {

struct ParseCase {
  std::u16string text;
  int32_t expected;
};

class ParseInt : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseInt, ReadsLeniently) {
  const auto& p = GetParam();
  EXPECT_EQ(parseInt(icu::UnicodeString(p.text.data(), static_cast<int32_t>(p.text.size()))), p.expected)
      << "input [" << std::string(p.text.begin(), p.text.end()) << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseInt,
    ::testing::Values(ParseCase{u"", 0}, ParseCase{u"42", 42}, ParseCase{u" -42", -42}, ParseCase{u"--7", -7},
                      ParseCase{u"4 2", 4}, ParseCase{u"+5", 0}, ParseCase{u"x12", 0}, ParseCase{u"12x", 12},
                      ParseCase{u" 12", 12}, ParseCase{u"0 -3", -3},    // leading zeros keep "-" and blanks open
                      ParseCase{u"00 7", 7}, ParseCase{u"7-", 7},       // "-" after a digit ends the number
                      ParseCase{u"\u0664\u0662", 42},                   // Arabic-Indic digits
                      ParseCase{u"\U0001D7D5\U0001D7CE", 70},           // mathematical digits beyond the BMP
                      ParseCase{u"\t5", 0},                             // only U+0020 is a blank
                      ParseCase{u"2147483648", INT32_MIN},             // 32-bit wrap, no check
                      ParseCase{u"-2147483648", INT32_MIN}));

TEST(ZeroPad, FillsToWidthAndNeverTruncates) {
  std::string out = "old";
  zeroPad(out, 7, 3);
  EXPECT_EQ(out, "007");
  zeroPad(out, 1234, 3);
  EXPECT_EQ(out, "1234");
  zeroPad(out, -5, 3);
  EXPECT_EQ(out, "0-5");
  zeroPad(out, 123456, 5);
  EXPECT_EQ(out, "123456");
}

}  // namespace
}  // namespace hcs
