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
#include "transport/callout_policy.h"
#include "transport/http_interface.h"
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
  if (!isCalloutUri(uriText)) {
    std::string text;
    formatString(text, "<ERROR>Malformed HTTP Callout URI: [%s]</ERROR>", toUtf8(uriText));
    return reportError(errorText, text);
  }

  const CUri uri(uriText);
  CalloutPolicyReading settings;
  try {
    settings = readCalloutPolicy(uri, kCalloutTimeoutMs);
  } catch (const QRM_Exception& e) {
    return reportError(errorText, std::string("<ERROR>") + e.what() + "</ERROR>");
  }
  // Without production settings an unknown parameter is accepted, as it always was, but said once.
  for (const std::string& parameter : settings.unknown) {
    logLine(kLogWarning, u"HTTP Callout URI [%S]: parameter [%s] is not known and is ignored", uriText,
            parameter);
  }
  for (const std::string& parameter : settings.ignored) {
    logLine(kLogWarning, u"HTTP Callout URI [%S]: parameter [%s] is not a number and is ignored", uriText,
            parameter);
  }
  const int32_t key = parseInt(attrTypeId);
  MetricsRegistry* metrics = activeMetrics();
  auto interface =
      std::make_unique<OHTTP>(uri, settings.policy, 1, toUtf8(attrType),
                              metrics != nullptr ? metrics->forType(key, toUtf8(attrType)) : nullptr);
  if (interface->retriesCapped()) {
    logLine(kLogWarning, u"HTTP Callout URI [%S]: retries is capped at %d", uriText, OHTTP::kMaxRetries);
  }
  // A key that is already present keeps its interface; this one is then dropped.
  calloutRegistry().insert(key, std::move(interface));
  return 0;
}

}  // namespace hcs
