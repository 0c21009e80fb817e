// CPU cost of one score call with the network replaced by an in-process echo interface: the plugin's
// own work (scanning or parsing, the outgoing document, the registry lookup, the reply copy), without
// libcurl or a socket. hcs bench measures the whole call against a real service.
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "plugin/callout_registry.h"
#include "plugin/plugin.h"
#include "transport/callout.h"

namespace hcs {
namespace {

// Answers every message at once with a fixed reply, so only the plugin's own work is measured.
class EchoTransport : public CalloutTransport {
 public:
  long post(std::string_view message, icu::UnicodeString& status, std::string& reply,
            const HttpPostLimits&) override {
    benchmark::DoNotOptimize(message.size());
    status = u"200 OK";
    reply = "<SCORE_RESULT><SCORE>0.93</SCORE></SCORE_RESULT>";
    return 200;
  }
};

constexpr int32_t kKey = 77;

std::string record(const std::string& value) {
  return "<ATTRIBUTE><ATTR_TYPE_ID>77</ATTR_TYPE_ID><VALUE>" + value + "</VALUE></ATTRIBUTE>";
}

void registerEcho() {
  static const bool done = calloutRegistry().insert(
      kKey, std::make_unique<Callout>(std::make_unique<EchoTransport>(), CalloutSettings::defaults(10000)));
  (void)done;
}

int32_t callScore(const std::string& request, const std::string& inbound, const std::string& matched,
                  std::vector<char>& buffer) {
  return scoreImpl(request.data(), static_cast<int32_t>(request.size()), inbound.data(),
                   static_cast<int32_t>(inbound.size()), matched.data(), static_cast<int32_t>(matched.size()),
                   buffer.data(), static_cast<uint32_t>(buffer.size() - 1));
}

// Isolates the plugin's own work when every call brings three documents it has not seen before.
void BM_ScoreFreshDocuments(benchmark::State& state) {
  registerEcho();
  std::vector<char> buffer(4097);
  std::vector<std::string> values;
  for (int i = 0; i < 1024; ++i) values.push_back("Anne Smith " + std::to_string(i));
  size_t i = 0;
  for (auto _ : state) {
    const std::string& v = values[i++ % values.size()];
    const std::string request = "<REQ><MODE>fast</MODE><N>" + v + "</N></REQ>";
    if (callScore(request, record(v), record(v + "e"), buffer) != 0) state.SkipWithError("score failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScoreFreshDocuments)->ThreadRange(1, 2)->UseRealTime();

// Isolates the plugin's own work on the host's usual pattern: one request and inbound record against
// many matched records.
void BM_ScoreSameInboundManyMatched(benchmark::State& state) {
  registerEcho();
  std::vector<char> buffer(4097);
  const std::string request = "<REQ><MODE>fast</MODE></REQ>";
  const std::string inbound = record("Anne Smith");
  std::vector<std::string> matched;
  for (int i = 0; i < 1024; ++i) matched.push_back(record("Ann Smyth " + std::to_string(i)));
  size_t i = 0;
  for (auto _ : state) {
    if (callScore(request, inbound, matched[i++ % matched.size()], buffer) != 0)
      state.SkipWithError("score failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScoreSameInboundManyMatched);

}  // namespace
}  // namespace hcs
