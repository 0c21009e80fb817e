#ifdef _WIN32

#include "util/code_page_platform.h"

namespace hcs {

// A null code page name: ICU's default converter, the process's ANSI code page.
icu::UnicodeString fromLocalCodePage(const char* text, int32_t length) {
  return icu::UnicodeString(text, length);
}

std::string toLocalCodePage(const icu::UnicodeString& text) {
  std::string out;
  const int32_t needed = text.extract(0, text.length(), nullptr, 0, nullptr);
  out.resize(static_cast<size_t>(needed) + 1);
  text.extract(0, text.length(), out.data(), needed + 1, nullptr);
  out.resize(static_cast<size_t>(needed));
  return out;
}

// Even where the ANSI code page is UTF-8 (65001), text takes the trip through the converter.
bool localCodePageIsUtf8() { return false; }

}  // namespace hcs

#endif  // _WIN32
