#include "bench/call_pattern.h"

#include <cstdio>

#include "bench/wire_document.h"
#include "host/pairs.h"

namespace hcs::bench {
namespace {

// `n` makes the value new.
std::string record(const char* name, int n) {
  char value[64];
  std::snprintf(value, sizeof value, "%s, Mill Lane %06d", name, n);
  return host::attributeRecord(1, value);
}

}  // namespace

std::vector<CallDocuments> callsOf(std::string_view pattern) {
  std::vector<CallDocuments> calls;
  const bool same = pattern == "same";
  const bool allNew = pattern == "all-new";
  const int variants = same ? 1 : 64;
  for (int n = 0; n < variants; ++n) {
    const int changing = allNew ? n : 0;
    CallDocuments call{host::requestDocument(changing + 1), record("Jonathan Smithers", changing),
                       record("Jonathon Smithers", n), ""};
    call.wire = outgoingDocument(call.request, call.inbound, call.matched);
    calls.push_back(std::move(call));
  }
  return calls;
}

}  // namespace hcs::bench
