#include "util/numbers.h"

#include <gtest/gtest.h>

#include "util/ucstring.h"

namespace hcs {
namespace {

using Overflow = LenientRule::Overflow;

std::string shown(const char16_t* text) { return "input [" + toStdString(icu::UnicodeString(text)) + "]"; }

// parseInt's rule, and the one statement parameters are read by.
constexpr LenientRule kDefined{};
constexpr LenientRule kWide{
    .digits = DigitSet::kUnicodeUnits, .plus = true, .overflow = Overflow::kSaturate64};

struct LenientCase {
  const char16_t* text;
  LenientRule rule;
  int64_t value;
  bool overflow = false;
};

// clang-format off
const LenientCase kLenientCases[] = {
    {u"4294967296 5", kDefined, 5},  // wrapped to 0, so the blank is still a leading one
    {u"+5", kDefined, 0}, {u"+0-5", kWide, -5}, {u"-5", {.minus = false}, 0},
    {u"\U0001D7D5", kDefined, 7}, {u"\U0001D7D5", kWide, 0},  // beyond U+FFFF a digit is two units
    {u"\u0663", {.digits = DigitSet::kAscii}, 0}, {u"\u0663", kWide, 3},
    {u"9223372036854775807", kWide, INT64_MAX}, {u"9223372036854775808", kWide, INT64_MAX, true},
    {u"-9223372036854775808", kWide, INT64_MIN}, {u"-99999999999999999999 1", kWide, INT64_MIN, true}};
// clang-format on

class Lenient : public ::testing::TestWithParam<LenientCase> {};

TEST_P(Lenient, ReadsTheLeadingNumberAsTheRuleSays) {
  const LenientCase& c = GetParam();
  const LenientNumber number = readLenient(std::u16string_view(c.text), c.rule);
  EXPECT_EQ(number.value, c.value) << shown(c.text);
  EXPECT_EQ(number.overflow, c.overflow) << shown(c.text);
}

INSTANTIATE_TEST_SUITE_P(Table, Lenient, ::testing::ValuesIn(kLenientCases));

TEST(LenientDecimal, ReadsOneFractionAndSignsWhileEveryDigitIsZero) {
  for (const auto& [text, value] : {std::pair{u"-1.25", -1.25},
                                    {u"0.0-5", -0.05},
                                    {u"1.2.3", 1.2},
                                    {u"+-.5x", -0.5},
                                    {u"3.", 3.0},
                                    {u"7 1", 7.0}}) {
    EXPECT_DOUBLE_EQ(readLenientDecimal(std::u16string_view(text), kWide), value) << shown(text);
  }
}

struct StrictCase {
  const char16_t* text;
  StrictRule rule;
  int64_t value;
  Refusal refusal = Refusal::kNone;
};

constexpr StrictRule kPlain{};
constexpr Refusal kMalformed = Refusal::kMalformed;
constexpr Refusal kOutOfRange = Refusal::kOutOfRange;

// clang-format off
const StrictCase kStrictCases[] = {
    {u"007", kPlain, 7}, {u"", kPlain, 0, kMalformed}, {u"+5", kPlain, 0, kMalformed},
    {u" 5", kPlain, 0, kMalformed}, {u"5 ", kPlain, 0, kMalformed}, {u"-", {.minus = true}, 0, kMalformed},
    {u"0000000001", {.maxDigits = 10}, 1}, {u"00000000001", {.maxDigits = 10}, 0, kMalformed},
    {u"0", {.low = 1, .high = 5}, 0, kOutOfRange}, {u"5", {.low = 1, .high = 5}, 5},
    {u"6", {.low = 1, .high = 5}, 0, kOutOfRange}, {u"-1", {.minus = true}, 0, kOutOfRange},
    {u"99999999999999999999999", kPlain, 0, kOutOfRange},
    {u"9999999999999999999999x", kPlain, 0, kMalformed},  // a stray character outweighs the size
    {u"9223372036854775808", kPlain, 0, kOutOfRange},
    {u"-9223372036854775808", {.low = INT64_MIN, .minus = true}, INT64_MIN},
    {u"-9223372036854775809", {.low = INT64_MIN, .minus = true}, 0, kOutOfRange},
    {u"aFAf", {.radix = 16}, 0xAFAF}, {u"10FFFF", {.radix = 16}, 0x10FFFF}, {u"fg", {.radix = 16}, 0, kMalformed},
    {u"\u0663", kPlain, 0, kMalformed}, {u"\u0663", {.digits = DigitSet::kUnicodeUnits}, 3},
    {u"\U0001D7D5", {.digits = DigitSet::kUnicodeUnits}, 0, kMalformed},
    {u"\U0001D7D5", {.digits = DigitSet::kUnicode}, 7}};
// clang-format on

class Strict : public ::testing::TestWithParam<StrictCase> {};

TEST_P(Strict, TakesOnlyDigitsInRange) {
  const StrictCase& c = GetParam();
  const std::u16string_view units(c.text);
  const StrictNumber number = readStrict(units, c.rule);
  EXPECT_EQ(number.refusal, c.refusal) << shown(c.text);
  EXPECT_EQ(number.value, c.value) << shown(c.text);
  // 8-bit text is read alike, where it can say the same.
  if (units.find_first_not_of(u"0123456789abcdefABCDEFgx +-") != std::u16string_view::npos) return;
  const std::string bytes(units.begin(), units.end());
  EXPECT_EQ(readStrict(bytes, c.rule).refusal, c.refusal) << shown(c.text);
  EXPECT_EQ(readStrict(bytes, c.rule).value, c.value) << shown(c.text);
}

INSTANTIATE_TEST_SUITE_P(Table, Strict, ::testing::ValuesIn(kStrictCases));

}  // namespace
}  // namespace hcs
