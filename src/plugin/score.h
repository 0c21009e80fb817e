#pragma once

#include <cstdint>

namespace hcs {

// One score call: reads the two records and checks their types, finds the callout registered for the
// inbound type, posts the outgoing document (plugin/outgoing_document.h) with up to retries + 1
// attempts and writes the reply, or the error document, into `resultBuffer`.
// Null pointers read as empty text; negative lengths as 0. Safe to call from many threads at once.
int32_t scoreRequest(const char* request, int32_t requestLength, const char* inbound, int32_t inboundLength,
                     const char* matched, int32_t matchedLength, char* resultBuffer, uint32_t maxResultSize);

}  // namespace hcs
