#include "plugin/outgoing_document.h"

#include "util/kept_buffer.h"
#include "util/record_scanner.h"
#include "util/ucstring.h"

namespace hcs {

namespace {

constexpr std::string_view kWrapper = "ATTRS_TO_SCORE";
// A record's root ends its tags with this, the start tag and the end tag alike; the text is renamed
// before it is read, so a root written in lower case keeps its name.
constexpr std::string_view kRecordRoot = "ATTRIBUTE>";
constexpr std::string_view kInboundRoot = "ATTR1>";
constexpr std::string_view kMatchedRoot = "ATTR2>";
constexpr std::string_view kTypeName = "ATTR_TYPE_ID";

constexpr RecordRules kRequestRules{};
constexpr RecordRules kInboundRules{kRecordRoot, kInboundRoot, kTypeName};
constexpr RecordRules kMatchedRules{kRecordRoot, kMatchedRoot, kTypeName};

// In the order the document holds them.
constexpr const char* kRecordNames[] = {"request", "inbound", "matched"};

icu::UnicodeString typeOf(const CXmlDocument& record) {
  static const UCString name(kTypeName);
  return record.getValue(record.getRoot(), name, icu::UnicodeString(), true);
}

}  // namespace

std::string_view hostText(const char* text, int32_t length) {
  return text == nullptr || length <= 0 ? std::string_view()
                                        : std::string_view(text, static_cast<size_t>(length));
}

bool buildScanned(const ScoreTexts& texts, ScannedDocument& out) {
  std::string& text = out.text;
  // Once, at the size it nearly always needs: escapes may make the document longer than the records,
  // but hardly ever do.
  text.reserve(2 * kWrapper.size() + 5 + texts.request.size() + texts.inbound.size() + texts.matched.size());
  // clear and push_back rather than assign("<"), over which g++ 12 at -O3 warns falsely (-Wrestrict).
  text.clear();
  text.push_back('<');
  text.append(kWrapper).push_back('>');
  if (!scanRecord(texts.request, kRequestRules, text, nullptr) ||
      !scanRecord(texts.inbound, kInboundRules, text, &out.inboundType) ||
      !scanRecord(texts.matched, kMatchedRules, text, &out.matchedType)) {
    return false;
  }
  text.append("</").append(kWrapper).push_back('>');
  return true;
}

OutgoingBuffers::OutgoingBuffers() : lastRequest({}, {}), lastInbound(kRecordRoot, kInboundRoot) {}

OutgoingDocument::OutgoingDocument(const ScoreTexts& texts, OutgoingBuffers& buffers, Builds builds)
    : texts_(texts), buffers_(buffers) {
  scanned_ = builds == Builds::kScannedFirst && buildScanned(texts, buffers.scanned);
  if (scanned_) {
    inboundType_ = UCString(buffers.scanned.inboundType);
    matchedType_ = UCString(buffers.scanned.matchedType);
  } else {
    parseRecords();
  }
}

OutgoingDocument::~OutgoingDocument() {
  keepSmall(buffers_.scanned.text);
  keepSmall(buffers_.parsedText);
}

void OutgoingDocument::parseRecords() {
  inbound_ = &buffers_.lastInbound.get(texts_.inbound, uncachedInbound_);
  UCString matchedText = recordText(texts_.matched, kRecordRoot, kMatchedRoot);
  matched_ = std::make_unique<CXmlDocument>(matchedText);
  inboundType_ = typeOf(*inbound_);
  matchedType_ = typeOf(*matched_);
}

DocumentProblem OutgoingDocument::unreadableRecord() const {
  if (scanned_) return {};
  if (inbound_->getRoot() == nullptr) return {kRecordNames[1], &inbound_->error};
  if (matched_->getRoot() == nullptr) return {kRecordNames[2], &matched_->error};
  return {};
}

DocumentProblem OutgoingDocument::build() {
  if (scanned_) return {};  // well-formed UTF-8 already: nothing to check or convert
  const CXmlDocument& request = buffers_.lastRequest.get(texts_.request, uncachedRequest_);
  if (request.getRoot() == nullptr) return {kRecordNames[0], &request.error};
  // The three roots copied under a new wrapper element, written without building it, and well-formed on
  // its own (entity references expanded).
  static const UCString wrapper(kWrapper);
  const int32_t uncarried =
      toXmlWrapped(wrapper, {request.getRoot(), inbound_->getRoot(), matched_->getRoot()}, parsedUtf16_);
  if (uncarried >= 0) return {kRecordNames[uncarried], nullptr};
  converted_ = toUtf8(parsedUtf16_, buffers_.parsedText);
  return {};
}

std::string_view OutgoingDocument::utf8() const {
  return scanned_ ? buffers_.scanned.text : buffers_.parsedText;
}

}  // namespace hcs
