// The three exported C functions. Each only hands over to the plugin code, which owns the conversion of
// failures into results and error texts.
#include "httpCalloutScoring.h"
#include "plugin/plugin.h"

namespace {
[[maybe_unused]] const bool kLoaded = (hcs::onLibraryLoad(), true);
}  // namespace

extern "C" {

HCS_EXPORT int32_t initPlugin(const char* initDocument, int32_t initDocumentLength, char* errorText) {
  return hcs::initPluginImpl(initDocument, initDocumentLength, errorText);
}

HCS_EXPORT int32_t score(const char* request, int32_t requestLength, const char* inbound,
                         int32_t inboundLength, const char* matched, int32_t matchedLength,
                         char* resultBuffer, uint32_t maxResultSize) {
  return hcs::scoreImpl(request, requestLength, inbound, inboundLength, matched, matchedLength, resultBuffer,
                        maxResultSize);
}

HCS_EXPORT const char* getVersion(void) { return hcs::pluginVersion(); }

}  // extern "C"
