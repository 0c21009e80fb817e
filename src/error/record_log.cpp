// How exception records write themselves to the log.
#include "error/qrm_exception.h"
#include "log/log_message.h"
#include "util/numbers.h"
#include "util/ucstring.h"

namespace hcs {

namespace {
std::string paddedNumber(uint32_t number) {
  std::string digits;
  zeroPad(digits, static_cast<int>(number), 5);
  // Numbers past INT_MAX would print negative through zeroPad; write them whole.
  if (number > 0x7fffffffu) digits = std::to_string(number);
  return digits;
}
}  // namespace

std::string QRM_Exception::entryTag(int32_t index) const {
  const QRM_Exception_Entry& e = entry(index);
  if (e.number() == 0) return {};
  std::string tag(1, '[');
  if (index == 0) tag.append(productCode_).append(1, '-');
  return tag.append(paddedNumber(e.number())).append(1, ']');
}

void QRM_Exception::writeHeading(CLogMessage& message, const icu::UnicodeString& prefix,
                                 const icu::UnicodeString& text) const {
  message.addLine(u"%s%S: %S", severityName(severity_), prefix, text);
}

void QRM_Exception::writeEntries(CLogMessage& message, bool showLabels) const {
  if (entries_.empty()) return;
  message.addLine(u"{");
  for (int32_t i = 0; i < entryCount(); ++i) {
    const QRM_Exception_Entry& e = entry(i);
    std::string label = showLabels ? e.label() + " " : std::string();
    std::string tag = entryTag(i);
    if (!tag.empty()) tag += ": ";
    message.addLine(u"  %s%s%S", label, tag, e.text());
  }
  message.addLine(u"}");
}

void QRM_Exception::log(int32_t level, bool showLabels, bool withEntries) const {
  if (logDispatcher() == nullptr) return;  // nothing would read it: skip building it
  CLogMessage message(module_, recordLogLevel(level));
  if (withEntries) {
    writeHeading(message, icu::UnicodeString(), icu::UnicodeString());
    writeEntries(message, showLabels);
  } else if (!entries_.empty()) {
    writeHeading(message, UCString(entryTag(0)), entry(0).text());
  }
  sendToLog(message);
}

void QRM_Exception::logEntries(int32_t level, bool showLabels) const {
  if (logDispatcher() == nullptr) return;
  CLogMessage message(module_, recordLogLevel(level));
  writeEntries(message, showLabels);
  sendToLog(message);
}

void QRM_Exception::logText(int32_t level, const std::string& prefix, const std::string& text) const {
  if (logDispatcher() == nullptr) return;
  CLogMessage message(module_, recordLogLevel(level));
  writeHeading(message, UCString(prefix), UCString(text));
  sendToLog(message);
}

void QRMSQL_Exception::log(int32_t level, bool showLabels, bool withEntries) const {
  if (logDispatcher() == nullptr) return;
  const uint32_t number = entryCount() > 0 ? entry(0).number() : 0;
  std::string tag;
  formatString(tag, "[%s-%s]", productCode(), paddedNumber(number));
  CLogMessage message("sql", recordLogLevel(level));
  writeHeading(message, UCString(tag), UCString(category_));
  if (!statement_.empty()) message.addLine(u"SQL Statement%s: %s", tag, statement_);
  if (withEntries) writeEntries(message, showLabels);
  sendToLog(message);
}

}  // namespace hcs
