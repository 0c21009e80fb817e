// Score's two builds of the outgoing document against each other, the parsed build being the reference:
// whenever the scanned build takes three records, the parser must read all three, and the outgoing bytes
// and both type texts must be the same, byte for byte.
//
// Input: request, inbound and matched records separated by 0x1E. A missing record is a plain one, so
// an input of one record is tried in the request's place and gets a type to compare.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "plugin/outgoing_document.h"
#include "util/ucstring.h"

namespace {

[[noreturn]] void differ(const char* what, std::string_view scanned, std::string_view parsed) {
  std::fprintf(stderr, "%s differ:\n  scanner: [%.*s]\n  parser:  [%.*s]\n", what,
               static_cast<int>(scanned.size()), scanned.data(), static_cast<int>(parsed.size()),
               parsed.data());
  __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static constexpr std::string_view kPlain[] = {"<REQ/>",
                                                "<ATTRIBUTE><ATTR_TYPE_ID>7</ATTR_TYPE_ID></ATTRIBUTE>",
                                                "<ATTRIBUTE><ATTR_TYPE_ID>7</ATTR_TYPE_ID></ATTRIBUTE>"};
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view records[3] = {kPlain[0], kPlain[1], kPlain[2]};
  for (int i = 0; i < 3 && !input.empty(); ++i) {
    const size_t end = input.find('\x1e');
    records[i] = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
  }

  // Kept from input to input, as a thread's are from call to call.
  static hcs::OutgoingBuffers scannedBuffers;
  static hcs::OutgoingBuffers parsedBuffers;
  const hcs::ScoreTexts texts{records[0], records[1], records[2]};
  hcs::OutgoingDocument scanned(texts, scannedBuffers);
  if (!scanned.scanned()) return 0;
  hcs::OutgoingDocument parsed(texts, parsedBuffers, hcs::OutgoingDocument::Builds::kParsedOnly);
  if (parsed.unreadableRecord() || parsed.build() || parsed.unconverted() != nullptr) {
    differ("handled records the parser refuses", scanned.utf8(), "");
  }
  if (scanned.build()) differ("a scanned build that fails", scanned.utf8(), parsed.utf8());
  if (scanned.utf8() != parsed.utf8()) differ("outgoing documents", scanned.utf8(), parsed.utf8());
  if (scanned.inboundType() != parsed.inboundType()) {
    differ("inbound types", hcs::toUtf8(scanned.inboundType()), hcs::toUtf8(parsed.inboundType()));
  }
  if (scanned.matchedType() != parsed.matchedType()) {
    differ("matched types", hcs::toUtf8(scanned.matchedType()), hcs::toUtf8(parsed.matchedType()));
  }
  return 0;
}
