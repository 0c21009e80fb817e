#include "plugin/plugin.h"

#include <exception>
#include <string>

#include <xercesc/dom/DOMException.hpp>
#include <xercesc/util/XMLException.hpp>

#include "config/settings.h"
#include "error/qrm_exception.h"
#include "log/event_writer.h"
#include "log/log_config.h"
#include "metrics/metrics_file.h"
#include "plugin/init_plugin.h"
#include "plugin/score.h"
#include "plugin/version.h"
#include "transport/output_interface.h"
#include "util/ucstring.h"

namespace hcs {

namespace {

// Constant-initialised: valid before any static constructor runs and until unload.
constexpr char kVersion[] = HCS_VERSION;

// The failures that leave an export do so as std::exception-derived records, so a host can catch them
// in one place; the XML library's own exception types do not derive from std::exception.
template <class F>
int32_t atHostBoundary(F&& body) {
  try {
    return body();
  } catch (const std::exception&) {
    throw;
  } catch (const xercesc::XMLException& e) {
    throw QRM_Exception("", icu::UnicodeString(u"XML library failure: ").append(e.getMessage()), 0,
                        kSeverityCritical);
  } catch (const xercesc::DOMException& e) {
    throw QRM_Exception("", icu::UnicodeString(u"XML library failure: ").append(e.getMessage()), 0,
                        kSeverityCritical);
  } catch (...) {
    throw QRM_Exception("", UCString("Unexpected failure inside the plugin"), 0, kSeverityCritical);
  }
}

}  // namespace

const char* pluginVersion() { return kVersion; }

// Runs from the export file's static initialiser, which comes before those of the internal library: it
// may only touch what is constant-initialised or built on first use (theSettings is neither, so the
// event writer reads it later, through the lookup).
void onLibraryLoad() {
  // The event writer sits below the settings, so it asks for the module name through this hook.
  setModuleNameLookup([](icu::UnicodeString& name) { return theSettings.getModuleName(name); });
  installLogFromEnvironment();
  // Before any interface exists, so the metrics outlive every interface that counts into them.
  installMetricsFromEnvironment();
  driverRegistry();  // enters the HTTP driver
}

int32_t initPluginImpl(const char* initDocument, int32_t initDocumentLength, char* errorText) {
  return atHostBoundary([&] { return initializePlugin(initDocument, initDocumentLength, errorText); });
}

int32_t scoreImpl(const char* request, int32_t requestLength, const char* inbound, int32_t inboundLength,
                  const char* matched, int32_t matchedLength, char* resultBuffer, uint32_t maxResultSize) {
  return atHostBoundary([&] {
    return scoreRequest(request, requestLength, inbound, inboundLength, matched, matchedLength, resultBuffer,
                        maxResultSize);
  });
}

}  // namespace hcs
