#include "plugin/plugin.h"

#include <cstring>

namespace hcs {

namespace {
// Constant-initialised: valid before any static constructor runs and until unload.
constexpr char kVersion[] = "1.0";

constexpr char kInitUnavailable[] = "<ERROR>initPlugin is not available in this build</ERROR>";
constexpr char kScoreUnavailable[] =
    "<SCORE_RESULT><ERROR>score is not available in this build</ERROR></SCORE_RESULT>";
}  // namespace

const char* pluginVersion() { return kVersion; }

int32_t initPluginImpl(const char*, int32_t, char* errorText) {
  if (errorText != nullptr) std::memcpy(errorText, kInitUnavailable, sizeof kInitUnavailable);
  return -1;
}

int32_t scoreImpl(const char*, int32_t, const char*, int32_t, const char*, int32_t, char* resultBuffer,
                  uint32_t maxResultSize) {
  if (resultBuffer != nullptr && maxResultSize + 1 >= sizeof kScoreUnavailable) {
    std::memcpy(resultBuffer, kScoreUnavailable, sizeof kScoreUnavailable);
  }
  return -1;
}

}  // namespace hcs
