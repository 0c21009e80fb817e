#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <unicode/unistr.h>

#include "error/severity.h"

namespace hcs {

class CLogMessage;

// A message: a five-character code ("9107E"), a template with placeholders "{0}".."{9}", its arguments
// and the filled text. Filling replaces "{d}" by argument d when it exists; inserted text is never
// scanned again and a placeholder without an argument stays as it is.
class QRM_Message {
 public:
  QRM_Message() = default;
  QRM_Message(const icu::UnicodeString& code, const icu::UnicodeString& templ,
              const icu::UnicodeString& arg0);
  QRM_Message(const icu::UnicodeString& code, const icu::UnicodeString& templ, const icu::UnicodeString& arg0,
              const icu::UnicodeString& arg1);
  QRM_Message(const icu::UnicodeString& code, const icu::UnicodeString& templ,
              std::vector<icu::UnicodeString> args);

  // A ready-made text: code "0000E", template "{0}".
  static QRM_Message text(const icu::UnicodeString& text);

  const icu::UnicodeString& code() const { return code_; }
  const icu::UnicodeString& templ() const { return template_; }
  const icu::UnicodeString& text() const { return text_; }
  const std::vector<icu::UnicodeString>& arguments() const { return arguments_; }

 private:
  void fill();

  icu::UnicodeString code_;
  icu::UnicodeString template_;
  icu::UnicodeString text_;
  std::vector<icu::UnicodeString> arguments_;
};

// One numbered message of a record. Number 0 means the entry has no number (and no tag in the log).
class QRM_Exception_Entry {
 public:
  QRM_Exception_Entry(std::string label, const QRM_Message& message, uint32_t number, int32_t severity);
  virtual ~QRM_Exception_Entry();

  const std::string& label() const { return label_; }
  const icu::UnicodeString& text() const { return text_; }
  // The text in the local code page; what QRM_Exception::what() returns.
  const std::string& narrowText() const { return narrowText_; }
  uint32_t number() const { return number_; }
  int32_t severity() const { return severity_; }
  const QRM_Message& message() const { return message_; }

 private:
  std::string label_;
  icu::UnicodeString text_;
  std::string narrowText_;
  uint32_t number_;
  int32_t severity_;
  QRM_Message message_;
};

// The exception record every failure travels as: thrown by value, caught by reference. It owns its
// entries; copies are deep. Its severity is the highest of its entries' (an entry of -1 changes nothing).
// Not synchronised: a record belongs to one thread at a time.
class QRM_Exception : public std::exception {
 public:
  // No entries, product code "UVO", severity 4, module "".
  QRM_Exception();
  QRM_Exception(const std::string& label, const QRM_Message& message, uint32_t number, int32_t severity);
  // A text record: the message "0000E" / "{0}" with the text as argument 0.
  QRM_Exception(const std::string& label, const icu::UnicodeString& text, uint32_t number, int32_t severity);
  QRM_Exception(const QRM_Exception& other);
  QRM_Exception& operator=(const QRM_Exception& other);
  QRM_Exception(QRM_Exception&& other) noexcept = default;
  QRM_Exception& operator=(QRM_Exception&& other) noexcept = default;
  ~QRM_Exception() override;

  // The first entry's narrow text; "" without entries.
  const char* what() const noexcept override;

  // Destroys every entry and resets severity to 4. Product code and module stay.
  virtual void clear();

  // Writes the record to the log (the heading and, with `withEntries`, the entries block) as one
  // message of the record's module at recordLogLevel(level) (`level` is a severity value).
  virtual void log(int32_t level, bool showLabels, bool withEntries) const;
  // One message holding only the entries block.
  virtual void logEntries(int32_t level, bool showLabels) const;
  // One message holding one heading line made of `prefix` and `text`.
  virtual void logText(int32_t level, const std::string& prefix, const std::string& text) const;
  // Appends "{", one line per entry and "}" to `message`; nothing for a record without entries.
  virtual void writeEntries(CLogMessage& message, bool showLabels) const;
  // Appends the line "<severity name><prefix>: <text>".
  virtual void writeHeading(CLogMessage& message, const icu::UnicodeString& prefix,
                            const icu::UnicodeString& text) const;

  QRM_Exception& addEntry(const std::string& label, const QRM_Message& message, uint32_t number,
                          int32_t severity);
  QRM_Exception& addText(const std::string& label, const icu::UnicodeString& text, uint32_t number,
                         int32_t severity);

  int32_t entryCount() const { return static_cast<int32_t>(entries_.size()); }
  const QRM_Exception_Entry& entry(int32_t index) const { return *entries_.at(static_cast<size_t>(index)); }
  int32_t severity() const { return severity_; }
  void setSeverity(int32_t severity) { severity_ = severity; }
  const std::string& productCode() const { return productCode_; }
  void setProductCode(std::string code) { productCode_ = std::move(code); }
  const std::string& module() const { return module_; }
  void setModule(std::string module) { module_ = std::move(module); }

  // "[UVO-00003]" for the first entry, "[00003]" for later ones, "" for entries numbered 0.
  std::string entryTag(int32_t index) const;

 private:
  std::string productCode_ = "UVO";
  int32_t severity_ = kSeverityCritical;
  std::string module_;
  std::vector<std::unique_ptr<QRM_Exception_Entry>> entries_;
};

// A database failure: adds the vendor's error number (999999 when the failure did not come from the
// database), the failing SQL text and the error category. Product code "SQL", module "sql".
class QRMSQL_Exception : public QRM_Exception {
 public:
  QRMSQL_Exception();
  QRMSQL_Exception(const std::string& label, const icu::UnicodeString& text, uint32_t vendorCode,
                   std::string statement, std::string category, uint32_t number, int32_t severity);
  QRMSQL_Exception(const QRMSQL_Exception& other);
  QRMSQL_Exception& operator=(const QRMSQL_Exception& other);
  ~QRMSQL_Exception() override;

  void clear() override;
  // Heading "<severity>[SQL-nnnnn]: <category>", the statement line when there is one, and with
  // `withEntries` the entries block.
  void log(int32_t level, bool showLabels, bool withEntries) const override;

  uint32_t vendorCode() const { return vendorCode_; }
  const std::string& statement() const { return statement_; }
  const std::string& category() const { return category_; }

 private:
  uint32_t vendorCode_ = 0;
  std::string statement_;
  std::string category_;
};

// Thrown by the file log writer; product code "LOG".
class QRMLog_Exception : public QRM_Exception {
 public:
  explicit QRMLog_Exception(const QRM_Message& message);
};

}  // namespace hcs
