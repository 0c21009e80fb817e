#pragma once

#include <cstdint>

#include <unicode/unistr.h>

#include "config/parameter_store.h"

namespace hcs {

class QRMDB;

// Fills `destination` from the .ini file `iniFileName` (null: the process's default name) and, when
// `connection` is given, from the SYSTEM_PARAM table as well, the database winning. The definition
// table shapes only the source stores; `destination` keeps the definitions its creator gave it.
// Throws the sources' QRM_Exception records ("9113E" for an unreadable .ini file); `destination` may
// then be partly filled. `connection` is not owned and must stay open for the call.
void buildParameterStore(CCMEParameterStore& destination, QRMDB* connection, const char* iniFileName,
                         const icu::UnicodeString& appName, const CCMEParameterDef* table, uint16_t rowCount);

// The database branch of buildParameterStore: reads SYSTEM_PARAM through `connection` into its own
// store and merges it with the loaded `iniStore` into `destination`. Throws what reading the table and
// validateStore throw.
void buildFromDatabase(CCMEParameterStore& destination, QRMDB& connection, const CCMEParameterStore& iniStore,
                       const icu::UnicodeString& appName, const CCMEParameterDef* table, uint16_t rowCount);

// Fills `destination` from both sources: the database's values, then the .ini file's for every
// parameter still without a value or missing. Logs conflicts and defaulted parameters, then throws the
// validateStore report when the destination's definitions are not met (`destination` stays filled).
void mergeStores(CCMEParameterStore& destination, const CCMEParameterStore& databaseStore,
                 const CCMEParameterStore& iniStore);

}  // namespace hcs
