#ifndef _WIN32

#include "util/code_page_platform.h"

namespace hcs {

icu::UnicodeString fromLocalCodePage(const char* text, int32_t length) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text, length));
}

std::string toLocalCodePage(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

bool localCodePageIsUtf8() { return true; }

}  // namespace hcs

#endif  // !_WIN32
