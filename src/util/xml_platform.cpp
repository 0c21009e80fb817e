#include "util/xml_platform.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLValidator.hpp>
#include <xercesc/internal/XMLReader.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/BinMemInputStream.hpp>
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

#include "util/kept_buffer.h"
#include "util/memory_platform.h"
#include "util/ucstring.h"
#include "util/xml_document.h"

using namespace xercesc;

namespace hcs {

namespace xml_internal {

namespace {

// What one parse on this thread may still use. Xerces gives no hook where entities expand (and expands
// those in the DTD's attribute defaults without counting them), but every expansion allocates through
// the memory manager: a reader of its own, and room for the text it adds.
struct ParseBudget {
  int64_t live = 0;  // bytes held now that were not held when the parse began
  int64_t liveLimit = 0;
  int32_t readers = 0;  // the document's own, and one per entity expansion
  bool over = false;
  bool tooLarge = false;  // over by memory, not only by expansions
  bool failed = false;    // an allocation was failed for it (once: clean-up must be able to allocate)
};

thread_local ParseBudget* activeBudget = nullptr;

// Each block starts with its size, so the live total can follow deallocations.
constexpr size_t kBlockHeader = alignof(std::max_align_t);
static_assert(kBlockHeader >= sizeof(XMLSize_t));

// Large allocations may fail for the budget: growth comes in large blocks, and small ones are what
// destructors and clean-up might need.
constexpr XMLSize_t kBudgetCheckFrom = 4096;

// Every expansion counts, so one cap covers those Xerces counts and those it does not.
constexpr int32_t kMaxReaders = kXmlMaxEntityExpansions + 1;

// The blocks Xerces asks for to make an object of `size` bytes with XMemory's operator new.
XMLSize_t objectBlock(size_t size) {
  return XMLPlatformUtils::alignPointerForNewBlockAllocation(sizeof(MemoryManager*)) + size;
}

// Xerces makes each entity's reader right after the input stream it reads from, and failing the
// reader would leak that stream; failing the stream loses nothing. So the budget never fails a reader
// but the next stream, or any other large block.
bool mayFail(XMLSize_t size) {
  static const XMLSize_t reader = objectBlock(sizeof(XMLReader));
  static const XMLSize_t stream = objectBlock(sizeof(BinMemInputStream));
  return size != reader && (size == stream || size >= kBudgetCheckFrom);
}

bool isReader(XMLSize_t size) {
  static const XMLSize_t reader = objectBlock(sizeof(XMLReader));
  return size == reader;
}

class BudgetScope {
 public:
  explicit BudgetScope(ParseBudget& budget) { activeBudget = &budget; }
  ~BudgetScope() { activeBudget = nullptr; }
  BudgetScope(const BudgetScope&) = delete;
  BudgetScope& operator=(const BudgetScope&) = delete;
};

// Set while a large document or a grown parser is let go: its blocks give their pages back as they are
// freed. Ordinary documents skip the system call, and the parser's next reader reuses warm pages.
thread_local bool releasingLarge = false;

class ReleaseScope {
 public:
  explicit ReleaseScope(bool large) : previous_(releasingLarge) { releasingLarge = large; }
  ~ReleaseScope() { releasingLarge = previous_; }
  ReleaseScope(const ReleaseScope&) = delete;
  ReleaseScope& operator=(const ReleaseScope&) = delete;

 private:
  bool previous_;
};

// Blocks this large are worth a system call when they are freed in a large context.
constexpr XMLSize_t kReleasePagesFrom = 8192;

}  // namespace

DefaultMemoryManager::~DefaultMemoryManager() = default;

void* DefaultMemoryManager::allocate(XMLSize_t size) {
  char* block = nullptr;
  // Xerces recovers cleanly only from its own out-of-memory exception.
  try {
    block = new char[size + kBlockHeader];
  } catch (const std::bad_alloc&) {
    throw OutOfMemoryException();
  }
  std::memcpy(block, &size, sizeof size);
  if (ParseBudget* budget = activeBudget; budget != nullptr) {
    budget->live += static_cast<int64_t>(size);
    if (isReader(size)) ++budget->readers;
    if (!budget->over) {
      budget->tooLarge = budget->live > budget->liveLimit;
      budget->over = budget->tooLarge || budget->readers > kMaxReaders;
    }
    if (budget->over && !budget->failed && mayFail(size)) {
      budget->failed = true;
      budget->live -= static_cast<int64_t>(size);
      delete[] block;
      throw OutOfMemoryException();
    }
  }
  return block + kBlockHeader;
}

void DefaultMemoryManager::deallocate(void* p) {
  if (p == nullptr) return;
  char* block = static_cast<char*>(p) - kBlockHeader;
  XMLSize_t size = 0;
  std::memcpy(&size, block, sizeof size);
  if (releasingLarge && size >= kReleasePagesFrom) releasePages(block, size + kBlockHeader);
  if (ParseBudget* budget = activeBudget; budget != nullptr) budget->live -= static_cast<int64_t>(size);
  delete[] block;
}

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

[[noreturn]] void refuse(const Locator* where, const char16_t* message) {
  throw SAXParseException(message, where->getPublicId(), where->getSystemId(), where->getLineNumber(),
                          where->getColumnNumber(), &memoryManager());
}

// Counts element nesting while the tree is built, so a hostile document fails early instead of
// overflowing the stack later in recursive DOM operations, and, where a document could hold more than
// kXmlMaxNames of them, its different element and attribute names: the tree keeps every name in a
// table of fixed size, whose cost grows with the square of their number.
class CappedDOMParser : public XercesDOMParser {
 public:
  explicit CappedDOMParser(MemoryManager* manager) : XercesDOMParser(nullptr, manager, nullptr) {}

  // Before each parse; `names` (the caller's, for this parse) collects the names, or is nullptr when
  // the document is too short to hold more than kXmlMaxNames of them.
  void reset(std::unordered_set<std::u16string>* names) {
    depth_ = 0;
    names_ = names;
  }

  // Whether the scanner has read an XML 1.1 declaration. It keeps that version for every later
  // document, including those that declare none, so it would accept their XML 1.1-only characters.
  bool keepsXml11() const { return getScanner()->getXMLVersion() != XMLReader::XMLV1_0; }

  void startElement(const XMLElementDecl& elemDecl, const unsigned int urlId, const XMLCh* const elemPrefix,
                    const RefVectorOf<XMLAttr>& attrList, const XMLSize_t attrCount, const bool isEmpty,
                    const bool isRoot) override {
    if (++depth_ > kXmlMaxDepth) {
      static_assert(kXmlMaxDepth == 1024, "keep the message in step");
      refuse(getScanner()->getLocator(), u"element nesting is deeper than 1024 levels");
    }
    if (names_ != nullptr) countNames(elemDecl, attrList, attrCount);
    // An empty element gets its endElement call from the base class.
    if (attrCount <= kSortFrom) {
      XercesDOMParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
      return;
    }
    // The tree keeps attributes sorted by name and inserts each one where it belongs, moving those
    // after it: handed over in that order, each goes to the end.
    order_.clear();
    for (XMLSize_t i = 0; i < attrCount; ++i) order_.push_back(const_cast<XMLAttr*>(attrList.elementAt(i)));
    std::sort(order_.begin(), order_.end(), [](const XMLAttr* a, const XMLAttr* b) {
      return std::u16string_view(a->getName()) < std::u16string_view(b->getName());
    });
    sorted_.removeAllElements();
    for (XMLAttr* attribute : order_) sorted_.addElement(attribute);
    XercesDOMParser::startElement(elemDecl, urlId, elemPrefix, sorted_, attrCount, isEmpty, isRoot);
  }

  void endElement(const XMLElementDecl& elemDecl, const unsigned int urlId, const bool isRoot,
                  const XMLCh* const elemPrefix) override {
    --depth_;
    XercesDOMParser::endElement(elemDecl, urlId, isRoot, elemPrefix);
  }

 private:
  static constexpr XMLSize_t kSortFrom = 16;

  void countNames(const XMLElementDecl& elemDecl, const RefVectorOf<XMLAttr>& attrList, XMLSize_t attrCount) {
    // Copies: the scanner reuses the attributes' buffers from element to element.
    names_->insert(elemDecl.getFullName());
    for (XMLSize_t i = 0; i < attrCount; ++i) names_->insert(attrList.elementAt(i)->getName());
    if (names_->size() > static_cast<size_t>(kXmlMaxNames)) {
      static_assert(kXmlMaxNames == 10000, "keep the message in step");
      refuse(getScanner()->getLocator(),
             u"the document uses more than 10000 different element and attribute names");
    }
  }

  int32_t depth_ = 0;
  std::unordered_set<std::u16string>* names_ = nullptr;
  std::vector<XMLAttr*> order_;
  RefVectorOf<XMLAttr> sorted_{kSortFrom, false, &memoryManager()};  // does not own the attributes
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
// grammar set-up; the others need the full scanner for their internal DTD subset, and so do those that
// may hold many attributes on one element: the well-formedness scanner checks each attribute against
// every one before it in the tag, the full scanner keeps them in a hash table.
struct ThreadParser {
  ThreadParser() { security.setEntityExpansionLimit(kXmlMaxEntityExpansions); }

  SecurityManager security;
  RefusingEntityResolver resolver;
  std::unique_ptr<CappedDOMParser> plain;
  std::unique_ptr<CappedDOMParser> full;

  CappedDOMParser& get(bool useFull) {
    std::unique_ptr<CappedDOMParser>& slot = useFull ? full : plain;
    if (!slot)
      slot = makeParser(useFull ? XMLUni::fgIGXMLScanner : XMLUni::fgWFXMLScanner, security, resolver);
    return *slot;
  }

  // After a parse, however it ended: a parser that read an XML 1.1 declaration (see keepsXml11), or
  // grew past kKeptBufferBytes for a large document (buffers and name pools that would otherwise stay
  // with the thread until it ends), is not used again. Such documents are rare, and a fresh parser
  // costs a few microseconds.
  void settle(bool useFull, int64_t grownBytes) {
    std::unique_ptr<CappedDOMParser>& slot = useFull ? full : plain;
    const bool grown = grownBytes > static_cast<int64_t>(kKeptBufferBytes);
    ReleaseScope scope(grown);
    if (slot && (grown || slot->keepsXml11())) slot.reset();
  }

  // After an out-of-memory exception Xerces leaves the parser mid-parse for good.
  void retire(bool useFull) {
    ReleaseScope scope(true);
    (useFull ? full : plain).reset();
  }
};

ThreadParser& threadParser() {
  thread_local ThreadParser slot;
  return slot;
}

std::u16string toU16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// A document for the full scanner: one with a DOCTYPE, or one that may hold many attributes on an
// element. Without a DTD every attribute needs an '=' of the text, and up to this many the
// well-formedness scanner's check costs less than the full scanner's set-up.
constexpr std::ptrdiff_t kAttributesForFullScanner = 256;

bool needsFullScanner(const char16_t* text, int32_t length) {
  static constexpr std::u16string_view kDoctype = u"<!DOCTYPE";
  const std::u16string_view view(text, static_cast<size_t>(length));
  return view.find(kDoctype) != std::u16string_view::npos ||
         std::count(view.begin(), view.end(), u'=') >= kAttributesForFullScanner;
}

constexpr const char16_t* kNativeUtf16 =
    std::endian::native == std::endian::little ? u"UTF-16LE" : u"UTF-16BE";

}  // namespace

DOMDocument* parseOnThisThread(const char16_t* text, int32_t length, int64_t& heldBytes) {
  ThreadParser& parsers = threadParser();
  const bool useFull = needsFullScanner(text, length);
  CappedDOMParser& parser = parsers.get(useFull);
  MemBufInputSource source(reinterpret_cast<const XMLByte*>(text), static_cast<XMLSize_t>(length) * 2,
                           u"Internal", false, &memoryManager());
  source.setCopyBufToStream(false);  // the text outlives the parse
  source.setEncoding(kNativeUtf16);
  // Every name takes at least two code units of the text (itself and what sets it apart), entities and
  // attribute defaults only repeat names written in it: a shorter text cannot hold too many.
  std::unordered_set<std::u16string> names;
  parser.reset(length / 2 > kXmlMaxNames ? &names : nullptr);
  ParseBudget budget;
  budget.liveLimit = kXmlParseMemoryBase + kXmlParseMemoryPerUnit * length;
  DOMDocument* document = nullptr;
  try {
    BudgetScope scope(budget);
    parser.parse(source);
    document = parser.adoptDocument();  // independent of the parser from here on
  } catch (const OutOfMemoryException&) {
    parsers.retire(useFull);
    if (!budget.over) throw;
  } catch (...) {
    {
      ReleaseScope scope(budget.live > static_cast<int64_t>(kKeptBufferBytes));
      parser.resetDocumentPool();  // drop the half-built tree now, not at the next parse
    }
    parsers.settle(useFull, budget.live);
    throw;
  }
  parsers.settle(useFull, budget.live);
  if (budget.over) {
    // Past the budget without a block to fail on the way, the document is refused all the same.
    if (document != nullptr) releaseDocument(document, budget.live);
    const std::u16string limit = toU16(std::to_string(budget.liveLimit));
    std::u16string message;
    if (!budget.tooLarge) {
      message = u"entity references are expanded more than " +
                toU16(std::to_string(kXmlMaxEntityExpansions)) + u" times";
    } else if (budget.readers > 1) {
      message = u"entity references expand the document beyond " + limit + u" bytes of memory";
    } else {
      // No entity was expanded: attribute defaults of the DTD, given to every element, grew it.
      message = u"the document needs more than " + limit + u" bytes of memory";
    }
    throw SAXException(message.c_str(), &memoryManager());
  }
  heldBytes = budget.live;
  return document;
}

void releaseDocument(DOMDocument* document, int64_t heldBytes) {
  ReleaseScope scope(heldBytes > static_cast<int64_t>(kKeptBufferBytes));
  document->release();
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
