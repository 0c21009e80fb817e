#include "bench/wire_document.h"

namespace hcs::bench {

std::string outgoingDocument(std::string_view request, std::string_view inbound, std::string_view matched) {
  auto renamed = [](std::string_view record, std::string_view root) {
    std::string out(record);
    out.replace(out.find("ATTRIBUTE>"), 10, std::string(root) + ">");
    out.replace(out.rfind("ATTRIBUTE>"), 10, std::string(root) + ">");
    return out;
  };
  return "<ATTRS_TO_SCORE>" + std::string(request) + renamed(inbound, "ATTR1") + renamed(matched, "ATTR2") +
         "</ATTRS_TO_SCORE>\n";
}

}  // namespace hcs::bench
