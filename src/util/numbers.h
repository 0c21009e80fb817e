#pragma once

#include <cstdint>
#include <string>

#include <unicode/unistr.h>

namespace hcs {

// `value` in decimal, left-filled with "0" up to `width` characters. Longer numbers are written whole;
// a minus sign stays after the zeros (-5 at width 3 gives "0-5").
void zeroPad(std::string& out, int value, int width);

// Reads a decimal integer the lenient way identifiers are read everywhere in the system: any Unicode
// decimal digit counts; while nothing but zeros has been read, "-" flips the sign and blanks are
// skipped; anything else ends the number. "" and "+5" give 0, " -42" gives -42, "4 2" gives 4.
// Wraps around on overflow (32-bit arithmetic, no check), never fails.
int32_t parseInt(const icu::UnicodeString& text);

}  // namespace hcs
