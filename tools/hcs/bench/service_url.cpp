#include "bench/service_url.h"

#include <strings.h>

namespace hcs::bench {
namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string decoded(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool escape = text[i] == '%' && i + 2 < text.size();
    const int high = escape ? hexDigit(text[i + 1]) : -1;
    const int low = escape ? hexDigit(text[i + 2]) : -1;
    if (high >= 0 && low >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

void readSetting(std::string_view name, std::string value, TlsSettings& tls) {
  if (name == "caFile") {
    tls.caFile = std::move(value);
  } else if (name == "certFile") {
    tls.certFile = std::move(value);
  } else if (name == "keyFile") {
    tls.keyFile = std::move(value);
  } else if (name == "pinnedPublicKey") {
    tls.pinnedPublicKey = std::move(value);
  } else if (name == "tlsMin") {
    tls.tls13 = value == "1.3";
  }
}

}  // namespace

ServiceUrl readServiceUrl(std::string_view uri) {
  uri = uri.substr(0, uri.find('#'));
  const size_t question = uri.find('?');
  ServiceUrl out{std::string(uri.substr(0, question)), std::nullopt};
  static constexpr std::string_view kHttps = "https://";
  if (uri.size() < kHttps.size() || ::strncasecmp(uri.data(), kHttps.data(), kHttps.size()) != 0) return out;
  out.tls.emplace();
  if (question == std::string_view::npos) return out;
  std::string_view query = uri.substr(question + 1);
  while (!query.empty()) {
    // The plugin splits parameters at either.
    const size_t end = query.find_first_of("&;");
    const std::string_view pair = query.substr(0, end);
    const size_t equals = pair.find('=');
    if (equals != std::string_view::npos)
      readSetting(pair.substr(0, equals), decoded(pair.substr(equals + 1)), *out.tls);
    query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
  }
  return out;
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
