#pragma once

#include <string_view>

namespace hcs::service {

// Jaro-Winkler similarity of two texts given as code points: 1 for equal texts (two empty texts
// included), 0 when either is empty or nothing matches. The Winkler prefix bonus (scale 0.1, up to four
// characters) applies once the Jaro similarity exceeds 0.7. Pure; safe from any thread.
double jaroWinkler(std::u32string_view a, std::u32string_view b);

}  // namespace hcs::service
