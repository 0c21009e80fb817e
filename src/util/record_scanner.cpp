#include "util/record_scanner.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "util/kept_buffer.h"
#include "util/xml_document.h"

namespace hcs {

namespace {

constexpr std::string_view kRenamed = "ATTRIBUTE>";
constexpr std::string_view kTypeName = "ATTR_TYPE_ID";

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Names are ASCII here: markup outside ASCII is never handled (see prepare), and these are the ASCII
// name characters of XML 1.0.
bool isNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':'; }
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-'; }

bool isXmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// A referenced character as the writer escapes it: in text '&', '<', '>' and a carriage return; in an
// attribute value '&', '<', '"' and the three white-space characters, which would otherwise be normalised.
void appendEscaped(std::string& out, uint32_t c, bool inAttribute) {
  const char* escape = nullptr;
  switch (c) {
    case '&':
      escape = "&amp;";
      break;
    case '<':
      escape = "&lt;";
      break;
    case '\r':
      escape = "&#xD;";
      break;
    case '>':
      if (!inAttribute) escape = "&gt;";
      break;
    case '"':
      if (inAttribute) escape = "&quot;";
      break;
    case '\n':
      if (inAttribute) escape = "&#xA;";
      break;
    case '\t':
      if (inAttribute) escape = "&#x9;";
      break;
    default:
      break;
  }
  if (escape != nullptr) {
    out.append(escape);
  } else {
    appendUtf8(out, c);
  }
}

// The length of the valid UTF-8 sequence of one XML character starting at `s[i]`, 0 when there is
// none (what the converter would turn into U+FFFD, or a character XML refuses).
size_t utf8Char(std::string_view s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  uint32_t c = 0;
  uint32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  return c >= least && isXmlChar(c) ? length : 0;
}

// A found ATTR_TYPE_ID text: a range of the captured character data.
struct Hit {
  size_t begin = 0;
  size_t end = 0;
  bool found = false;
};

struct Attribute {
  size_t nameBegin;  // in the prepared text
  size_t nameLength;
  size_t valueBegin;  // in the written values
  size_t valueEnd;
};

struct Frame {
  size_t nameBegin;  // in the prepared text
  size_t nameLength;
  size_t captureBegin;
  Hit direct;      // the first child named ATTR_TYPE_ID
  Hit deep;        // what the search below the first child that has a hit found
  bool startOpen;  // start tag written without its '>': written as <A/> if nothing follows
  bool isType;
};

class RecordScanner {
 public:
  bool run(std::string_view utf8, std::string_view newRoot, std::string& out, std::string* typeId) {
    const size_t mark = out.size();
    out_ = &out;
    const bool handled = prepare(utf8, newRoot) && document();
    if (handled && typeId != nullptr) {
      if (rootHit_.found) {
        typeId->assign(capture_, rootHit_.begin, rootHit_.end - rootHit_.begin);
      } else {
        typeId->clear();
      }
    }
    releaseIfLarge();
    if (!handled) out.resize(mark);
    return handled;
  }

 private:
  // The buffers live as long as the thread: one huge record must not keep its memory that long.
  void releaseIfLarge() {
    keepSmall(text_);
    keepSmall(values_);
    keepSmall(capture_);
    keepSmall(frames_);
    keepSmall(attributes_);
    if (names_.bucket_count() > kKeptBufferBytes / sizeof(void*)) {
      std::unordered_set<std::string_view>().swap(names_);
    }
  }

  // The text as the parser gets it: root renamed, markup upper-cased, line ends normalised. Refuses
  // what the parser would not read as the same characters, and markup that is not ASCII: its
  // upper-case form would need the Unicode tables.
  bool prepare(std::string_view raw, std::string_view newRoot) {
    text_.clear();
    nameMarks_ = 0;
    if (raw.empty() || raw.starts_with("\xEF\xBB\xBF")) return false;
    // Once, at the size it needs (never more, renamed roots being shorter): a buffer grown step by
    // step leaves each smaller step behind in the thread's heap.
    text_.reserve(raw.size());
    bool inside = false;
    const size_t n = raw.size();
    size_t i = 0;
    while (i < n) {
      const char c = raw[i];
      if (static_cast<unsigned char>(c) >= 0x80) {
        const size_t length = inside ? 0 : utf8Char(raw, i);
        if (length == 0) return false;
        text_.append(raw.data() + i, length);
        i += length;
        continue;
      }
      if (c == 'A' && !newRoot.empty() && raw.substr(i, kRenamed.size()) == kRenamed) {
        text_.append(newRoot).push_back('>');
        inside = false;
        i += kRenamed.size();
        continue;
      }
      switch (c) {
        case '<':
          if (i + 1 >= n || raw[i + 1] != '?') inside = true;  // <? leaves the state as it was
          text_.push_back(c);
          ++nameMarks_;
          break;
        case '=':
          text_.push_back(c);
          ++nameMarks_;
          break;
        case '>':
          inside = false;
          text_.push_back(c);
          break;
        case '\r':
          text_.push_back('\n');
          if (i + 1 < n && raw[i + 1] == '\n') ++i;
          break;
        case '\t':
        case '\n':
          text_.push_back(c);
          break;
        default:
          if (c < 0x20) return false;
          text_.push_back(inside && c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c);
          break;
      }
      ++i;
    }
    return true;
  }

  bool at(std::string_view s) const { return std::string_view(text_).substr(pos_).starts_with(s); }
  bool more() const { return pos_ < text_.size(); }
  char peek() const { return text_[pos_]; }

  bool skipSpace() {
    const size_t from = pos_;
    while (more() && isSpace(peek())) ++pos_;
    return pos_ != from;
  }

  bool name(size_t& begin, size_t& length) {
    begin = pos_;
    if (!more() || !isNameStart(peek())) return false;
    while (more() && isNameChar(peek())) ++pos_;
    length = pos_ - begin;
    return true;
  }
  std::string_view nameOf(size_t begin, size_t length) const {
    return std::string_view(text_).substr(begin, length);
  }

  bool equals() {
    skipSpace();
    if (!more() || peek() != '=') return false;
    ++pos_;
    skipSpace();
    return true;
  }

  bool quoted(std::string_view& value) {
    if (!more() || (peek() != '"' && peek() != '\'')) return false;
    const size_t end = text_.find(peek(), pos_ + 1);
    if (end == std::string::npos) return false;
    value = std::string_view(text_).substr(pos_ + 1, end - pos_ - 1);
    pos_ = end + 1;
    return true;
  }

  bool declaration() {
    pos_ += 5;  // <?xml
    std::string_view value;
    if (!skipSpace() || !at("version")) return false;
    pos_ += 7;
    if (!equals() || !quoted(value) || value != "1.0") return false;
    bool space = skipSpace();
    if (space && at("encoding")) {
      pos_ += 8;
      if (!equals() || !quoted(value) || value.size() != 5) return false;
      for (size_t k = 0; k < 3; ++k) {
        if ((value[k] & ~0x20) != "UTF"[k]) return false;
      }
      if (value.substr(3) != "-8") return false;
      space = skipSpace();
    }
    if (space && at("standalone")) {
      pos_ += 10;
      if (!equals() || !quoted(value) || (value != "yes" && value != "no")) return false;
      skipSpace();
    }
    if (!at("?>")) return false;
    pos_ += 2;
    return true;
  }

  // Whitespace and comments around the root; nothing of them is written.
  bool misc() {
    while (true) {
      skipSpace();
      if (!at("<!--")) return true;
      if (!comment()) return false;
    }
  }

  bool document() {
    pos_ = 0;
    capture_.clear();
    frames_.clear();
    names_.clear();
    // Every element name follows a '<' and every attribute name comes with an '=': with no more of
    // them than the cap, the names need no counting.
    countNames_ = nameMarks_ > static_cast<size_t>(kXmlMaxNames);
    typesOpen_ = 0;
    rootHit_ = Hit{};
    if (at("<?xml") && !declaration()) return false;
    if (!misc() || !more() || peek() != '<') return false;
    if (!startTag()) return false;
    while (!frames_.empty()) {
      if (!more()) return false;
      bool ok = true;
      if (peek() != '<') {
        ok = characters();
      } else if (at("</")) {
        ok = endTag();
      } else if (at("<!--")) {
        ok = comment();
      } else if (at("<![CDATA[")) {
        ok = cdata();
      } else {
        ok = startTag();
      }
      if (!ok) return false;
    }
    return misc() && !more();
  }

  // Something follows inside the innermost open element: its start tag gets its '>'.
  void child() {
    if (frames_.empty()) return;
    Frame& parent = frames_.back();
    if (parent.startOpen) {
      out_->push_back('>');
      parent.startOpen = false;
    }
  }

  bool startTag() {
    ++pos_;
    Frame frame{};
    if (!name(frame.nameBegin, frame.nameLength)) return false;  // also <!DOCTYPE, <? and the like
    if (frames_.size() >= static_cast<size_t>(kXmlMaxDepth)) return false;
    child();
    std::string& out = *out_;
    const std::string_view tag = nameOf(frame.nameBegin, frame.nameLength);
    if (!counted(tag)) return false;
    out.push_back('<');
    out.append(tag);
    attributes_.clear();
    values_.clear();
    while (true) {
      const bool space = skipSpace();
      if (!more()) return false;
      if (peek() == '>' || peek() == '/') break;
      Attribute attribute{};
      if (!space || !name(attribute.nameBegin, attribute.nameLength) || !equals()) return false;
      attribute.valueBegin = values_.size();
      if (!attributeValue()) return false;
      attribute.valueEnd = values_.size();
      attributes_.push_back(attribute);
    }
    // The DOM keeps attributes sorted by name, and the writer writes them in that order.
    std::sort(attributes_.begin(), attributes_.end(), [this](const Attribute& a, const Attribute& b) {
      return nameOf(a.nameBegin, a.nameLength) < nameOf(b.nameBegin, b.nameLength);
    });
    for (size_t k = 0; k < attributes_.size(); ++k) {
      const Attribute& attribute = attributes_[k];
      const std::string_view attributeName = nameOf(attribute.nameBegin, attribute.nameLength);
      if (k > 0 && nameOf(attributes_[k - 1].nameBegin, attributes_[k - 1].nameLength) == attributeName) {
        return false;  // a repeated attribute
      }
      if (!counted(attributeName)) return false;
      out.push_back(' ');
      out.append(attributeName);
      out.append("=\"");
      out.append(values_, attribute.valueBegin, attribute.valueEnd - attribute.valueBegin);
      out.push_back('"');
    }
    const bool empty = peek() == '/';
    if (empty) {
      if (!at("/>")) return false;
      ++pos_;
    }
    ++pos_;
    frame.startOpen = true;
    frame.isType = tag == kTypeName;
    frame.captureBegin = capture_.size();
    if (frame.isType) ++typesOpen_;
    frames_.push_back(frame);
    if (empty) endElement();
    return true;
  }

  // False once the record uses more different names than the parser accepts (kXmlMaxNames).
  bool counted(std::string_view name) {
    if (!countNames_) return true;
    names_.insert(name);
    return names_.size() <= static_cast<size_t>(kXmlMaxNames);
  }

  bool endTag() {
    pos_ += 2;
    size_t begin = 0;
    size_t length = 0;
    if (!name(begin, length)) return false;
    const Frame& frame = frames_.back();
    if (nameOf(begin, length) != nameOf(frame.nameBegin, frame.nameLength)) return false;
    skipSpace();
    if (!more() || peek() != '>') return false;
    ++pos_;
    endElement();
    return true;
  }

  // Writes the end of the innermost element and hands its search result to its parent, in the order
  // CXmlDocument::findNode searches: a direct child named ATTR_TYPE_ID, else the first child's hit.
  void endElement() {
    const Frame frame = frames_.back();
    frames_.pop_back();
    std::string& out = *out_;
    if (frame.startOpen) {
      out.append("/>");
    } else {
      out.append("</").append(nameOf(frame.nameBegin, frame.nameLength)).push_back('>');
    }
    if (frame.isType) --typesOpen_;
    const Hit hit = frame.direct.found ? frame.direct : frame.deep;
    if (frames_.empty()) {
      rootHit_ = hit;
      return;
    }
    Frame& parent = frames_.back();
    if (frame.isType && !parent.direct.found) parent.direct = Hit{frame.captureBegin, capture_.size(), true};
    if (hit.found && !parent.deep.found) parent.deep = hit;
  }

  // The character of a reference at pos_: the five predefined entities and character references.
  bool reference(uint32_t& c) {
    static constexpr struct {
      std::string_view text;
      char c;
    } kEntities[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}};
    for (const auto& entity : kEntities) {
      if (at(entity.text)) {
        pos_ += entity.text.size();
        c = static_cast<unsigned char>(entity.c);
        return true;
      }
    }
    if (!at("&#")) return false;
    pos_ += 2;
    const bool hex = more() && peek() == 'x';
    if (hex) ++pos_;
    c = 0;
    const size_t from = pos_;
    for (; more() && peek() != ';'; ++pos_) {
      const char d = peek();
      uint32_t digit = 0;
      if (d >= '0' && d <= '9') {
        digit = static_cast<uint32_t>(d - '0');
      } else if (hex && d >= 'a' && d <= 'f') {
        digit = static_cast<uint32_t>(d - 'a' + 10);
      } else if (hex && d >= 'A' && d <= 'F') {
        digit = static_cast<uint32_t>(d - 'A' + 10);
      } else {
        return false;
      }
      c = c * (hex ? 16 : 10) + digit;
      if (c > 0x10FFFF) return false;
    }
    if (!more() || pos_ == from) return false;
    ++pos_;
    return isXmlChar(c);
  }

  // As the writer escapes an attribute value: what a parser would otherwise normalise is a reference.
  bool attributeValue() {
    if (!more() || (peek() != '"' && peek() != '\'')) return false;
    const char quote = peek();
    ++pos_;
    std::string& out = values_;
    while (more()) {
      const char c = peek();
      if (c == quote) {
        ++pos_;
        return true;
      }
      if (c == '<') return false;
      if (c == '&') {
        uint32_t r = 0;
        if (!reference(r)) return false;
        appendEscaped(out, r, true);
        continue;
      }
      if (isSpace(c)) {
        out.push_back(' ');
      } else if (c == '"') {
        out.append("&quot;");
      } else {
        out.push_back(c);
      }
      ++pos_;
    }
    return false;
  }

  bool characters() {
    child();
    std::string& out = *out_;
    const bool capture = typesOpen_ > 0;
    while (more() && peek() != '<') {
      const char c = peek();
      if (c == '&') {
        uint32_t r = 0;
        if (!reference(r)) return false;
        appendEscaped(out, r, false);
        if (capture) appendUtf8(capture_, r);
        continue;
      }
      if (c == '>') {
        out.append("&gt;");
      } else {
        if (c == ']' && at("]]>")) return false;
        out.push_back(c);
      }
      if (capture) capture_.push_back(c);
      ++pos_;
    }
    return true;
  }

  // A comment at pos_; written when inside the root.
  bool comment() {
    pos_ += 4;
    const size_t end = text_.find("--", pos_);
    if (end == std::string::npos || end + 2 >= text_.size() || text_[end + 2] != '>') return false;
    if (!frames_.empty()) {
      child();
      out_->append("<!--").append(text_, pos_, end - pos_).append("-->");
    }
    pos_ = end + 3;
    return true;
  }

  bool cdata() {
    pos_ += 9;
    const size_t end = text_.find("]]>", pos_);
    if (end == std::string::npos) return false;
    child();
    out_->append("<![CDATA[").append(text_, pos_, end - pos_).append("]]>");
    if (typesOpen_ > 0) capture_.append(text_, pos_, end - pos_);
    pos_ = end + 3;
    return true;
  }

  std::string text_;
  std::string capture_;  // character data inside ATTR_TYPE_ID elements, in document order
  std::vector<Frame> frames_;
  std::vector<Attribute> attributes_;           // of the start tag being read
  std::string values_;                          // their values, written escaped
  std::unordered_set<std::string_view> names_;  // in text_, counted only where there may be too many
  size_t nameMarks_ = 0;                        // '<' and '=' in text_
  bool countNames_ = false;
  std::string* out_ = nullptr;
  size_t pos_ = 0;
  int32_t typesOpen_ = 0;
  Hit rootHit_;
};

RecordScanner& threadScanner() {
  thread_local RecordScanner scanner;
  return scanner;
}

}  // namespace

bool scanRecord(std::string_view utf8, std::string_view newRoot, std::string& out, std::string* typeId) {
  return threadScanner().run(utf8, newRoot, out, typeId);
}

bool buildOutgoing(std::string_view request, std::string_view inbound, std::string_view matched,
                   std::string& out, std::string& inboundType, std::string& matchedType) {
  static constexpr std::string_view kStart = "<ATTRS_TO_SCORE>";
  static constexpr std::string_view kEnd = "</ATTRS_TO_SCORE>";
  // Escapes may make the document longer than the records, but hardly ever do.
  out.reserve(kStart.size() + request.size() + inbound.size() + matched.size() + kEnd.size());
  out.assign(kStart);
  if (!scanRecord(request, "", out, nullptr) || !scanRecord(inbound, "ATTR1", out, &inboundType) ||
      !scanRecord(matched, "ATTR2", out, &matchedType)) {
    return false;
  }
  out.append(kEnd);
  return true;
}

}  // namespace hcs
