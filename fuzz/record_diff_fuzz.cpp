// The record scanner against the parser's way, which is the reference: whenever the scanner handles
// three records, the parser must read all three, and the outgoing bytes and both type texts must be
// the same, byte for byte.
//
// Input: request, inbound and matched records separated by 0x1E. A missing record is a plain one, so
// an input of one record is tried in the request's place and gets a type to compare.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "util/record_scanner.h"
#include "util/ucstring.h"
#include "util/xml_document.h"

namespace {

struct Outgoing {
  bool written = false;
  std::string text;
  std::string inboundType;
  std::string matchedType;
};

// What the score call does with the three texts.
Outgoing parserWay(std::string_view request, std::string_view inbound, std::string_view matched) {
  static const hcs::UCString kTypeName("ATTR_TYPE_ID");
  hcs::UCString requestText(request);
  hcs::UCString inboundText(inbound);
  inboundText.findAndReplace(u"ATTRIBUTE>", u"ATTR1>");
  hcs::UCString matchedText(matched);
  matchedText.findAndReplace(u"ATTRIBUTE>", u"ATTR2>");
  const hcs::CXmlDocument requestDoc(requestText);
  const hcs::CXmlDocument inboundDoc(inboundText);
  const hcs::CXmlDocument matchedDoc(matchedText);
  Outgoing result;
  result.inboundType =
      hcs::toUtf8(inboundDoc.getValue(inboundDoc.getRoot(), kTypeName, hcs::UCString(), true));
  result.matchedType =
      hcs::toUtf8(matchedDoc.getValue(matchedDoc.getRoot(), kTypeName, hcs::UCString(), true));
  if (requestDoc.getRoot() == nullptr || inboundDoc.getRoot() == nullptr || matchedDoc.getRoot() == nullptr) {
    return result;
  }
  icu::UnicodeString text;
  if (hcs::toXmlWrapped(u"ATTRS_TO_SCORE", {requestDoc.getRoot(), inboundDoc.getRoot(), matchedDoc.getRoot()},
                        text) >= 0) {
    return result;
  }
  result.written = true;
  result.text = hcs::toUtf8(text);
  return result;
}

[[noreturn]] void differ(const char* what, const std::string& fast, const std::string& parsed) {
  std::fprintf(stderr, "%s differ:\n  scanner: [%s]\n  parser:  [%s]\n", what, fast.c_str(), parsed.c_str());
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

  static std::string text;
  static std::string inboundType;
  static std::string matchedType;
  if (!hcs::buildOutgoing(records[0], records[1], records[2], text, inboundType, matchedType)) return 0;
  const Outgoing parsed = parserWay(records[0], records[1], records[2]);
  if (!parsed.written) differ("handled records the parser refuses", text, "");
  if (text != parsed.text) differ("outgoing documents", text, parsed.text);
  if (inboundType != parsed.inboundType) differ("inbound types", inboundType, parsed.inboundType);
  if (matchedType != parsed.matchedType) differ("matched types", matchedType, parsed.matchedType);
  return 0;
}
