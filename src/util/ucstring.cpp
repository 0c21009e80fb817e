#include "util/ucstring.h"

#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <cstring>

#include "error/qrm_exception.h"

namespace hcs {

namespace {

#if defined(_WIN32)
icu::UnicodeString fromLocal(const char* text, int32_t length) { return icu::UnicodeString(text, length); }
#else
icu::UnicodeString fromLocal(const char* text, int32_t length) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text, length));
}
#endif

}  // namespace

UCString::UCString() { getTerminatedBuffer(); }

UCString::UCString(const char* text)
    : UCString(text, text == nullptr ? 0 : static_cast<int32_t>(strlen(text))) {}

UCString::UCString(const char* text, int32_t length)
    : icu::UnicodeString(text == nullptr || length <= 0 ? icu::UnicodeString() : fromLocal(text, length)) {
  getTerminatedBuffer();
}

UCString::UCString(std::string_view text) : UCString(text.data(), static_cast<int32_t>(text.size())) {}

UCString::UCString(const icu::UnicodeString& other) : icu::UnicodeString(other) { getTerminatedBuffer(); }

UCString::UCString(const UCString& other) : icu::UnicodeString(other) { getTerminatedBuffer(); }

UCString::~UCString() = default;

std::string toStdString(const icu::UnicodeString& text) {
  std::string out;
  if (text.isEmpty()) return out;
#if defined(_WIN32)
  const int32_t needed = text.extract(0, text.length(), nullptr, 0, nullptr);
  out.resize(static_cast<size_t>(needed) + 1);
  text.extract(0, text.length(), out.data(), needed + 1, nullptr);
  out.resize(static_cast<size_t>(needed));
#else
  text.toUTF8String(out);
#endif
  return out;
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  if (text.isEmpty()) return out;
  // A UTF-16 unit never needs more than three UTF-8 bytes, so one pass always fits.
  out.resize(static_cast<size_t>(text.length()) * 3);
  int32_t written = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &written, text.getBuffer(), text.length(),
              &status);
  if (U_FAILURE(status)) {
    throw QRM_Exception("", UCString(u_errorName(status)), 0, 4);
  }
  out.resize(static_cast<size_t>(written));
  return out;
}

void appendLocal(icu::UnicodeString& out, std::string_view text) {
  if (text.empty()) return;
  out.append(fromLocal(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace hcs
