#pragma once

#include <cstdint>

namespace hcs {

// One initPlugin call: reads the initialisation document, builds the parameter store (.ini file, plus
// SYSTEM_PARAM when the document names a database), checks the attribute type's ATTR_URI and files an
// HTTP interface for it in calloutRegistry under the numeric ATTR_TYPE_ID. The first registration of a
// key wins. Reported failures write "<ERROR>…" (at most 1024 bytes with its NUL) into `errorText` and
// return -1; a missing ATTR_URI parameter ("9107E") and an unreadable .ini file ("9113E") leave as
// QRM_Exception. The registry is unchanged after every failure.
int32_t initializePlugin(const char* initDocument, int32_t initDocumentLength, char* errorText);

}  // namespace hcs
