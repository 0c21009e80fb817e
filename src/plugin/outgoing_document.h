#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <unicode/unistr.h>

#include "error/qrm_exception.h"
#include "plugin/parsed_input.h"
#include "util/xml_document.h"

namespace hcs {

// The document score posts for one call: ATTRS_TO_SCORE holding the request's root, the inbound record's
// root renamed ATTR1 and the matched record's root renamed ATTR2, as UTF-8 (the transport adds a line
// feed). Two builds give the same bytes: the scanned build, one pass over the records' bytes for the
// common subset of XML (util/record_scanner.h), and the parsed build through CXmlDocument, which takes
// everything else and stays the reference. Both live here, so the differential fuzzer and the
// benchmarks run what score runs.

// The three host texts of one call, as the host's bytes.
struct ScoreTexts {
  std::string_view request;
  std::string_view inbound;
  std::string_view matched;
};

// A host text: a null pointer or a length of 0 or less is empty text.
std::string_view hostText(const char* text, int32_t length);

// What the scanned build gives: the document and the ATTR_TYPE_ID texts of the two records, in UTF-8.
struct ScannedDocument {
  std::string text;
  std::string inboundType;
  std::string matchedType;
};

// The scanned build. False when any of the three texts is outside what the scanner handles; `out` then
// holds nothing to use.
bool buildScanned(const ScoreTexts& texts, ScannedDocument& out);

// A thread's buffers and caches for building documents, kept from call to call so that a warm call on
// the scanned build allocates nothing. What grew large is let go when the document that used it ends.
// Not thread-safe: one per thread, serving one OutgoingDocument at a time.
struct OutgoingBuffers {
  OutgoingBuffers();
  ScannedDocument scanned;
  ParsedInput lastRequest;  // hosts send one request and inbound record with many matched records
  ParsedInput lastInbound;
  std::string parsedText;  // the parsed build's document in UTF-8
};

// A text that cannot go into the document; nothing may be sent then.
struct DocumentProblem {
  const char* record = nullptr;               // "request", "inbound" or "matched"; nullptr: none
  const QRM_Exception* parseError = nullptr;  // set when the text is not well-formed XML; otherwise
                                              // it holds characters only XML 1.1 allows
  explicit operator bool() const { return record != nullptr; }
};

// One call's document, in two steps as score needs them: the records and their types first (the
// constructor), then the document itself (build), only when there is a service to send it to. The
// texts and the buffers must outlive the object; parse failures are reported, other failures of the XML
// library (memory exhaustion) are thrown.
class OutgoingDocument {
 public:
  enum class Builds { kScannedFirst, kParsedOnly };

  // Takes the scanned build when it handles all three texts; otherwise parses the two records.
  OutgoingDocument(const ScoreTexts& texts, OutgoingBuffers& buffers, Builds builds = Builds::kScannedFirst);
  ~OutgoingDocument();
  OutgoingDocument(const OutgoingDocument&) = delete;
  OutgoingDocument& operator=(const OutgoingDocument&) = delete;

  bool scanned() const { return scanned_; }
  // Each record's ATTR_TYPE_ID text, as CXmlDocument::getValue(root, "ATTR_TYPE_ID", "", true) reads
  // it; empty for a record that did not parse.
  const icu::UnicodeString& inboundType() const { return inboundType_; }
  const icu::UnicodeString& matchedType() const { return matchedType_; }

  // The first of the two records that is not well-formed XML, inbound before matched.
  DocumentProblem unreadableRecord() const;
  // Makes the document: on the parsed build, parses the request and writes the three roots. Call once,
  // when unreadableRecord reports nothing.
  DocumentProblem build();
  // After a build without a problem: the document in UTF-8, valid while this object lives.
  std::string_view utf8() const;
  // The document when it is no valid UTF-16, which the transport's conversion then refuses on each
  // attempt (as it always has); nullptr otherwise, which is every document the parser can give.
  const icu::UnicodeString* unconverted() const { return converted_ ? nullptr : &parsedUtf16_; }

 private:
  void parseRecords();

  ScoreTexts texts_;
  OutgoingBuffers& buffers_;
  bool scanned_ = false;
  bool converted_ = true;
  icu::UnicodeString inboundType_;
  icu::UnicodeString matchedType_;
  const CXmlDocument* inbound_ = nullptr;
  std::unique_ptr<CXmlDocument> uncachedInbound_;
  std::unique_ptr<CXmlDocument> matched_;
  std::unique_ptr<CXmlDocument> uncachedRequest_;
  icu::UnicodeString parsedUtf16_;
};

}  // namespace hcs
