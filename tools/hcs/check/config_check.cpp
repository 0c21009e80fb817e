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
#include "transport/callout_settings.h"
#include "util/format.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs::check {

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
void describeCallout(const icu::UnicodeString& uriText, CalloutEntry& entry) {
  const CalloutUriReading reading = readCalloutUri(uriText);
  if (reading.verdict != CalloutUriReading::Verdict::kAccepted) {
    entry.problem = reading.why;
    return;
  }
  entry.settings = reading.settings.describe();
  entry.warnings = reading.warnings;
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
    describeCallout(record.value(), entry);
    report.entries.push_back(std::move(entry));
  }
  return report;
}

}  // namespace hcs::check
