#include "service/score_document.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "service/similarity.h"
#include "util/numbers.h"

namespace hcs::service {
namespace {

constexpr std::string_view kRoot = "ATTRS_TO_SCORE";
constexpr std::string_view kTypeId = "ATTR_TYPE_ID";
// Deeper nesting than this is no attribute record; refusing it bounds the work per request.
constexpr std::size_t kMaxDepth = 64;

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

class Reader {
 public:
  Reader(std::string_view doc, ScoreInput& out, std::string& error) : doc_(doc), out_(out), error_(error) {}

  bool read() {
    out_.attr1.clear();
    out_.attr2.clear();
    out_.typeId1.clear();
    out_.typeId2.clear();
    while (pos_ < doc_.size()) {
      const std::size_t lt = doc_.find('<', pos_);
      const std::string_view text =
          doc_.substr(pos_, lt == std::string_view::npos ? std::string_view::npos : lt - pos_);
      if (!characters(text, true)) return false;
      if (lt == std::string_view::npos) break;
      pos_ = lt;
      if (!markup()) return false;
    }
    if (!rootSeen_) return fail("no root element");
    if (!stack_.empty()) return fail("the document ends inside <" + std::string(stack_.back()) + ">");
    if (!seen1_) return fail("ATTR1 is missing");
    if (!seen2_) return fail("ATTR2 is missing");
    return true;
  }

 private:
  bool fail(std::string reason) {
    error_ = std::move(reason);
    return false;
  }

  bool markup() {
    const std::string_view rest = doc_.substr(pos_);
    if (rest.starts_with("<?")) return skipPast("?>", "an unterminated processing instruction");
    if (rest.starts_with("<!--")) return skipPast("-->", "an unterminated comment");
    if (rest.starts_with("<![CDATA[")) {
      if (stack_.empty()) return fail("CDATA outside the root element");
      const std::size_t end = doc_.find("]]>", pos_ + 9);
      if (end == std::string_view::npos) return fail("an unterminated CDATA section");
      if (!characters(doc_.substr(pos_ + 9, end - pos_ - 9), false)) return false;
      pos_ = end + 3;
      return true;
    }
    if (rest.starts_with("<!")) return fail("document type declarations are not accepted");
    if (rest.starts_with("</")) return endTag();
    return startTag();
  }

  bool skipPast(std::string_view terminator, const char* what) {
    const std::size_t end = doc_.find(terminator, pos_ + 2);
    if (end == std::string_view::npos) return fail(what);
    pos_ = end + terminator.size();
    return true;
  }

  std::string_view name(std::size_t& i) const {
    const std::size_t start = i;
    while (i < doc_.size() && !isXmlSpace(doc_[i]) && doc_[i] != '/' && doc_[i] != '>' && doc_[i] != '<' &&
           doc_[i] != '=' && doc_[i] != '"' && doc_[i] != '\'')
      ++i;
    return doc_.substr(start, i - start);
  }

  bool startTag() {
    std::size_t i = pos_ + 1;
    const std::string_view tag = name(i);
    if (tag.empty()) return fail("a '<' that starts no tag");
    // Attributes are skipped; quoted values may hold '>' and '/'.
    bool selfClosing = false;
    while (true) {
      if (i >= doc_.size()) return fail("an unterminated <" + std::string(tag) + "> tag");
      const char c = doc_[i];
      if (c == '>') break;
      if (c == '"' || c == '\'') {
        const std::size_t close = doc_.find(c, i + 1);
        if (close == std::string_view::npos) return fail("an unterminated attribute value");
        i = close + 1;
        selfClosing = false;
        continue;
      }
      if (c == '<') return fail("'<' inside the <" + std::string(tag) + "> tag");
      if (!isXmlSpace(c)) selfClosing = c == '/';
      ++i;
    }
    pos_ = i + 1;
    if (stack_.empty()) {
      if (rootSeen_) return fail("more than one root element");
      if (tag != kRoot) return fail("the root element is <" + std::string(tag) + ">, not <ATTRS_TO_SCORE>");
      rootSeen_ = true;
    } else if (stack_.size() == 1 && (tag == "ATTR1" || tag == "ATTR2")) {
      const int which = tag == "ATTR1" ? 1 : 2;
      if ((which == 1 ? seen1_ : seen2_)) return fail(std::string(tag) + " appears twice");
      (which == 1 ? seen1_ : seen2_) = true;
      current_ = which;
    } else if (current_ != 0 && typeDepth_ == 0 && tag == kTypeId) {
      typeDepth_ = stack_.size() + 1;
    }
    if (selfClosing) return closeElement();
    if (stack_.size() >= kMaxDepth) return fail("elements nested too deeply");
    stack_.push_back(tag);
    separate();
    return true;
  }

  bool endTag() {
    std::size_t i = pos_ + 2;
    const std::string_view tag = name(i);
    while (i < doc_.size() && isXmlSpace(doc_[i])) ++i;
    if (i >= doc_.size() || doc_[i] != '>') return fail("a malformed end tag");
    pos_ = i + 1;
    if (stack_.empty()) return fail("</" + std::string(tag) + "> closes nothing");
    if (stack_.back() != tag) {
      return fail("</" + std::string(tag) + "> closes <" + std::string(stack_.back()) + ">");
    }
    stack_.pop_back();
    return closeElement();
  }

  // Bookkeeping once an element (at depth stack_.size() + 1) has ended.
  bool closeElement() {
    const std::size_t depth = stack_.size() + 1;
    if (typeDepth_ == depth) typeDepth_ = 0;
    if (depth == 2) current_ = 0;
    separate();
    return true;
  }

  std::u32string& text(int which) { return which == 1 ? out_.attr1 : out_.attr2; }

  // Keeps the text of neighbouring elements apart; the blank is written only if more text follows.
  void separate() {
    if (current_ != 0 && typeDepth_ == 0) pendingBlank_ = !text(current_).empty();
  }

  // Appends a case-folded code point, collapsing white space into one pending blank.
  void put(char32_t c) {
    if (u_isUWhiteSpace(static_cast<UChar32>(c))) {
      separate();
      return;
    }
    std::u32string& out = text(current_);
    if (pendingBlank_) out.push_back(U' ');
    pendingBlank_ = false;
    out.push_back(static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT)));
  }

  // Character data between markup; `references` is false inside CDATA.
  bool characters(std::string_view chars, bool references) {
    if (chars.empty()) return true;
    if (stack_.empty()) {
      for (char c : chars) {
        if (!isXmlSpace(c))
          return fail(rootSeen_ ? "text after the root element" : "text before the root element");
      }
      return true;
    }
    const bool keep = current_ != 0 && typeDepth_ == 0;
    if (current_ != 0 && typeDepth_ != 0) (current_ == 1 ? out_.typeId1 : out_.typeId2).append(chars);
    for (std::size_t i = 0; i < chars.size();) {
      char32_t c;
      if (references && chars[i] == '&') {
        if (!reference(chars, i, c)) return false;
      } else {
        UChar32 code;
        U8_NEXT(chars.data(), i, chars.size(), code);
        if (code < 0) return fail("the document is not UTF-8");
        c = static_cast<char32_t>(code);
      }
      // Text outside ATTR1 and ATTR2 is checked but not kept.
      if (keep) put(c);
    }
    return true;
  }

  bool reference(std::string_view text, std::size_t& i, char32_t& c) {
    const std::size_t semicolon = text.find(';', i);
    if (semicolon == std::string_view::npos || semicolon - i > 10)
      return fail("a malformed character reference");
    const std::string_view body = text.substr(i + 1, semicolon - i - 1);
    i = semicolon + 1;
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [entity, character] : kNamed) {
      if (body == entity) {
        c = static_cast<unsigned char>(character);
        return true;
      }
    }
    if (body.size() > 1 && body[0] == '#') {
      const bool hex = body[1] == 'x';
      const std::string_view digits = body.substr(hex ? 2 : 1);
      // Whichever fault comes first names it: digits past U+10FFFF before a character that is no digit.
      const std::size_t run =
          std::min(digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789"), digits.size());
      const StrictNumber value =
          readStrict(digits.substr(0, run), {.high = 0x10FFFF, .radix = hex ? 16 : 10});
      if (value.refusal == Refusal::kOutOfRange) return fail("a character reference out of range");
      if (!value || run < digits.size()) return fail("a malformed character reference");
      if (value.value == 0 || (value.value >= 0xD800 && value.value <= 0xDFFF))
        return fail("a character reference out of range");
      c = static_cast<char32_t>(value.value);
    } else {
      return fail("an unknown entity &" + std::string(body) + ";");
    }
    return true;
  }

  std::string_view doc_;
  ScoreInput& out_;
  std::string& error_;
  std::size_t pos_ = 0;
  std::vector<std::string_view> stack_;
  bool rootSeen_ = false;
  bool seen1_ = false;
  bool seen2_ = false;
  int current_ = 0;            // 1 or 2 while inside ATTR1 or ATTR2
  std::size_t typeDepth_ = 0;  // depth of the ATTR_TYPE_ID element being skipped, 0 when none
  bool pendingBlank_ = false;
};

}  // namespace

bool readScoreDocument(std::string_view document, ScoreInput& out, std::string& error) {
  return Reader(document, out, error).read();
}

std::string scoreReply(double score) {
  char number[32];
  std::snprintf(number, sizeof number, "%.4f", score);
  return std::string("<SCORE_RESULT><SCORE>") + number + "</SCORE></SCORE_RESULT>";
}

std::string xmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string errorReply(std::string_view reason) {
  return "<SCORE_RESULT><ERROR>" + xmlEscape(reason) + "</ERROR></SCORE_RESULT>";
}

ServiceAnswer answerScoreRequest(std::string_view document) {
  // One set of buffers per serving thread: no allocation once they have grown to the usual size.
  thread_local ScoreInput input;
  thread_local std::string error;
  if (!readScoreDocument(document, input, error)) return {400, errorReply(error)};
  return {200, scoreReply(jaroWinkler(input.attr1, input.attr2))};
}

}  // namespace hcs::service
