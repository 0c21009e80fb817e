#include "config/build_store.h"

#include "config/ini_store.h"

namespace hcs {

void buildParameterStore(CCMEParameterStore& destination, QRMDB* connection, const char* iniFileName,
                         const icu::UnicodeString& appName, const CCMEParameterDef* table,
                         uint16_t rowCount) {
  CCMEParameterINIStore iniStore(iniFileName, appName, table, rowCount);
  // Read again even though setup may have read it: setup kept only the definitions.
  iniStore.load();
  if (connection != nullptr) {
    buildFromDatabase(destination, *connection, iniStore, appName, table, rowCount);
  } else {
    destination.copyFrom(iniStore);
  }
}

}  // namespace hcs
