#include "config/build_store.h"
#include "config/config_report.h"
#include "config/db_store.h"

namespace hcs {

void buildFromDatabase(CCMEParameterStore& destination, QRMDB& connection, const CCMEParameterStore& iniStore,
                       const icu::UnicodeString& appName, const CCMEParameterDef* table, uint16_t rowCount) {
  CCMEParameterDBStore databaseStore(connection, appName, table, rowCount);
  // Read again even though setup may have read it: setup kept only the definitions.
  databaseStore.load();
  mergeStores(destination, databaseStore, iniStore);
}

void mergeStores(CCMEParameterStore& destination, const CCMEParameterStore& databaseStore,
                 const CCMEParameterStore& iniStore) {
  destination.setSection(databaseStore.section());
  checkConflicts(databaseStore, iniStore);
  destination.copyFrom(databaseStore);
  // The .ini file only fills gaps: a value from the database is never replaced.
  for (const auto& [key, record] : destination.records()) {
    if (record.hasValue) continue;
    const CCMEParameterRecord* ini = iniStore.findRecord(key);
    if (ini == nullptr || !ini->hasValue) continue;
    CCMEParameterRecord* target = destination.findRecord(key);
    target->currentValue = ini->currentValue;
    target->hasValue = true;
  }
  for (const auto& [key, ini] : iniStore.records()) {
    if (destination.findRecord(key) == nullptr) destination.setValue(ini.group, ini.name, ini.value(), true);
  }
  logDefaulted(destination);
  validateStore(destination);
}

}  // namespace hcs
