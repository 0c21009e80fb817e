#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hcs::bench {

// The three documents a host hands one score call, and the bytes the plugin posts for them.
struct CallDocuments {
  std::string request, inbound, matched, wire;
};

// The names --pattern takes.
inline constexpr const char* kPatterns[] = {"same", "usual", "all-new"};

// The calls of a pattern, to be used in turn, with records of about 100 bytes as a typical host's:
// "same" repeats one pair; "usual" keeps the request and the inbound record and brings a new matched
// record each call, as a host scoring one record against its candidates does; "all-new" changes all
// three. More variants than any cache of the last document holds.
std::vector<CallDocuments> callsOf(std::string_view pattern);

}  // namespace hcs::bench
