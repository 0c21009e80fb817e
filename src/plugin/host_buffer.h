#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hcs {

// The initPlugin error text never exceeds this many bytes, its NUL included.
inline constexpr size_t kInitErrorCapacity = 1024;

// Writes prefix + inner + suffix and a NUL into `buffer`, never more than `capacity` bytes in all. When it
// does not fit, `inner` is cut (on a UTF-8 character boundary) so the wrapper stays whole; when not even
// the wrapper fits, the text is cut at `capacity` - 1 bytes. A null buffer or a capacity of 0 writes
// nothing.
void writeCapped(char* buffer, size_t capacity, std::string_view prefix, std::string_view inner,
                 std::string_view suffix);

// "<SCORE_RESULT><ERROR>text</ERROR></SCORE_RESULT>" into a host buffer of maxResultSize + 1 bytes.
void writeScoreError(char* buffer, uint32_t maxResultSize, std::string_view errorText);

}  // namespace hcs
