#include "service/similarity.h"

#include <algorithm>
#include <cstddef>
#include <memory>

namespace hcs::service {
namespace {

constexpr double kBoostThreshold = 0.7;
constexpr double kPrefixScale = 0.1;
constexpr std::size_t kMaxPrefix = 4;
// Attribute values are short; flags for them live on the stack, longer texts fall back to the heap.
constexpr std::size_t kStackFlags = 256;

double jaro(std::u32string_view a, std::u32string_view b, bool* matchedA, bool* matchedB) {
  const std::size_t window = std::max(a.size(), b.size()) / 2 - (std::max(a.size(), b.size()) >= 2 ? 1 : 0);
  std::size_t matches = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::size_t from = i > window ? i - window : 0;
    const std::size_t to = std::min(i + window + 1, b.size());
    for (std::size_t j = from; j < to; ++j) {
      if (!matchedB[j] && a[i] == b[j]) {
        matchedA[i] = matchedB[j] = true;
        ++matches;
        break;
      }
    }
  }
  if (matches == 0) return 0.0;
  std::size_t outOfOrder = 0;
  for (std::size_t i = 0, j = 0; i < a.size(); ++i) {
    if (!matchedA[i]) continue;
    while (!matchedB[j]) ++j;
    if (a[i] != b[j]) ++outOfOrder;
    ++j;
  }
  const double m = static_cast<double>(matches);
  const double t = static_cast<double>(outOfOrder) / 2.0;
  return (m / static_cast<double>(a.size()) + m / static_cast<double>(b.size()) + (m - t) / m) / 3.0;
}

}  // namespace

double jaroWinkler(std::u32string_view a, std::u32string_view b) {
  if (a == b) return 1.0;
  if (a.empty() || b.empty()) return 0.0;
  double similarity;
  const std::size_t flagCount = a.size() + b.size();
  if (flagCount <= kStackFlags) {
    bool flags[kStackFlags] = {};
    similarity = jaro(a, b, flags, flags + a.size());
  } else {
    const std::unique_ptr<bool[]> flags(new bool[flagCount]());
    similarity = jaro(a, b, flags.get(), flags.get() + a.size());
  }
  if (similarity <= kBoostThreshold) return similarity;
  std::size_t prefix = 0;
  const std::size_t limit = std::min({a.size(), b.size(), kMaxPrefix});
  while (prefix < limit && a[prefix] == b[prefix]) ++prefix;
  return similarity + static_cast<double>(prefix) * kPrefixScale * (1.0 - similarity);
}

}  // namespace hcs::service
