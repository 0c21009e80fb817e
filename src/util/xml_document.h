#pragma once

#include <cstdint>
#include <initializer_list>

#include <unicode/unistr.h>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include "error/qrm_exception.h"

namespace hcs {

// Deepest element nesting a document may have. Deeper documents fail to parse with a clear message
// instead of exhausting the stack of the recursive DOM operations (copying, lookups).
inline constexpr int32_t kXmlMaxDepth = 1024;

// Most different element and attribute names (together) a document may use; each may repeat freely.
// The tree keeps names in a table of fixed size, so past some thousands each new one costs more than
// the last (160,000 held a thread for ten seconds); a document with more fails to parse.
inline constexpr int32_t kXmlMaxNames = 10000;

// Most references to declared entities a document may expand, wherever they stand: content, attribute
// values, the DTD's attribute defaults (predefined entities such as &amp; and character references do
// not count). Each expansion costs the parser a fresh reader, so the cap keeps a hostile document to
// a few milliseconds.
inline constexpr int32_t kXmlMaxEntityExpansions = 1000;

// Memory one parse may take: this much plus kXmlParseMemoryPerUnit bytes for each UTF-16 code unit of
// the text. Entity references may expand a document only within it (the count cap alone lets a few
// kilobytes grow to hundreds of megabytes); a document that needs more fails to parse. Plain markup
// never does: its tree takes at most some 75 bytes per code unit (one character of text between
// empty elements, "x<A/>"), so only expansion, of entities or of attribute defaults, reaches the cap.
inline constexpr int64_t kXmlParseMemoryBase = int64_t{32} << 20;
inline constexpr int64_t kXmlParseMemoryPerUnit = 128;

// Starts Xerces-C (and Xalan-C when built with it) once per process. Safe to call from any thread, any
// number of times; the first caller does the work, the others wait for it. The libraries are never
// terminated. Throws the library's exception when start-up fails; a later call tries again.
void initXmlLibraries();

// One XML text parsed into a DOM tree, with the few lookups the plugin needs.
//
// Markup is upper-cased before parsing (element and attribute names, attribute values, comments, CDATA);
// character data between tags and <?...?> instructions keep their case. So look elements up by their
// upper-case names.
//
// The parser never loads an external DTD or external entity (file or URL) and caps entity expansion by
// count and by size (the parse memory above); a document that needs either fails to parse. Nesting
// deeper than kXmlMaxDepth fails to parse as well.
//
// Node handles (xercesc::DOMNode*) returned by any member are owned by the document and stay valid while
// the document lives; never release them. Copies made by appendCopy belong to the parent's document.
//
// Thread-safety: a document belongs to the thread that built it. Different threads may build and use
// their own documents at the same time (each thread reuses its own parser).
class CXmlDocument {
 public:
  // Parses `text` (UTF-16, up to its first NUL). Upper-cases the markup of `text` in place first, so
  // the caller's string holds the rewritten text afterwards. A malformed document is not thrown: it
  // leaves the document without a tree and fills `error` with two "0000E" entries whose text is
  // "XML Parse failed:" followed by the parser's message (input the DOM builder refuses, such as an
  // unknown XML version, counts as malformed too). Memory exhaustion propagates as
  // xercesc::OutOfMemoryException.
  explicit CXmlDocument(icu::UnicodeString& text);
  ~CXmlDocument();
  CXmlDocument(const CXmlDocument&) = delete;
  CXmlDocument& operator=(const CXmlDocument&) = delete;

  // The document element; nullptr when the parse failed.
  xercesc::DOMNode* getRoot() const;

  // The first node named `name` (exact, case-sensitive) below `start`: the direct children first, then,
  // with `deep`, below each child in document order by the same rule, so a direct child always beats a
  // deeper match under an earlier sibling. With `start` nullptr the document element itself is tried
  // first, then the search runs below it. nullptr when nothing matches or the parse failed.
  xercesc::DOMNode* findNode(const icu::UnicodeString& name, xercesc::DOMNode* start, bool deep) const;

  // The text content of the node findNode finds (all descendant character data, unchanged), or a copy
  // of `defaultValue` when no node is found or its text is empty.
  icu::UnicodeString getValue(xercesc::DOMNode* start, const icu::UnicodeString& name,
                              const icu::UnicodeString& defaultValue, bool deep) const;

  // Replaces `out` with the serialised `node` (the document element when nullptr), as Xerces-C's
  // DOMLSSerializer writes it with its default settings: no XML declaration for an element, no
  // indentation, empty elements as <A/>. Leaves `out` unchanged when there is no node. `node` must
  // belong to a live document (not necessarily this one).
  void toXml(xercesc::DOMNode* node, icu::UnicodeString& out) const;

  bool parsed() const { return document_ != nullptr; }

  // Memory the parse left allocated, in bytes: the tree, and what the thread's parser grew for it.
  // What keeping this document costs; 0 when the parse failed.
  int64_t heldBytes() const { return heldBytes_; }

  // Empty unless the parse failed.
  QRM_Exception error;

 private:
  void recordParseError(const XMLCh* reason);

  xercesc::DOMDocument* document_ = nullptr;
  int64_t heldBytes_ = 0;
};

// Appends a deep copy of `child` as the last child of `parent` (a clone when both share a document,
// an import otherwise) and returns the copy. Does nothing and returns nullptr when either is nullptr.
// Throws xercesc::DOMException when the DOM refuses the child (a document node, say).
xercesc::DOMNode* appendCopy(xercesc::DOMNode* parent, xercesc::DOMNode* child);

// Replaces `out` with the text of a fresh XML 1.0 element `rootName` holding a copy of each non-null
// node of `children`, in order: what toXml gives after appendCopy of each to a new element, except
// that entity references are written expanded, so the text is well-formed without any DTD. Nothing is
// built or copied on the way. Returns -1 when written; otherwise the index in `children` of the first
// node that holds characters only XML 1.1 allows (which XML 1.0 cannot carry), and `out` is left
// unchanged. The nodes must be elements (or other nodes an element may hold) of live documents.
int32_t toXmlWrapped(const icu::UnicodeString& rootName,
                     std::initializer_list<const xercesc::DOMNode*> children, icu::UnicodeString& out);

}  // namespace hcs
