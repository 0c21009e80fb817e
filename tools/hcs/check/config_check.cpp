#include "check/config_check.h"

#include <memory>
#include <string>

#include "config/build_store.h"
#include "config/config_report.h"
#include "config/db_store.h"
#include "config/ini_store.h"
#include "config/parameter_store.h"
#include "db/qrm_db.h"
#include "error/qrm_exception.h"
#include "transport/callout_policy.h"
#include "transport/http_interface.h"
#include "util/format.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs::check {
namespace {

bool isAlnum(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string quoted(char c) { return std::string("\"") + c + "\""; }

// Walks the same shape isCalloutUri accepts and names the first place the text leaves it.
std::string diagnose(const std::string& s) {
  if (!s.empty() && (s.front() == ' ' || s.back() == ' ' || s.front() == '\t' || s.back() == '\t')) {
    return "blanks before or after the URI";
  }
  const std::size_t schemeEnd = s.find("://");
  if (schemeEnd == std::string::npos) return "not of the form http://host[:port][/path]";
  std::string scheme = s.substr(0, schemeEnd);
  for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (scheme == "https") return "https is not supported: the callout speaks plain http";
  if (scheme != "http") return "the scheme is \"" + s.substr(0, schemeEnd) + "\", not http";
  std::size_t i = schemeEnd + 3;
  const std::size_t authorityEnd = s.find('/', i);
  if (s.find('@', i) < authorityEnd) return "user information is not allowed";
  if (i >= s.size() || s[i] == '/' || s[i] == ':') return "no host";
  if (s[i] == '-') return "the host starts with a hyphen";
  if (s[i] == '[') return "IPv6 literal hosts are not accepted";
  if (!isAlnum(s[i]) && s[i] != '.') return "the host holds " + quoted(s[i]);
  while (i < s.size() && (isAlnum(s[i]) || s[i] == '.' || s[i] == '-')) ++i;
  if (i < s.size() && s[i] == ':') {
    ++i;
    if (i >= s.size() || !isDigit(s[i])) return "the port is not a number";
    const std::size_t digits = i;
    while (i < s.size() && isDigit(s[i])) ++i;
    const std::size_t first = s.find_first_not_of('0', digits);
    if (first < i && (i - first > 5 || std::stol(s.substr(first, i - first)) > 65535)) {
      return "the port is above 65535";
    }
  }
  if (i < s.size() && s[i] == '?') return "a query needs a path before it (/?…)";
  if (i < s.size() && s[i] != '/') return "the host or port holds " + quoted(s[i]);
  if (s.find_first_of("\r\n", i) != std::string::npos) return "a line break in the path";
  return "";
}

}  // namespace

std::string httpUriProblem(const std::string& uri) {
  if (isCalloutUri(UCString(uri))) return "";
  const std::string reason = diagnose(uri);
  return reason.empty() ? "not an acceptable http URI" : reason;
}

namespace {

std::shared_ptr<QRMDB> openDatabase(const std::string& uri) {
  QRMDB::setModuleName(u"hcs");  // names the session for whoever watches the database
  auto database = std::make_shared<QRMDB>(UCString(uri));
  try {
    database->open();
  } catch (QRM_Exception& e) {
    icu::UnicodeString text;
    formatUnicode(text, u"Unable to open database specified in the following URI [%S]",
                  maskedUri(UCString(uri)));
    QRM_Exception failure("", text, 0, e.severity());
    for (int32_t i = 0; i < e.entryCount(); ++i) failure.addText("", e.entry(i).text(), 0, -1);
    throw failure;
  }
  return database;
}

// The settings initPlugin would give the callout, its refusal of them, and what it would log.
void describeSettings(const icu::UnicodeString& uriText, CalloutEntry& entry) {
  const CUri uri(uriText);
  try {
    const CalloutPolicyReading reading = readCalloutPolicy(uri, kCalloutTimeoutMs);
    bool capped = false;
    entry.settings = reading.policy.describe(OHTTP::retriesOf(uri, capped));
    if (capped) entry.warnings.push_back("retries is capped at " + std::to_string(OHTTP::kMaxRetries));
    for (const std::string& parameter : reading.unknown) {
      entry.warnings.push_back("parameter [" + parameter + "] is not known and is ignored");
    }
    for (const std::string& parameter : reading.ignored) {
      entry.warnings.push_back("parameter [" + parameter + "] is not a number and is ignored");
    }
  } catch (const QRM_Exception& e) {
    entry.problem = e.what();
  }
}

}  // namespace

ConfigReport checkConfig(const std::string& iniFile, const std::string& node,
                         const std::string& databaseUri) {
  const UCString appName(node);
  CCMEParameterMemoryStore store;
  ConfigReport report;
  std::shared_ptr<QRMDB> database;
  std::unique_ptr<CCMEParameterDBStore> databaseStore;
  if (databaseUri.empty()) {
    buildParameterStore(store, nullptr, iniFile.c_str(), appName, nullptr, 0);
  } else {
    // The plugin's database branch, step by step, so the two sources stay at hand for the report.
    CCMEParameterINIStore iniStore(iniFile.c_str(), appName, nullptr, 0);
    iniStore.load();
    database = openDatabase(databaseUri);
    databaseStore = std::make_unique<CCMEParameterDBStore>(*database, appName, nullptr, 0);
    databaseStore->load();
    for (const auto& [databaseRecord, iniRecord] : findConflicts(*databaseStore, iniStore)) {
      report.conflicts.push_back(
          {toStdString(databaseRecord->group) + ":" + toStdString(databaseRecord->name),
           toStdString(databaseRecord->value()), toStdString(iniRecord->value())});
    }
    mergeStores(store, *databaseStore, iniStore);
    report.withDatabase = true;
    report.databaseParameters = databaseStore->records().size();
  }
  report.section = toStdString(store.section());
  const icu::UnicodeString prefix = CCMEParameterStore::makeKey(u"ATTR_URI", u"", false);
  for (const auto& [key, record] : store.records()) {
    if (!key.startsWith(prefix)) continue;
    CalloutEntry entry{toStdString(record.name), toStdString(record.value()), "", ValueSource::kIni, "", {}};
    const CCMEParameterRecord* fromTable = databaseStore ? databaseStore->findRecord(key) : nullptr;
    if (fromTable != nullptr && fromTable->hasValue) entry.source = ValueSource::kDatabase;
    entry.problem = httpUriProblem(entry.uri);
    if (entry.problem.empty()) describeSettings(record.value(), entry);
    report.entries.push_back(std::move(entry));
  }
  return report;
}

}  // namespace hcs::check
