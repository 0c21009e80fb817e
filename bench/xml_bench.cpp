// Score's outgoing document, built both ways, and Xerces-C on the parsed build (records with a DOCTYPE,
// other entities, another encoding...): what scanning, parsing, copying and writing documents cost,
// with no network.
#include <string>

#include <benchmark/benchmark.h>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>

#include "plugin/outgoing_document.h"
#include "util/record_scanner.h"
#include "util/ucstring.h"
#include "util/xml_document.h"

namespace hcs {
namespace {

const char kRecord[] = "<ATTRIBUTE><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Anne Smith</VALUE></ATTRIBUTE>";
const char kRequest[] = "<REQ><MODE>fast</MODE></REQ>";

// Isolates parsing one 80-byte record through CXmlDocument with the thread's reused parser.
void BM_ParseSmallReused(benchmark::State& state) {
  const UCString source(kRecord);
  for (auto _ : state) {
    UCString text(source);
    CXmlDocument doc(text);
    benchmark::DoNotOptimize(doc.getRoot());
  }
}
BENCHMARK(BM_ParseSmallReused);

// Isolates what a parser built for every document costs (against BM_ParseSmallReused: the reuse's gain).
void BM_ParseSmallNewParser(benchmark::State& state) {
  initXmlLibraries();
  const UCString source(kRecord);
  for (auto _ : state) {
    xercesc::XercesDOMParser parser;
    xercesc::MemBufInputSource input(reinterpret_cast<const XMLByte*>(source.getBuffer()),
                                     static_cast<XMLSize_t>(source.length()) * 2, u"Internal");
    input.setEncoding(u"UTF-16LE");
    parser.parse(input);
    benchmark::DoNotOptimize(parser.getDocument());
  }
}
BENCHMARK(BM_ParseSmallNewParser);

// Isolates the plugin's common path: the outgoing document of typical records on the scanned build.
void BM_ScoreDocumentScanned(benchmark::State& state) {
  OutgoingBuffers buffers;
  const ScoreTexts texts{kRequest, kRecord, kRecord};
  for (auto _ : state) {
    OutgoingDocument document(texts, buffers);
    if (!document.scanned() || document.build()) state.SkipWithError("not scanned");
    benchmark::DoNotOptimize(document.utf8().size());
  }
}
BENCHMARK(BM_ScoreDocumentScanned);

// The same records on the parsed build, nothing cached: against BM_ScoreDocumentScanned, what the
// scanner saves.
void BM_ScoreDocumentParsed(benchmark::State& state) {
  const ScoreTexts texts{kRequest, kRecord, kRecord};
  for (auto _ : state) {
    OutgoingBuffers buffers;
    OutgoingDocument document(texts, buffers, OutgoingDocument::Builds::kParsedOnly);
    if (document.unreadableRecord() || document.build()) state.SkipWithError("not parsed");
    benchmark::DoNotOptimize(document.utf8().size());
  }
}
BENCHMARK(BM_ScoreDocumentParsed);

// The same XML work with the wrapper built as a document: parsed, the three roots copied into it and
// the whole written; against BM_ScoreDocumentParsed, what writing the roots straight saves.
void BM_ScorePattern(benchmark::State& state) {
  const UCString inbound(kRecord), matched(kRecord), request(kRequest);
  for (auto _ : state) {
    UCString a(inbound), b(matched), r(request), w(u"<W></W>");
    CXmlDocument inDoc(a), matchDoc(b);
    icu::UnicodeString inType = inDoc.getValue(inDoc.getRoot(), u"ATTR_TYPE_ID", u"", true);
    icu::UnicodeString matchType = matchDoc.getValue(matchDoc.getRoot(), u"ATTR_TYPE_ID", u"", true);
    benchmark::DoNotOptimize(inType == matchType);
    CXmlDocument wrapper(w), req(r);
    appendCopy(wrapper.getRoot(), req.getRoot());
    appendCopy(wrapper.getRoot(), inDoc.getRoot());
    appendCopy(wrapper.getRoot(), matchDoc.getRoot());
    icu::UnicodeString out;
    wrapper.toXml(wrapper.getRoot(), out);
    benchmark::DoNotOptimize(out.length());
  }
}
BENCHMARK(BM_ScorePattern);

// Isolates the fixed cost of a document: the smallest one, parsed.
void BM_ParseWrapperOnly(benchmark::State& state) {
  const UCString source("<W></W>");
  for (auto _ : state) {
    UCString text(source);
    CXmlDocument doc(text);
    benchmark::DoNotOptimize(doc.getRoot());
  }
}
BENCHMARK(BM_ParseWrapperOnly);

// Isolates serialising a parsed document of the size score sends.
void BM_ToXml(benchmark::State& state) {
  UCString text(
      "<W><REQ/><A><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Ann</VALUE></A>"
      "<B><ATTR_TYPE_ID>7</ATTR_TYPE_ID><VALUE>Anne</VALUE></B></W>");
  CXmlDocument doc(text);
  for (auto _ : state) {
    icu::UnicodeString out;
    doc.toXml(nullptr, out);
    benchmark::DoNotOptimize(out.length());
  }
}
BENCHMARK(BM_ToXml);

// A record of n attributes on one element, or of n differently named elements, each name as the parser
// sees it for the first time; up to the cap on different names the cost must grow in step with n.
std::string manyNames(bool onOneElement, int64_t n) {
  std::string record = "<ATTRIBUTE><ATTR_TYPE_ID>7</ATTR_TYPE_ID>";
  record += onOneElement ? "<E" : "";
  for (int64_t i = n - 1; i >= 0; --i) {
    record += onOneElement ? " A" + std::to_string(i) + "='v'" : "<E" + std::to_string(i) + "/>";
  }
  return record + (onOneElement ? "/></ATTRIBUTE>" : "</ATTRIBUTE>");
}

void BM_ParseManyNames(benchmark::State& state) {
  const UCString source("<?pi x?>" + manyNames(state.range(0) != 0, state.range(1)));
  for (auto _ : state) {
    UCString text(source);
    CXmlDocument doc(text);
    benchmark::DoNotOptimize(doc.getRoot());
  }
  state.SetComplexityN(state.range(1));
}
BENCHMARK(BM_ParseManyNames)
    ->ArgsProduct({{1}, {1000, 2000, 4000, 8000}})
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseManyNames)
    ->ArgsProduct({{0}, {1000, 2000, 4000, 8000}})
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

// The same records through the one-pass scanner.
void BM_ScanManyNames(benchmark::State& state) {
  const std::string record = manyNames(state.range(0) != 0, state.range(1));
  std::string out;
  for (auto _ : state) {
    out.clear();
    benchmark::DoNotOptimize(scanRecord(record, RecordRules{}, out, nullptr));
  }
  state.SetComplexityN(state.range(1));
}
BENCHMARK(BM_ScanManyNames)
    ->ArgsProduct({{1}, {1000, 2000, 4000, 8000}})
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace hcs
