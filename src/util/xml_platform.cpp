#include "util/xml_platform.h"

#include <atomic>
#include <bit>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLValidator.hpp>
#include <xercesc/internal/XMLReader.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLEntityResolver.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLUni.hpp>

#if defined(HCS_WITH_XALAN)
#include <xalanc/XPath/XPathEvaluator.hpp>
#include <xalanc/XalanTransformer/XalanTransformer.hpp>
#endif

#include "util/ucstring.h"
#include "util/xml_document.h"

using namespace xercesc;

namespace hcs {

namespace xml_internal {

DefaultMemoryManager::~DefaultMemoryManager() = default;

void* DefaultMemoryManager::allocate(XMLSize_t size) {
  // Xerces recovers cleanly only from its own out-of-memory exception.
  try {
    return new char[size];
  } catch (const std::bad_alloc&) {
    throw OutOfMemoryException();
  }
}

void DefaultMemoryManager::deallocate(void* p) { delete[] static_cast<char*>(p); }

DefaultErrorHandler::~DefaultErrorHandler() = default;
void DefaultErrorHandler::warning(const SAXParseException&) {}
void DefaultErrorHandler::error(const SAXParseException& e) { throw SAXParseException(e); }
void DefaultErrorHandler::fatalError(const SAXParseException& e) { throw SAXParseException(e); }
void DefaultErrorHandler::resetErrors() {}

DefaultMemoryManager& memoryManager() {
  // Leaked on purpose: Xerces keeps using it until the process ends.
  static DefaultMemoryManager* const manager = new DefaultMemoryManager();
  return *manager;
}

namespace {

DefaultErrorHandler& errorHandler() {
  static DefaultErrorHandler* const handler = new DefaultErrorHandler();
  return *handler;
}

// Every external entity is refused: documents come from the host and must not make the process read
// files or open connections on their behalf.
class RefusingEntityResolver : public XMLEntityResolver {
 public:
  InputSource* resolveEntity(XMLResourceIdentifier* resource) override {
    icu::UnicodeString message(u"external entity is not loaded: ");
    const XMLCh* id = resource == nullptr ? nullptr : resource->getSystemId();
    if (id != nullptr) message.append(id);
    throw SAXException(message.getTerminatedBuffer(), &memoryManager());
  }
};

// Counts element nesting while the tree is built, so a hostile document fails early instead of
// overflowing the stack later in recursive DOM operations.
class CappedDOMParser : public XercesDOMParser {
 public:
  explicit CappedDOMParser(MemoryManager* manager) : XercesDOMParser(nullptr, manager, nullptr) {}

  void resetDepth() { depth_ = 0; }

  // Whether the scanner has read an XML 1.1 declaration. It keeps that version for every later
  // document, including those that declare none, so it would accept their XML 1.1-only characters.
  bool keepsXml11() const { return getScanner()->getXMLVersion() != XMLReader::XMLV1_0; }

  void startElement(const XMLElementDecl& elemDecl, const unsigned int urlId, const XMLCh* const elemPrefix,
                    const RefVectorOf<XMLAttr>& attrList, const XMLSize_t attrCount, const bool isEmpty,
                    const bool isRoot) override {
    if (++depth_ > kXmlMaxDepth) {
      static const char16_t kMessage[] = u"element nesting is deeper than 1024 levels";
      static_assert(kXmlMaxDepth == 1024, "keep the message in step");
      const Locator* where = getScanner()->getLocator();
      throw SAXParseException(kMessage, where->getPublicId(), where->getSystemId(), where->getLineNumber(),
                              where->getColumnNumber(), &memoryManager());
    }
    // An empty element gets its endElement call from the base class.
    XercesDOMParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
  }

  void endElement(const XMLElementDecl& elemDecl, const unsigned int urlId, const bool isRoot,
                  const XMLCh* const elemPrefix) override {
    --depth_;
    XercesDOMParser::endElement(elemDecl, urlId, isRoot, elemPrefix);
  }

 private:
  int32_t depth_ = 0;
};

std::unique_ptr<CappedDOMParser> makeParser(const XMLCh* scanner, SecurityManager& security,
                                            XMLEntityResolver& resolver) {
  auto parser = std::make_unique<CappedDOMParser>(&memoryManager());
  parser->useScanner(scanner);
  parser->setErrorHandler(&errorHandler());
  parser->setLoadExternalDTD(false);
  parser->setDisableDefaultEntityResolution(true);
  parser->setXMLEntityResolver(&resolver);
  parser->setSecurityManager(&security);
  return parser;
}

// Parsers are kept per thread: building one costs far more than parsing a small document. Documents
// without a DOCTYPE, nearly all of them, go to the well-formedness scanner, which skips the per-parse
// grammar set-up; the others need the full scanner for their internal DTD subset.
struct ThreadParser {
  ThreadParser() { security.setEntityExpansionLimit(kXmlMaxEntityExpansions); }

  SecurityManager security;
  RefusingEntityResolver resolver;
  std::unique_ptr<CappedDOMParser> plain;
  std::unique_ptr<CappedDOMParser> full;

  CappedDOMParser& get(bool withDoctype) {
    std::unique_ptr<CappedDOMParser>& slot = withDoctype ? full : plain;
    if (!slot)
      slot = makeParser(withDoctype ? XMLUni::fgIGXMLScanner : XMLUni::fgWFXMLScanner, security, resolver);
    return *slot;
  }

  // A parser that read an XML 1.1 declaration is not used again (see keepsXml11); such documents are
  // rare enough that building a fresh parser for the next one costs nothing worth measuring.
  void retireIfXml11(bool withDoctype) {
    std::unique_ptr<CappedDOMParser>& slot = withDoctype ? full : plain;
    if (slot && slot->keepsXml11()) slot.reset();
  }
};

ThreadParser& threadParser() {
  thread_local ThreadParser slot;
  return slot;
}

bool hasDoctype(const char16_t* text, int32_t length) {
  static constexpr std::u16string_view kDoctype = u"<!DOCTYPE";
  return std::u16string_view(text, static_cast<size_t>(length)).find(kDoctype) != std::u16string_view::npos;
}

constexpr const char16_t* kNativeUtf16 =
    std::endian::native == std::endian::little ? u"UTF-16LE" : u"UTF-16BE";

}  // namespace

DOMDocument* parseOnThisThread(const char16_t* text, int32_t length) {
  ThreadParser& parsers = threadParser();
  const bool withDoctype = hasDoctype(text, length);
  CappedDOMParser& parser = parsers.get(withDoctype);
  MemBufInputSource source(reinterpret_cast<const XMLByte*>(text), static_cast<XMLSize_t>(length) * 2,
                           u"Internal", false, &memoryManager());
  source.setCopyBufToStream(false);  // the text outlives the parse
  source.setEncoding(kNativeUtf16);
  parser.resetDepth();
  try {
    parser.parse(source);
  } catch (...) {
    parser.resetDocumentPool();  // drop the half-built tree now, not at the next parse
    parsers.retireIfXml11(withDoctype);
    throw;
  }
  DOMDocument* document = parser.adoptDocument();  // independent of the parser from here on
  parsers.retireIfXml11(withDoctype);
  return document;
}

}  // namespace xml_internal

namespace {

std::mutex startMutex;  // constant-initialised, so safe against two first callers
std::atomic<bool> started{false};

}  // namespace

void initXmlLibraries() {
  if (started.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(startMutex);
  if (started.load(std::memory_order_relaxed)) return;
  XMLPlatformUtils::Initialize(XMLUni::fgXercescDefaultLocale, nullptr, nullptr,
                               &xml_internal::memoryManager());
#if defined(HCS_WITH_XALAN)
  xalanc::XalanTransformer::initialize();
  xalanc::XPathEvaluator::initialize();
#endif
  started.store(true, std::memory_order_release);
}

}  // namespace hcs
