#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>
#include <vector>

#include <unicode/unistr.h>

#include "log/log_level.h"
#include "util/format.h"

namespace hcs {

// One log message: a module ("" when none; "sql", "filewriter", "eventwriter"), a level, the time it
// was made and one or more lines.
class CLogMessage {
 public:
  using Clock = std::chrono::system_clock;

  CLogMessage(std::string_view module, uint32_t level);
  explicit CLogMessage(uint32_t level);

  // Formats one line: %S takes a UnicodeString, %s 8-bit text, the rest as in C. Throws the "0000E"
  // record when an argument does not fit its conversion.
  template <class... Args>
  CLogMessage& addLine(std::u16string_view format, const Args&... args) {
    icu::UnicodeString line;
    formatUnicode(line, format, args...);
    lines_.push_back(std::move(line));
    return *this;
  }
  CLogMessage& addText(const icu::UnicodeString& line) {
    lines_.push_back(line);
    return *this;
  }

  const std::vector<icu::UnicodeString>& lines() const { return lines_; }
  uint32_t level() const { return level_; }
  const icu::UnicodeString& module() const { return module_; }
  Clock::time_point stamp() const { return stamp_; }

 private:
  std::vector<icu::UnicodeString> lines_;
  uint32_t level_;
  icu::UnicodeString module_;
  Clock::time_point stamp_;
};

// Receives every log message once installed. Called from any thread at any time, concurrently.
class CLogDispatcher {
 public:
  virtual ~CLogDispatcher();
  virtual void dispatch(const CLogMessage& message) = 0;
};

// The process-wide dispatcher: empty at load, and while it is empty every log call returns at once.
// Installing returns the one it replaces; the caller keeps ownership, and a dispatcher must outlive
// every log call that might still see it.
CLogDispatcher* setLogDispatcher(CLogDispatcher* dispatcher);
CLogDispatcher* logDispatcher();

// Hands the message to the dispatcher, if one is installed.
void sendToLog(const CLogMessage& message);

// Builds, formats and dispatches a one-line message; without a dispatcher it formats nothing.
template <class... Args>
void logLine(std::string_view module, uint32_t level, std::u16string_view format, const Args&... args) {
  CLogDispatcher* dispatcher = logDispatcher();
  if (dispatcher == nullptr) return;
  CLogMessage message(module, level);
  message.addLine(format, args...);
  dispatcher->dispatch(message);
}

template <class... Args>
void logLine(uint32_t level, std::u16string_view format, const Args&... args) {
  logLine(std::string_view(), level, format, args...);
}

}  // namespace hcs
