#include "bench/service_url.h"

#include <algorithm>

#include "util/ucstring.h"

namespace hcs::bench {

bool readServiceUrl(std::string_view uri, ServiceUrl& out, std::string& why) {
  const CalloutUriReading reading = readCalloutUri(
      icu::UnicodeString::fromUTF8(icu::StringPiece(uri.data(), static_cast<int32_t>(uri.size()))));
  if (reading.verdict != CalloutUriReading::Verdict::kAccepted) {
    why = reading.why;
    return false;
  }
  out.url = std::string(uri.substr(0, std::min(uri.find('?'), uri.find('#'))));
  out.settings = reading.settings;
  return true;
}

std::string queryValue(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~' || c == '/') {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

}  // namespace hcs::bench
