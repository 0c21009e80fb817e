#include "config/db_store.h"

#include <vector>

#include "config/config_source.h"
#include "db/qrm_cursor.h"
#include "error/qrm_exception.h"
#include "log/log_message.h"

namespace hcs {

namespace {

enum Column : int32_t { kGroup = 0, kCode = 1, kCurrentValue = 2, kDataType = 4 };

const std::vector<icu::UnicodeString>& systemParamColumns() {
  static const std::vector<icu::UnicodeString> columns{u"PARAM_GROUP", u"PARAM_CODE", u"CURRENT_VALUE",
                                                       u"DEFAULT_VALUE", u"DATA_TYPE"};
  return columns;
}

}  // namespace

CCMEParameterDBStore::CCMEParameterDBStore(QRMDB& connection, const icu::UnicodeString& appName,
                                           const CCMEParameterDef* table, uint16_t rowCount)
    : CCMEParameterStore(false), connection_(connection) {
  setup(appName, table, rowCount);
}

CCMEParameterDBStore::~CCMEParameterDBStore() = default;

void CCMEParameterDBStore::load() {
  logLine(kLogDebug, u"Reading configuration from SYSTEM_PARAM...");
  try {
    DBConfig source(connection_);
    std::unique_ptr<QRMCursor> cursor = source.openSelect(u"SYSTEM_PARAM", systemParamColumns());
    while (cursor->isValid()) {
      const icu::UnicodeString value = cursor->value(kCurrentValue);
      const icu::UnicodeString name = cursor->value(kCode);
      const icu::UnicodeString group = cursor->value(kGroup);
      if (CCMEParameterRecord* record = setValue(group, name, value, true)) {
        record->storeType = parameterDataTypeFromText(cursor->value(kDataType));
      }
      cursor->next();
    }
  } catch (QRM_Exception& e) {
    // Rethrown as caught, so a QRMSQL_Exception keeps its type and the database's entries come first.
    e.addText("", u"Failed to load general configuration, please check the SYSTEM_PARAM file or table!", 0,
              kNoSeverity);
    throw;
  }
}

void CCMEParameterDBStore::save() {}

}  // namespace hcs
