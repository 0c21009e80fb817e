#include "config/config_report.h"

#include "error/qrm_exception.h"
#include "log/log_message.h"
#include "util/format.h"
#include "util/numbers.h"
#include "util/ucstring.h"

namespace hcs {

namespace {

// Spelled as the operators who read these reports have always seen it.
const icu::UnicodeString kReportHeading(
    u"The following issues were identitified during configuration loading:");

QRM_Exception& addLine(QRM_Exception& report, const icu::UnicodeString& line) {
  return report.addText("", line, 0, kNoSeverity);
}

bool hasType(const CCMEParameterRecord& a, const CCMEParameterRecord& b, ParameterDataType type) {
  return a.storeType == type || b.storeType == type;
}

bool conflict(const CCMEParameterRecord& database, const CCMEParameterRecord& ini) {
  const icu::UnicodeString& a = database.value();
  const icu::UnicodeString& b = ini.value();
  if (a == b || !ini.hasValue || !database.hasValue) return false;
  if (hasType(database, ini, ParameterDataType::BOOLEAN)) return parseBool(a) != parseBool(b);
  if (hasType(database, ini, ParameterDataType::INTEGER)) return parseInt(a) != parseInt(b);
  return true;
}

}  // namespace

bool parseBool(const icu::UnicodeString& text) {
  icu::UnicodeString upper(text);
  upper.toUpper();
  return upper == u"YES" || upper == u"Y" || upper == u"TRUE" || upper == u"T" || upper == u"1";
}

std::vector<ParameterConflict> findConflicts(const CCMEParameterStore& databaseStore,
                                             const CCMEParameterStore& iniStore) {
  std::vector<ParameterConflict> conflicts;
  for (const auto& [key, database] : databaseStore.records()) {
    const CCMEParameterRecord* ini = iniStore.findRecord(key);
    if (ini != nullptr && conflict(database, *ini)) conflicts.push_back({&database, ini});
  }
  return conflicts;
}

void checkConflicts(const CCMEParameterStore& databaseStore, const CCMEParameterStore& iniStore) {
  const std::vector<ParameterConflict> conflicts = findConflicts(databaseStore, iniStore);
  if (conflicts.empty()) return;
  QRM_Exception report("", kReportHeading, 0, 4);
  addLine(report, u"  Conflicting parameters: ");
  for (const auto& [database, ini] : conflicts) {
    if (database->hidden) {
      addLine(report, u"[...]");
      continue;
    }
    icu::UnicodeString line(u"    ");
    line.append(database->group).append(u":").append(database->name).append(u" (");
    line.append(database->description.isEmpty() ? database->name : database->description);
    line.append(u") [").append(database->value()).append(u"] vs. [").append(ini->value()).append(u"]");
    addLine(report, line);
  }
  report.log(kSeverityWarning, false, true);
}

void logDefaulted(const CCMEParameterStore& store) {
  if (logDispatcher() == nullptr) return;
  for (const auto& [key, record] : store.records()) {
    if (record.hidden || record.required || record.hasValue) continue;
    logLine(kLogDebug, u"Defaulted parameter [%S] in section [%S], using value [%S]", record.name,
            record.group, record.value());
  }
}

void validateStore(const CCMEParameterStore& store) {
  const auto mismatched = [](const CCMEParameterRecord& r) {
    return r.programmed && r.programmedType != r.storeType;
  };
  const auto missing = [](const CCMEParameterRecord& r) { return r.required && !r.hasValue; };
  bool faulty = false;
  for (const auto& [key, record] : store.records()) faulty = faulty || mismatched(record) || missing(record);
  if (!faulty) return;

  QRM_Exception report("", kReportHeading, 0, 4);
  bool started = false;
  for (const auto& [key, record] : store.records()) {
    if (record.hidden || !missing(record)) continue;
    if (!started) addLine(report, u"  Missing required parameters: ");
    started = true;
    addLine(report, record.name);
  }
  started = false;
  for (const auto& [key, record] : store.records()) {
    if (record.hidden || !mismatched(record)) continue;
    if (!started) addLine(report, u"  Datatype mismatch (programmed vs. store): ");
    started = true;
    icu::UnicodeString line;
    formatUnicode(line, u"Group: %S Name: %S [%S] vs. [%S]", record.group, record.name,
                  UCString(parameterDataTypeName(static_cast<int32_t>(record.programmedType))),
                  UCString(parameterDataTypeName(static_cast<int32_t>(record.storeType))));
    addLine(report, line);
  }
  throw report;
}

}  // namespace hcs
