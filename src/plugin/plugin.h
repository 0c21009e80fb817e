#pragma once

#include <cstdint>

namespace hcs {

// What the exports run; same contracts as in httpCalloutScoring.h.
int32_t initPluginImpl(const char* initDocument, int32_t initDocumentLength, char* errorText);
int32_t scoreImpl(const char* request, int32_t requestLength, const char* inbound, int32_t inboundLength,
                  const char* matched, int32_t matchedLength, char* resultBuffer, uint32_t maxResultSize);
// What the library does when it is loaded: the driver list, logging when HTTPCALLOUT_LOG asks for it
// and the metrics file when HTTPCALLOUT_METRICS does. Never throws.
void onLibraryLoad();
// "1.0": the same pointer for the life of the library.
const char* pluginVersion();

}  // namespace hcs
