#pragma once

#include <string>
#include <string_view>

namespace hcs::text {

// The columns a terminal gives UTF-8 text: East Asian wide and fullwidth characters take two, combining
// marks and other zero-width characters none, everything else one. A byte that is not UTF-8 counts one.
int displayWidth(std::string_view utf8);

// `utf8` in exactly `width` columns (width >= 3): padded with blanks, or cut with "..." when wider. A cut
// never splits a character or separates it from its combining marks.
std::string fitColumn(std::string_view utf8, int width);

}  // namespace hcs::text
