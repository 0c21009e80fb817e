#include "plugin/host_buffer.h"

#include <cstring>

namespace hcs {

namespace {
// The longest prefix of `text` of at most `limit` bytes that does not end inside a UTF-8 sequence.
size_t utf8Cut(std::string_view text, size_t limit) {
  if (limit >= text.size()) return text.size();
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}
}  // namespace

void writeCapped(char* buffer, size_t capacity, std::string_view prefix, std::string_view inner,
                 std::string_view suffix) {
  if (buffer == nullptr || capacity == 0) return;
  const size_t room = capacity - 1;
  const size_t wrapper = prefix.size() + suffix.size();
  if (wrapper > room) {
    std::string whole;
    whole.append(prefix).append(inner).append(suffix);
    const size_t n = utf8Cut(whole, room);
    std::memcpy(buffer, whole.data(), n);
    buffer[n] = '\0';
    return;
  }
  const size_t innerBytes = utf8Cut(inner, room - wrapper);
  char* out = buffer;
  std::memcpy(out, prefix.data(), prefix.size());
  out += prefix.size();
  std::memcpy(out, inner.data(), innerBytes);
  out += innerBytes;
  std::memcpy(out, suffix.data(), suffix.size());
  out += suffix.size();
  *out = '\0';
}

void writeScoreError(char* buffer, uint32_t maxResultSize, std::string_view errorText) {
  writeCapped(buffer, static_cast<size_t>(maxResultSize) + 1, "<SCORE_RESULT><ERROR>", errorText,
              "</ERROR></SCORE_RESULT>");
}

}  // namespace hcs
