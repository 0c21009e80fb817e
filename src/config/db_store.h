#pragma once

#include <cstdint>

#include <unicode/unistr.h>

#include "config/parameter_store.h"

namespace hcs {

class QRMDB;

// A parameter store backed by the SYSTEM_PARAM table (PARAM_GROUP, PARAM_CODE, CURRENT_VALUE,
// DEFAULT_VALUE, DATA_TYPE). Keys match without regard to case; a parameter in several rows keeps its
// last row's value. Every row gives a value, NULL reading as "". DEFAULT_VALUE is never used.
// The table is never written.
class CCMEParameterDBStore : public CCMEParameterStore {
 public:
  // `connection` is not owned and must outlive the store. Runs setup, so with a non-empty `appName`
  // the table is read here and its failures leave the constructor.
  CCMEParameterDBStore(QRMDB& connection, const icu::UnicodeString& appName, const CCMEParameterDef* table,
                       uint16_t rowCount);
  ~CCMEParameterDBStore() override;

  // Reads SYSTEM_PARAM. A failure of severity 3 and above leaves as the database's own record (same
  // type) with the entry "Failed to load general configuration, please check the SYSTEM_PARAM file or
  // table!" added; the rows read before it stay. Lesser failures leave the store as it was.
  void load() override;
  // Does nothing.
  void save() override;

 private:
  QRMDB& connection_;
};

}  // namespace hcs
