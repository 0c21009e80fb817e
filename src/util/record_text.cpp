#include "util/record_text.h"

#include <algorithm>
#include <cstdint>

#include <unicode/utf8.h>

namespace hcs {

namespace {

// One ASCII byte of the text; false for a control character. `inside` says whether it stands in
// markup, as CXmlDocument's upper-casing sees it.
bool prepareAscii(std::string_view raw, size_t& i, bool& inside, char*& write, size_t& nameMarks) {
  const char c = raw[i];
  char written = c;
  switch (c) {
    case '<':
      if (i + 1 >= raw.size() || raw[i + 1] != '?') inside = true;  // <? leaves the state as it was
      ++nameMarks;
      break;
    case '=':
      ++nameMarks;
      break;
    case '>':
      inside = false;
      break;
    case '\r':
      written = '\n';
      if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
      break;
    default:
      if (c < 0x20 && c != '\t' && c != '\n') return false;
      if (inside && c >= 'a' && c <= 'z') written = static_cast<char>(c - ('a' - 'A'));
      break;
  }
  *write++ = written;
  ++i;
  return true;
}

}  // namespace

bool prepareRecordText(std::string_view raw, std::string_view from, std::string_view to, std::string& text,
                       size_t& nameMarks) {
  nameMarks = 0;
  if (raw.empty() || raw.starts_with("\xEF\xBB\xBF")) return false;
  // Written through a pointer into a buffer sized once: this runs on every byte of every record.
  size_t bound = raw.size();
  if (!from.empty() && to.size() > from.size()) bound += raw.size() / from.size() * (to.size() - from.size());
  text.resize(bound);
  char* const begin = text.data();
  char* write = begin;
  bool inside = false;
  size_t i = 0;
  while (i < raw.size()) {
    const char c = raw[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      const size_t start = i;
      UChar32 decoded = 0;
      U8_NEXT(reinterpret_cast<const uint8_t*>(raw.data()), i, raw.size(), decoded);
      if (inside || decoded < 0 || !isXmlChar(decoded)) return false;
      write = std::copy(raw.data() + start, raw.data() + i, write);
    } else if (!from.empty() && c == from.front() && follows(raw, i, from)) {
      write = std::copy(to.begin(), to.end(), write);
      inside = false;  // both end in '>'
      i += from.size();
    } else if (!prepareAscii(raw, i, inside, write, nameMarks)) {
      return false;
    }
  }
  text.resize(static_cast<size_t>(write - begin));
  return true;
}

}  // namespace hcs
