#pragma once

#include <string>
#include <string_view>

namespace hcs::bench {

// The body the plugin posts for one score call: its outgoing document, as the plugin builds it, and the
// line feed the transport adds. The baselines post these bytes, so every side sends the same. For
// records the plugin scans without a parser, as the benchmark's own are; throws std::invalid_argument
// for others.
std::string outgoingDocument(std::string_view request, std::string_view inbound, std::string_view matched);

}  // namespace hcs::bench
