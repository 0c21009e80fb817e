#include "text/columns.h"

#include <algorithm>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace hcs::text {
namespace {

int columnsOf(UChar32 c) {
  if (c < 0) return 1;  // a byte that is not UTF-8, shown as one replacement character
  const int8_t category = u_charType(c);
  if (category == U_NON_SPACING_MARK || category == U_ENCLOSING_MARK || category == U_FORMAT_CHAR) return 0;
  // Hangul vowel and final jamo join the syllable before them.
  const int syllable = u_getIntPropertyValue(c, UCHAR_HANGUL_SYLLABLE_TYPE);
  if (syllable == U_HST_VOWEL_JAMO || syllable == U_HST_TRAILING_JAMO) return 0;
  const int eastAsian = u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
  return eastAsian == U_EA_WIDE || eastAsian == U_EA_FULLWIDTH ? 2 : 1;
}

// Calls `take(end, columns)` for each character of `text`, `end` being the byte offset after it, until
// `take` returns false.
template <class Take>
void eachCharacter(std::string_view text, Take take) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  int32_t i = 0;
  while (i < length) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (!take(static_cast<size_t>(i), columnsOf(c))) return;
  }
}

}  // namespace

int displayWidth(std::string_view utf8) {
  int width = 0;
  eachCharacter(utf8, [&](size_t, int columns) {
    width += columns;
    return true;
  });
  return width;
}

std::string fitColumn(std::string_view utf8, int width) {
  int used = displayWidth(utf8);
  std::string fitted;
  if (used <= width) {
    fitted.assign(utf8);
  } else {
    const int room = width - 3;
    size_t kept = 0;
    used = 0;
    // Zero-width marks fit wherever their base did, so they stay with it.
    eachCharacter(utf8, [&](size_t end, int columns) {
      if (used + columns > room) return false;
      used += columns;
      kept = end;
      return true;
    });
    fitted.assign(utf8.substr(0, kept)).append("...");
    used += 3;
  }
  return fitted.append(static_cast<size_t>(std::max(0, width - used)), ' ');
}

}  // namespace hcs::text
