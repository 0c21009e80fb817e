#include "bench/wire_document.h"

#include <stdexcept>

#include "plugin/outgoing_document.h"

namespace hcs::bench {

std::string outgoingDocument(std::string_view request, std::string_view inbound, std::string_view matched) {
  // The scanned build alone: the parsed one would start a second copy of the XML library in this
  // process beside the plugin's.
  ScannedDocument document;
  if (!buildScanned({request, inbound, matched}, document)) {
    throw std::invalid_argument("the benchmark's records need the parser");
  }
  return document.text + "\n";
}

}  // namespace hcs::bench
