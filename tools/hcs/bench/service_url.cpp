#include "bench/service_url.h"

#include <algorithm>

#include "util/ucstring.h"
#include "util/uri.h"

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
  return percentEncoded(value, [](unsigned char c) {
    return !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
             c == '.' || c == '_' || c == '~' || c == '/');
  });
}

}  // namespace hcs::bench
