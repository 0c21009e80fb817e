#pragma once

#include <cstdio>

#include "log/log_writer.h"

namespace hcs {

// Prints log lines on standard output or standard error.
//
// Destination: host "stdout" (exactly) selects standard output, any other host (empty too) standard
// error; parameter "style=bare" prints the lines alone, without leading field, module and level. A
// '?' straight after the host is part of the host, so parameters come after a '/':
// console://stdout/?style=bare.
//
// Thread-safety: every console writer of the process shares one lock, held for a whole `write`, so the
// lines of one message are never interleaved with another message's. Never throws from `write`; print
// failures are ignored (there is nowhere left to report them). `close` does nothing: the standard
// streams belong to the process.
class CConsoleWriter : public CLogWriter {
 public:
  CConsoleWriter() = default;

  void init(const CUri& destination) override;
  void write(const icu::UnicodeString& leading, const icu::UnicodeString& module,
             const icu::UnicodeString& levelName, const std::vector<icu::UnicodeString>& lines) override;
  void close() override;

  // For tests: print to `stream` (not owned) instead of the stream `init` chose.
  void setStream(std::FILE* stream) { stream_ = stream; }
  std::FILE* stream() const { return stream_; }
  bool bare() const { return bare_; }

 private:
  std::FILE* stream_ = stderr;
  bool bare_ = false;
};

class CConsoleWriterFactory : public CLogWriterFactory {
 public:
  constexpr CConsoleWriterFactory() = default;
  CLogWriter* create() override;
};

// The process-wide factory; usable before any static constructor of the library runs.
CConsoleWriterFactory& consoleWriterFactory();

}  // namespace hcs
