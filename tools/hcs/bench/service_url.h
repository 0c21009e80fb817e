#pragma once

#include <string>
#include <string_view>

#include "transport/callout_settings.h"

namespace hcs::bench {

// A callout URI as the baselines post to it: the URI without its query (which the plugin reads as its
// settings and does not send), and the settings the plugin reads from that query (for https, the TLS
// ones the baselines set on their own handles).
struct ServiceUrl {
  std::string url;
  CalloutSettings settings;
};

// The URI read by the plugin's own reader; false with `why` when initPlugin would refuse it.
bool readServiceUrl(std::string_view uri, ServiceUrl& out, std::string& why);

// `value` percent-encoded for a query (a file path stays readable: '/' is kept).
std::string queryValue(std::string_view value);

}  // namespace hcs::bench
