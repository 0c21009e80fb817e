#include "error/qrm_exception.h"

#include <algorithm>

#include <unicode/uchar.h>

#include "util/ucstring.h"

namespace hcs {

// ---- QRM_Message ----

QRM_Message::QRM_Message(const icu::UnicodeString& code, const icu::UnicodeString& templ,
                         const icu::UnicodeString& arg0)
    : QRM_Message(code, templ, std::vector<icu::UnicodeString>{arg0}) {}

QRM_Message::QRM_Message(const icu::UnicodeString& code, const icu::UnicodeString& templ,
                         const icu::UnicodeString& arg0, const icu::UnicodeString& arg1)
    : QRM_Message(code, templ, std::vector<icu::UnicodeString>{arg0, arg1}) {}

QRM_Message::QRM_Message(const icu::UnicodeString& code, const icu::UnicodeString& templ,
                         std::vector<icu::UnicodeString> args)
    : code_(code), template_(templ), arguments_(std::move(args)) {
  fill();
}

QRM_Message QRM_Message::text(const icu::UnicodeString& text) {
  static const icu::UnicodeString kCode(u"0000E");
  static const icu::UnicodeString kTemplate(u"{0}");
  return QRM_Message(kCode, kTemplate, text);
}

void QRM_Message::fill() {
  text_ = template_;
  // The length is read again on every step: each replacement changes it. After a replacement the
  // index skips the inserted text, so an argument is never scanned for placeholders itself.
  for (int32_t i = 0; i <= text_.length() - 3; ++i) {
    if (text_.charAt(i) != u'{' || text_.charAt(i + 2) != u'}') continue;
    const UChar digit = text_.charAt(i + 1);
    if (digit < u'0' || digit > u'9') continue;
    const size_t index = static_cast<size_t>(digit - u'0');
    if (index >= arguments_.size()) continue;
    const icu::UnicodeString& arg = arguments_[index];
    text_.replace(i, 3, arg);
    i += arg.length() - 1;
  }
}

// ---- QRM_Exception_Entry ----

QRM_Exception_Entry::QRM_Exception_Entry(std::string label, const QRM_Message& message, uint32_t number,
                                         int32_t severity)
    : label_(std::move(label)),
      text_(message.text()),
      narrowText_(toStdString(message.text())),
      number_(number),
      severity_(severity),
      message_(message) {}

QRM_Exception_Entry::~QRM_Exception_Entry() = default;

// ---- QRM_Exception ----

QRM_Exception::QRM_Exception() = default;

QRM_Exception::QRM_Exception(const std::string& label, const QRM_Message& message, uint32_t number,
                             int32_t severity)
    : severity_(severity) {
  addEntry(label, message, number, severity);
}

QRM_Exception::QRM_Exception(const std::string& label, const icu::UnicodeString& text, uint32_t number,
                             int32_t severity)
    : QRM_Exception(label, QRM_Message::text(text), number, severity) {}

QRM_Exception::QRM_Exception(const QRM_Exception& other) : std::exception(other) { *this = other; }

QRM_Exception& QRM_Exception::operator=(const QRM_Exception& other) {
  if (this == &other) return *this;
  clear();
  for (const auto& e : other.entries_) {
    if (e)
      entries_.push_back(
          std::make_unique<QRM_Exception_Entry>(e->label(), e->message(), e->number(), e->severity()));
  }
  severity_ = other.severity_;
  productCode_ = other.productCode_;
  module_ = other.module_;
  return *this;
}

QRM_Exception::~QRM_Exception() = default;

const char* QRM_Exception::what() const noexcept {
  return entries_.empty() ? "" : entries_.front()->narrowText().c_str();
}

void QRM_Exception::clear() {
  entries_.clear();
  severity_ = kSeverityCritical;
}

QRM_Exception& QRM_Exception::addEntry(const std::string& label, const QRM_Message& message, uint32_t number,
                                       int32_t severity) {
  entries_.push_back(std::make_unique<QRM_Exception_Entry>(label, message, number, severity));
  if (severity_ == kNoSeverity) severity_ = severity;
  severity_ = std::max(severity_, severity);
  return *this;
}

QRM_Exception& QRM_Exception::addText(const std::string& label, const icu::UnicodeString& text,
                                      uint32_t number, int32_t severity) {
  return addEntry(label, QRM_Message::text(text), number, severity);
}

// ---- QRMSQL_Exception ----

QRMSQL_Exception::QRMSQL_Exception() {
  setProductCode("SQL");
  setModule("sql");
}

QRMSQL_Exception::QRMSQL_Exception(const std::string& label, const icu::UnicodeString& text,
                                   uint32_t vendorCode, std::string statement, std::string category,
                                   uint32_t number, int32_t severity)
    : QRM_Exception(label, text, number, severity),
      vendorCode_(vendorCode),
      statement_(std::move(statement)),
      category_(std::move(category)) {
  setProductCode("SQL");
  setModule("sql");
}

QRMSQL_Exception::QRMSQL_Exception(const QRMSQL_Exception& other) : QRM_Exception(other) {
  vendorCode_ = other.vendorCode_;
  statement_ = other.statement_;
  category_ = other.category_;
}

QRMSQL_Exception& QRMSQL_Exception::operator=(const QRMSQL_Exception& other) {
  if (this == &other) return *this;
  QRM_Exception::operator=(other);
  vendorCode_ = other.vendorCode_;
  statement_ = other.statement_;
  category_ = other.category_;
  return *this;
}

QRMSQL_Exception::~QRMSQL_Exception() = default;

void QRMSQL_Exception::clear() {
  QRM_Exception::clear();
  statement_.clear();
  category_.clear();
  vendorCode_ = 0;
}

// ---- QRMLog_Exception ----

QRMLog_Exception::QRMLog_Exception(const QRM_Message& message)
    : QRM_Exception("", message, 1, kSeverityCritical) {
  setProductCode("LOG");
}

}  // namespace hcs
