#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

#include <unicode/unistr.h>

// Numbers from text. Every reader of a number in the system goes through one of two rules, lenient or
// strict; where the readers differ (which digits count, a "+", 32 bits wrapping or 64 bits saturating,
// how many digits) the difference is a field of the rule, so no other file accumulates digits.
namespace hcs {

// `value` in decimal, left-filled with "0" up to `width` characters. Longer numbers are written whole;
// a minus sign stays after the zeros (-5 at width 3 gives "0-5").
void zeroPad(std::string& out, int value, int width);

// Which characters of UTF-16 text are decimal digits. 8-bit text always has ASCII digits.
enum class DigitSet {
  kAscii,         // "0" to "9"
  kUnicodeUnits,  // any Unicode decimal digit that is one UTF-16 unit; one beyond U+FFFF is no digit
  kUnicode,       // any Unicode decimal digit, read by code point
};

// The lenient rule reads the number a text starts with and never fails: digits accumulate; while the
// value is still 0, blanks (U+0020) are skipped and "-" makes the number negative; anything else ends
// it. "" gives 0.
struct LenientRule {
  enum class Overflow {
    kWrap32,      // 32-bit arithmetic without checks: "while 0" means while the wrapped value is 0
    kSaturate64,  // INT64_MIN or INT64_MAX once the digits pass 64 bits
  };
  DigitSet digits = DigitSet::kUnicode;
  bool minus = true;  // false: "-" ends the number like any other character
  bool plus = false;  // true: "+" is skipped like a blank while the value is 0
  Overflow overflow = Overflow::kWrap32;
};

struct LenientNumber {
  int64_t value = 0;      // within int32_t under kWrap32
  bool overflow = false;  // kSaturate64 only: the digits went past 64 bits
};

LenientNumber readLenient(std::u16string_view text, const LenientRule& rule);

// The lenient rule over one optional "." and a fraction: "-1.25" gives -1.25, ".5" 0.5, "3." 3, "1.2.3"
// 1.2. A "-" or "+" after "0." still counts while every digit read is 0. Accumulated in double, digit
// by digit; `rule.overflow` does not apply.
double readLenientDecimal(std::u16string_view text, const LenientRule& rule);

// The defined reading of identifiers and numbers in settings: the lenient rule as LenientRule{} gives
// it. "" and "+5" give 0, " -42" gives -42, "4 2" gives 4, "0 -3" gives -3, "2147483648" INT32_MIN.
int32_t parseInt(const icu::UnicodeString& text);

// The strict rule: the whole text is digits (after a "-" where allowed), at most `maxDigits` of them,
// and the number lies within [low, high]. Anything else is refused, and the caller words the refusal.
struct StrictRule {
  int64_t low = 0;
  int64_t high = INT64_MAX;
  int maxDigits = 0;  // 0: no limit
  bool minus = false;
  int radix = 10;                      // 10, or 16 for hexadecimal digits in either case
  DigitSet digits = DigitSet::kAscii;  // of UTF-16 text
};

enum class Refusal {
  kNone,
  kMalformed,   // empty, a lone "-", a character that is no digit, more than maxDigits digits
  kOutOfRange,  // digits only, but below low or above high (however many digits)
};

struct StrictNumber {
  int64_t value = 0;                      // 0 when refused
  Refusal refusal = Refusal::kMalformed;  // one that was never read is no number
  explicit operator bool() const { return refusal == Refusal::kNone; }
};

StrictNumber readStrict(std::string_view text, const StrictRule& rule);
StrictNumber readStrict(std::u16string_view text, const StrictRule& rule);

// The same on a UnicodeString (or UCString). Templates, so that a u"" literal is no ambiguous call but
// goes to the u16string_view overloads.
inline std::u16string_view unitsOf(const icu::UnicodeString& text) {
  return {text.getBuffer(), static_cast<size_t>(text.length())};
}
template <std::derived_from<icu::UnicodeString> Text>
LenientNumber readLenient(const Text& text, const LenientRule& rule) {
  return readLenient(unitsOf(text), rule);
}
template <std::derived_from<icu::UnicodeString> Text>
double readLenientDecimal(const Text& text, const LenientRule& rule) {
  return readLenientDecimal(unitsOf(text), rule);
}
template <std::derived_from<icu::UnicodeString> Text>
StrictNumber readStrict(const Text& text, const StrictRule& rule) {
  return readStrict(unitsOf(text), rule);
}

}  // namespace hcs
