#pragma once

#include <memory>

#include <unicode/unistr.h>

namespace hcs {

class QRMDB;

// Creates and opens the database that an initialisation document names, for the parameter store to
// read SYSTEM_PARAM from. Throws the QRM_Exception of a failed creation or open; an open that reports
// -1 without throwing still returns the connection.
std::shared_ptr<QRMDB> openInitDatabase(const icu::UnicodeString& uri);

}  // namespace hcs
