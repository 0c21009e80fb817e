#include "plugin/init_plugin.h"

#include <memory>
#include <string>

#include "config/build_store.h"
#include "config/parameter_store.h"
#include "error/qrm_exception.h"
#include "log/log_message.h"
#include "metrics/callout_metrics.h"
#include "plugin/callout_registry.h"
#include "plugin/host_buffer.h"
#include "plugin/init_database.h"
#include "transport/callout.h"
#include "transport/callout_settings.h"
#include "util/format.h"
#include "util/numbers.h"
#include "util/ucstring.h"
#include "util/uri.h"
#include "util/xml_document.h"

namespace hcs {

namespace {

const UCString kDbConnection("DB_CONNECTION");
const UCString kConfigFile("CONFIG_FILE");
const UCString kNodeName("NODE_NAME");
const UCString kAttrType("ATTR_TYPE");
const UCString kAttrTypeId("ATTR_TYPE_ID");
const UCString kAttrUri("ATTR_URI");

int32_t reportError(char* errorText, const std::string& text) {
  // Every initPlugin error text is "<ERROR>…</ERROR>": cut inside it, never past the host's 1024 bytes.
  static constexpr std::string_view kOpen = "<ERROR>";
  static constexpr std::string_view kClose = "</ERROR>";
  std::string_view inner(text);
  if (inner.starts_with(kOpen) && inner.ends_with(kClose)) {
    inner = inner.substr(kOpen.size(), inner.size() - kOpen.size() - kClose.size());
  }
  writeCapped(errorText, kInitErrorCapacity, kOpen, inner, kClose);
  return -1;
}

}  // namespace

int32_t initializePlugin(const char* initDocument, int32_t initDocumentLength, char* errorText) {
  UCString documentText(initDocument, initDocumentLength);
  const CXmlDocument document(documentText);
  xercesc::DOMNode* root = document.getRoot();
  const icu::UnicodeString empty;
  const icu::UnicodeString dbConnection = document.getValue(root, kDbConnection, empty, true);
  const icu::UnicodeString configFile = document.getValue(root, kConfigFile, empty, true);
  const icu::UnicodeString nodeName = document.getValue(root, kNodeName, empty, true);
  const icu::UnicodeString attrType = document.getValue(root, kAttrType, empty, true);
  const icu::UnicodeString attrTypeId = document.getValue(root, kAttrTypeId, empty, true);

  std::shared_ptr<QRMDB> database;
  if (!dbConnection.isEmpty()) {
    try {
      database = openInitDatabase(dbConnection);
    } catch (const QRM_Exception&) {
      std::string text;
      formatString(text, "<ERROR>Unable to open database specified in the following URI [%S]</ERROR>",
                   maskedUri(dbConnection));
      return reportError(errorText, text);
    }
  }

  CCMEParameterMemoryStore store;
  const std::string iniFile = toStdString(configFile);
  buildParameterStore(store, database.get(), iniFile.c_str(), nodeName, nullptr, 0);

  const icu::UnicodeString uriText = store.getParameter(kAttrUri, attrType);
  if (uriText.isEmpty()) {
    std::string text;
    formatString(text, "<ERROR>No ATTR_URI entry is configured for ATTR_TYPE [%S]</ERROR>", attrType);
    return reportError(errorText, text);
  }
  const CalloutUriReading reading = readCalloutUri(uriText);
  if (reading.verdict == CalloutUriReading::Verdict::kMalformed) {
    std::string text;
    formatString(text, "<ERROR>Malformed HTTP Callout URI: [%s]</ERROR>", toUtf8(uriText));
    return reportError(errorText, text);
  }
  if (reading.verdict == CalloutUriReading::Verdict::kBadSettings) {
    return reportError(errorText, "<ERROR>" + reading.why + "</ERROR>");
  }
  for (const std::string& warning : reading.warnings) {
    logLine(kLogWarning, u"HTTP Callout URI [%S]: %s", uriText, warning);
  }
  const int32_t key = parseInt(attrTypeId);
  MetricsRegistry* metrics = activeMetrics();
  auto callout =
      std::make_unique<Callout>(reading.uri, reading.settings, toUtf8(attrType),
                                metrics != nullptr ? metrics->forType(key, toUtf8(attrType)) : nullptr);
  // A key that is already present keeps its callout; this one is then dropped.
  calloutRegistry().insert(key, std::move(callout));
  return 0;
}

}  // namespace hcs
