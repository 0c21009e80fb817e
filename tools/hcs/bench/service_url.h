#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hcs::bench {

// The TLS settings of an https callout, named and read as the plugin names and reads them.
struct TlsSettings {
  std::string caFile;  // "" for the system's CA store
  std::string certFile, keyFile;
  std::string pinnedPublicKey;
  bool tls13 = false;  // tlsMin=1.3
};

// A callout URI as the baselines post to it: the URI without its query (which the plugin reads as its
// settings and does not send), and for https the TLS settings of that query.
struct ServiceUrl {
  std::string url;
  std::optional<TlsSettings> tls;
};

// Parameters end at '&' or ';' and their values are percent-decoded, as the plugin reads them; other
// parameters than the TLS settings are passed over, as is an http URI's query. Checking the values is the
// plugin's business: initPlugin refuses what it would.
ServiceUrl readServiceUrl(std::string_view uri);

// `value` percent-encoded for a query (a file path stays readable: '/' is kept).
std::string queryValue(std::string_view value);

}  // namespace hcs::bench
