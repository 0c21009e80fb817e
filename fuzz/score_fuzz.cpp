// score with fuzzed documents and lengths against in-process transports: whatever the host hands over,
// the call returns 0 or -1 with a NUL-terminated text inside the host's buffer, reads nothing beyond
// the lengths it was given, and leaves only by the exceptions its contract names; and every document it
// would post parses as XML on its own.
//
// Input: request, inbound and matched documents separated by 0x1E, then optionally a fourth piece of
// control bytes: one length mode per document, then maxResultSize as two little-endian bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/SAXParseException.hpp>

#include "error/qrm_exception.h"
#include "plugin/callout_registry.h"
#include "plugin/plugin.h"
#include "transport/callout.h"
#include "util/ucstring.h"

namespace {

enum class Behaviour { Echo, Refuse, Throw, Empty };

// The service reads the posted text as plain XML, without the records' DTDs (and without the markup
// upper-casing of CXmlDocument, under which &quot; in an attribute would read as an unknown &QUOT;).
void requireStandalone(const icu::UnicodeString& message) {
  const std::string body = hcs::toUtf8(message);
  xercesc::XercesDOMParser parser;
  parser.setLoadExternalDTD(false);
  parser.setDisableDefaultEntityResolution(true);
  xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(body.data()), body.size(), u"posted");
  try {
    parser.parse(source);
    if (parser.getErrorCount() == 0 && body.find("<!DOCTYPE") == std::string::npos) return;
    std::fprintf(stderr, "would post a document with errors or a DTD:\n%s\n", body.c_str());
  } catch (const xercesc::SAXParseException& e) {
    std::fprintf(stderr, "would post a document that does not parse (%s):\n%s\n",
                 hcs::toUtf8(icu::UnicodeString(e.getMessage())).c_str(), body.c_str());
  }
  __builtin_trap();
}

// Answers in process: the echo hands the posted document back as the reply, so the reply is as
// fuzzed as the input; the others fail the ways a real transport does.
class InProcessTransport : public hcs::CalloutTransport {
 public:
  explicit InProcessTransport(Behaviour behaviour) : behaviour_(behaviour) {}
  long post(std::string_view message, icu::UnicodeString& status, std::string& reply,
            const hcs::HttpPostLimits&) override {
    requireStandalone(hcs::UCString(message));
    reply.clear();
    switch (behaviour_) {
      case Behaviour::Echo:
        status = u"200 OK";
        reply.assign(message);
        return 200;
      case Behaviour::Refuse:
        status = u"503 Service Unavailable";
        return 503;
      case Behaviour::Throw:
        throw hcs::CHttpException("connection reset by peer", hcs::AttemptResult::kReset);
      case Behaviour::Empty:
        status = u"200 OK";
        return 200;
    }
    return 0;
  }

 private:
  Behaviour behaviour_;
};

std::unique_ptr<hcs::Callout> inProcess(Behaviour behaviour) {
  return std::make_unique<hcs::Callout>(std::make_unique<InProcessTransport>(behaviour),
                                        hcs::CalloutSettings::defaults(10000));
}

// ATTR_TYPE_ID 77 echoes, 78 refuses, 79 throws, 80 answers empty; any other type has no interface.
void registerInterfaces() {
  static const bool done = [] {
    hcs::calloutRegistry().insert(77, inProcess(Behaviour::Echo));
    hcs::calloutRegistry().insert(78, inProcess(Behaviour::Refuse));
    hcs::calloutRegistry().insert(79, inProcess(Behaviour::Throw));
    hcs::calloutRegistry().insert(80, inProcess(Behaviour::Empty));
    return true;
  }();
  (void)done;
}

// One host text: a pointer and a length that never reaches past the bytes actually handed over. Each
// text gets an allocation of exactly the bytes it may be read from, so a read beyond is caught.
struct HostText {
  HostText(std::string_view text, uint8_t mode) {
    const int32_t size = static_cast<int32_t>(text.size());
    int32_t bytes = size;
    switch (mode) {
      case 0:
        break;  // the whole text
      case 1:
        pointer = false;
        length = 0;
        return;  // null, length 0
      case 2:
        pointer = false;
        length = -1;
        return;  // null, negative length
      case 3:
        length = -1 - size;
        break;  // a text, negative length
      case 4:
        bytes = 0;
        break;  // a text, length 0
      default:
        bytes = static_cast<int32_t>((mode - 5) % (size + 1));
        break;  // a cut text
    }
    storage = std::make_unique<char[]>(static_cast<size_t>(bytes));
    if (bytes > 0) std::memcpy(storage.get(), text.data(), static_cast<size_t>(bytes));
    if (mode != 3) length = bytes;
  }
  const char* data() const { return pointer ? storage.get() : nullptr; }

  std::unique_ptr<char[]> storage;
  bool pointer = true;
  int32_t length = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  registerInterfaces();
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view pieces[4];
  for (int i = 0; i < 3; ++i) {
    const size_t end = input.find('\x1e');
    pieces[i] = input.substr(0, end);
    if (end == std::string_view::npos) {
      input = {};
      break;
    }
    input.remove_prefix(end + 1);
  }
  pieces[3] = input;
  auto control = [&](size_t i) { return i < pieces[3].size() ? static_cast<uint8_t>(pieces[3][i]) : 0; };
  const uint32_t maxResultSize = pieces[3].size() >= 5 ? control(3) | (control(4) << 8) : 4096;

  const HostText request(pieces[0], control(0));
  const HostText inbound(pieces[1], control(1));
  const HostText matched(pieces[2], control(2));
  // Exactly the maxResultSize + 1 bytes the contract asks the host for.
  std::vector<char> result(static_cast<size_t>(maxResultSize) + 1, '\x7f');

  int32_t status = 0;
  try {
    status = hcs::scoreImpl(request.data(), request.length, inbound.data(), inbound.length, matched.data(),
                            matched.length, result.data(), maxResultSize);
  } catch (const hcs::QRM_Exception& e) {
    // Only an internal failure of the XML library may leave the call.
    if (std::string_view(e.what()).rfind("XML library failure", 0) != 0) {
      std::fprintf(stderr, "score threw: %s\n", e.what());
      __builtin_trap();
    }
    return 0;
  }
  if (status != 0 && status != -1) __builtin_trap();
  if (std::memchr(result.data(), '\0', result.size()) == nullptr) __builtin_trap();
  return 0;
}
