#include "util/record_scanner.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include <unicode/utf8.h>

#include "util/kept_buffer.h"
#include "util/record_text.h"
#include "util/xml_document.h"
#include "util/xml_escape.h"

namespace hcs {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Names are ASCII here: markup outside ASCII is never handled (see prepareRecordText), and these are the
// ASCII name characters of XML 1.0.
bool isNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':'; }
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-'; }

void appendUtf8(std::string& out, UChar32 c) {
  char bytes[U8_MAX_LENGTH];
  size_t length = 0;
  U8_APPEND_UNSAFE(bytes, length, c);  // c is a character XML allows: never a surrogate
  out.append(bytes, length);
}

// A character as the writer writes it.
void appendEscaped(std::string& out, UChar32 c, bool inAttribute) {
  const std::string_view escape = xmlEscape(static_cast<char32_t>(c), inAttribute);
  if (escape.empty()) {
    appendUtf8(out, c);
  } else {
    out.append(escape);
  }
}

// Bytes that end a run of character data copied as it is: markup, a reference, what the writer
// escapes, and the ']' that may begin a "]]>" the parser refuses.
bool endsTextRun(char c) { return c == '<' || c == '&' || c == '>' || c == ']'; }

// The same in an attribute value: the closing quote, a '<' the parser refuses, a reference, the white
// space the parser normalises to blanks and a '"' the writer escapes.
bool endsValueRun(char c, char quote) {
  return c == quote || c == '<' || c == '&' || c == '"' || c == '\t' || c == '\n';
}

// The found text of the element the rules name: a range of the captured character data.
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

// An open element.
struct Frame {
  Frame(size_t nameBegin, size_t nameLength, size_t captureBegin, bool isValue)
      : nameBegin(nameBegin), nameLength(nameLength), captureBegin(captureBegin), isValue(isValue) {}
  size_t nameBegin;  // in the prepared text
  size_t nameLength;
  size_t captureBegin;
  Hit direct;             // the first child with the name the rules give
  Hit deep;               // what the search below the first child that has a hit found
  bool startOpen = true;  // start tag written without its '>': written as <A/> if nothing follows
  bool isValue;           // named as the rules give
};

class RecordScanner {
 public:
  bool run(std::string_view utf8, const RecordRules& rules, std::string& out, std::string* value) {
    const size_t mark = out.size();
    out_ = &out;
    valueName_ = rules.valueName;
    const bool handled =
        prepareRecordText(utf8, rules.renameFrom, rules.renameTo, text_, nameMarks_) && document();
    if (handled && value != nullptr) {
      value->assign(std::string_view(capture_).substr(rootHit_.begin, rootHit_.end - rootHit_.begin));
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

  bool at(std::string_view s) const { return follows(text_, pos_, s); }
  bool more() const { return pos_ < text_.size(); }
  char peek() const { return text_[pos_]; }
  // Moves past `s` when it follows.
  bool skip(std::string_view s) {
    if (!at(s)) return false;
    pos_ += s.size();
    return true;
  }

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
    if (!skip("=")) return false;
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
    if (!skipSpace() || !skip("version") || !equals() || !quoted(value) || value != "1.0") return false;
    bool space = skipSpace();
    if (space && skip("encoding")) {
      if (!equals() || !quoted(value) || value.size() != 5) return false;
      for (size_t k = 0; k < 3; ++k) {
        if ((value[k] & ~0x20) != "UTF"[k]) return false;
      }
      if (value.substr(3) != "-8") return false;
      space = skipSpace();
    }
    if (space && skip("standalone")) {
      if (!equals() || !quoted(value) || (value != "yes" && value != "no")) return false;
      skipSpace();
    }
    return skip("?>");
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
    valuesOpen_ = 0;
    rootHit_ = Hit{};
    if (at("<?xml") && !declaration()) return false;
    if (!misc() || !more() || peek() != '<') return false;
    if (!startTag()) return false;
    while (!frames_.empty()) {
      if (!more() || !content()) return false;
    }
    return misc() && !more();
  }

  // What follows at pos_ inside the root.
  bool content() {
    if (peek() != '<') return characters();
    const char next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
    if (next == '/') return endTag();
    if (next == '!' && at("<!--")) return comment();
    if (next == '!' && at("<![CDATA[")) return cdata();
    return startTag();
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
    size_t nameBegin = 0;
    size_t nameLength = 0;
    if (!name(nameBegin, nameLength)) return false;  // also <!DOCTYPE, <? and the like
    if (frames_.size() >= static_cast<size_t>(kXmlMaxDepth)) return false;
    child();
    const std::string_view tag = nameOf(nameBegin, nameLength);
    if (!counted(tag)) return false;
    out_->append("<").append(tag);
    if (!attributes()) return false;
    const bool empty = skip("/>");
    if (!empty && !skip(">")) return false;
    const bool isValue = !valueName_.empty() && tag == valueName_;
    if (isValue) ++valuesOpen_;
    // Made in place: copying in a frame whose fields were just written stalls on the stores.
    frames_.emplace_back(nameBegin, nameLength, capture_.size(), isValue);
    if (empty) endElement();
    return true;
  }

  // The attributes of a start tag, written as the writer writes them: sorted by name, as the DOM keeps
  // them.
  bool attributes() {
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
    std::sort(attributes_.begin(), attributes_.end(), [this](const Attribute& a, const Attribute& b) {
      return nameOf(a.nameBegin, a.nameLength) < nameOf(b.nameBegin, b.nameLength);
    });
    std::string& out = *out_;
    for (size_t k = 0; k < attributes_.size(); ++k) {
      const Attribute& attribute = attributes_[k];
      const std::string_view attributeName = nameOf(attribute.nameBegin, attribute.nameLength);
      if (k > 0 && nameOf(attributes_[k - 1].nameBegin, attributes_[k - 1].nameLength) == attributeName) {
        return false;  // a repeated attribute
      }
      if (!counted(attributeName)) return false;
      out.append(" ").append(attributeName).append("=\"");
      out.append(values_, attribute.valueBegin, attribute.valueEnd - attribute.valueBegin).push_back('"');
    }
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
    if (!skip(">")) return false;
    endElement();
    return true;
  }

  // Writes the end of the innermost element and hands its search result to its parent, in the order
  // CXmlDocument::findNode searches: a direct child with the name, else the first child's hit.
  void endElement() {
    const Frame& frame = frames_.back();
    std::string& out = *out_;
    if (frame.startOpen) {
      out.append("/>");
    } else {
      out.append("</").append(nameOf(frame.nameBegin, frame.nameLength)).push_back('>');
    }
    if (frame.isValue) --valuesOpen_;
    const Hit hit = frame.direct.found ? frame.direct : frame.deep;
    if (frames_.size() == 1) {
      rootHit_ = hit;
    } else {
      Frame& parent = frames_[frames_.size() - 2];
      if (frame.isValue && !parent.direct.found)
        parent.direct = Hit{frame.captureBegin, capture_.size(), true};
      if (hit.found && !parent.deep.found) parent.deep = hit;
    }
    frames_.pop_back();
  }

  // The character of a reference at pos_: the five predefined entities and character references.
  bool reference(UChar32& c) {
    static constexpr struct {
      std::string_view text;
      char c;
    } kEntities[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}};
    for (const auto& entity : kEntities) {
      if (skip(entity.text)) {
        c = entity.c;
        return true;
      }
    }
    if (!skip("&#")) return false;
    const bool hex = skip("x");
    c = 0;
    const size_t from = pos_;
    for (; more() && peek() != ';'; ++pos_) {
      const char d = peek();
      const char lower = static_cast<char>(d | 0x20);
      const bool letter = hex && lower >= 'a' && lower <= 'f';
      if (!letter && (d < '0' || d > '9')) return false;
      c = c * (hex ? 16 : 10) + (letter ? lower - 'a' + 10 : d - '0');
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
    while (more()) {
      const size_t run = pos_;
      while (more() && !endsValueRun(peek(), quote)) ++pos_;
      values_.append(text_, run, pos_ - run);
      if (!more()) return false;
      UChar32 c = static_cast<unsigned char>(peek());
      if (c == quote) {
        ++pos_;
        return true;
      }
      if (c == '<') return false;
      if (c == '&') {
        if (!reference(c)) return false;
      } else {
        ++pos_;
        if (c != '"') c = ' ';  // white space, which the parser normalises
      }
      appendEscaped(values_, c, true);
    }
    return false;
  }

  bool characters() {
    child();
    std::string& out = *out_;
    const bool capture = valuesOpen_ > 0;
    while (more() && peek() != '<') {
      const size_t run = pos_;
      while (more() && !endsTextRun(peek())) ++pos_;
      out.append(text_, run, pos_ - run);
      if (capture) capture_.append(text_, run, pos_ - run);
      if (!more() || peek() == '<') break;
      UChar32 c = static_cast<unsigned char>(peek());
      if (c == '&') {
        if (!reference(c)) return false;
      } else {
        if (c == ']' && at("]]>")) return false;
        ++pos_;
      }
      appendEscaped(out, c, false);
      if (capture) appendUtf8(capture_, c);
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
    if (valuesOpen_ > 0) capture_.append(text_, pos_, end - pos_);
    pos_ = end + 3;
    return true;
  }

  std::string text_;
  std::string capture_;  // character data inside elements the rules name, in document order
  std::vector<Frame> frames_;
  std::vector<Attribute> attributes_;           // of the start tag being read
  std::string values_;                          // their values, written escaped
  std::unordered_set<std::string_view> names_;  // in text_, counted only where there may be too many
  size_t nameMarks_ = 0;                        // '<' and '=' in text_
  bool countNames_ = false;
  std::string* out_ = nullptr;
  std::string_view valueName_;
  size_t pos_ = 0;
  int32_t valuesOpen_ = 0;
  Hit rootHit_;
};

RecordScanner& threadScanner() {
  thread_local RecordScanner scanner;
  return scanner;
}

}  // namespace

bool scanRecord(std::string_view utf8, const RecordRules& rules, std::string& out, std::string* value) {
  return threadScanner().run(utf8, rules, out, value);
}

}  // namespace hcs
