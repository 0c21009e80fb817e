#pragma once

#include <cstdint>

#include <unicode/unistr.h>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/sax/ErrorHandler.hpp>

// Internal to the XML utilities: the process-wide pieces handed to Xerces-C and the per-thread parser.
namespace hcs::xml_internal {

// Global new / array delete; the library's memory manager for the whole process, never destroyed.
// While parseOnThisThread runs, it also keeps that parse within its memory budget: past it, the next
// large allocation throws OutOfMemoryException, which the parse turns into a parse error.
class DefaultMemoryManager : public xercesc::MemoryManager {
 public:
  ~DefaultMemoryManager() override;
  xercesc::MemoryManager* getExceptionMemoryManager() override { return this; }
  void* allocate(XMLSize_t size) override;
  void deallocate(void* p) override;
};

// Turns every error and fatal error into a thrown copy of the exception; warnings are ignored.
// Stateless, so one instance serves every parser on every thread.
class DefaultErrorHandler : public xercesc::ErrorHandler {
 public:
  ~DefaultErrorHandler() override;
  void warning(const xercesc::SAXParseException& e) override;
  void error(const xercesc::SAXParseException& e) override;
  void fatalError(const xercesc::SAXParseException& e) override;
  void resetErrors() override;
};

DefaultMemoryManager& memoryManager();

// Parses `length` UTF-16 code units with this thread's parser and hands over the DOM document.
// `heldBytes` gets what the parse left allocated: the document, and whatever the parser grew for it
// (a parser that grew past kKeptBufferBytes is let go, so it keeps nothing for later parses).
// Parse errors arrive as thrown xercesc::SAXException; the parser is left clean either way.
// Requires initXmlLibraries() to have run.
xercesc::DOMDocument* parseOnThisThread(const char16_t* text, int32_t length, int64_t& heldBytes);

// Releases a document parseOnThisThread handed over; one that held more than kKeptBufferBytes gives
// its memory back to the system, not only to the allocator.
void releaseDocument(xercesc::DOMDocument* document, int64_t heldBytes);

}  // namespace hcs::xml_internal
