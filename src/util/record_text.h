#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <unicode/umachine.h>

namespace hcs {

// The record scanner's first step (util/record_scanner.h), and what both of its steps share.

// Whether XML 1.0 allows the character in a document, literally or as a reference.
constexpr bool isXmlChar(UChar32 c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// Whether `s` stands in `text` at `at`. Compared here rather than by memcmp: the
// texts are a few bytes, and most comparisons end at the first or second.
inline bool follows(std::string_view text, size_t at, std::string_view s) {
  if (at > text.size() || text.size() - at < s.size()) return false;
  for (size_t k = 0; k < s.size(); ++k) {
    if (text[at + k] != s[k]) return false;
  }
  return true;
}

// Into `text`: a record's bytes as the parser gets them, every `renameFrom` replaced by `renameTo` (as
// RecordRules say), the markup upper-cased as CXmlDocument does, line ends normalised as a parser
// does; `nameMarks` gets the number of '<' and '=' in it. False for bytes the parser would not read as
// the same characters (a byte order mark, invalid UTF-8, control characters, characters XML refuses)
// and for markup outside ASCII, whose upper-case form would need the Unicode tables; `text` then holds
// nothing to use.
bool prepareRecordText(std::string_view raw, std::string_view renameFrom, std::string_view renameTo,
                       std::string& text, size_t& nameMarks);

}  // namespace hcs
