#pragma once

#include <string>
#include <string_view>

namespace hcs::bench {

// The body the plugin posts for one score call: the request, the inbound record with its root renamed
// ATTR1 and the matched record renamed ATTR2, under ATTRS_TO_SCORE, and a final line feed. For records
// whose root is <ATTRIBUTE> and whose markup needs no rewriting (upper case, no declaration), as the
// benchmark's own records are; the baselines post these bytes, so every side sends the same.
std::string outgoingDocument(std::string_view request, std::string_view inbound, std::string_view matched);

}  // namespace hcs::bench
