#pragma once

// How a parameter given as text is read when numbers are detected in it (QRMDBStatement::bindText).
#include <cstdint>
#include <string>

#include <unicode/unistr.h>

namespace hcs {

enum class ParameterKind { kText, kInteger, kDouble };

// After leading blanks: a "-" or "+" only as the text's very first unit, digits "0"-"9" and at most one
// "." make a number (a double with the "."); anything else is text. "", blanks and a lone sign are an
// integer.
ParameterKind detectParameterKind(const icu::UnicodeString& text);

// Lenient number reading for detected parameters: any Unicode decimal digit counts; while the value
// is still 0, "-" flips the sign and "+" and blanks are skipped; anything else ends the number.
// An integer beyond 64 bits reads as INT64_MIN or INT64_MAX and sets `*overflow` (when given).
int64_t readInteger64(const icu::UnicodeString& text, bool* overflow = nullptr);
double readDouble(const icu::UnicodeString& text);

// The sign and digits of a text detected as an integer (blanks and a "+" dropped).
std::string integerDigits(const icu::UnicodeString& text);

}  // namespace hcs
