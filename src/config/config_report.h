#pragma once

#include <vector>

#include <unicode/unistr.h>

#include "config/parameter_store.h"

namespace hcs {

// True when the upper-cased text is "YES", "Y", "TRUE", "T" or "1".
bool parseBool(const icu::UnicodeString& text);

// A parameter both stores give values that differ in meaning: BOOLEAN and INTEGER values (either side's
// stored type) are compared as such, others as exact text. A side without a value never conflicts.
struct ParameterConflict {
  const CCMEParameterRecord* database;
  const CCMEParameterRecord* ini;
};

// Every conflict, in key order. The pointers are valid while both stores are unchanged.
std::vector<ParameterConflict> findConflicts(const CCMEParameterStore& databaseStore,
                                             const CCMEParameterStore& iniStore);

// Logs (level 1, one message) every conflict of findConflicts. Hidden parameters appear as "[...]"
// only. Never throws for what it finds.
void checkConflicts(const CCMEParameterStore& databaseStore, const CCMEParameterStore& iniStore);

// One debug line per parameter that is neither hidden nor required and falls back to its default.
void logDefaulted(const CCMEParameterStore& store);

// Throws the report QRM_Exception (severity 4) when a required parameter has no value or a programmed
// parameter's declared type differs from its stored type; hidden parameters count but are not named.
void validateStore(const CCMEParameterStore& store);

}  // namespace hcs
