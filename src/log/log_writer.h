#pragma once

#include <cstdio>
#include <vector>

#include <unicode/unistr.h>

namespace hcs {

class CUri;

// The destination used when nothing else is configured: the console writer on standard output, one
// blank, and a filter that passes every level but tracing.
inline constexpr char kDefaultLogDestination[] = "console://stdout *.!DBUG";

// A log writer. Its life: made by its factory, `init` once with its destination, any number of
// `write` calls, `close`, destroyed. `close` releases the writer's target (file, event source); a later
// `write` opens it again where the writer supports that.
//
// `write` may be called from many threads at once; each writer says how it serialises. `init` and
// `close` must not run alongside `write`.
class CLogWriter {
 public:
  virtual ~CLogWriter();

  virtual void init(const CUri& destination) = 0;
  // One call per message with all its lines, in order. `leading` opens every printed line.
  virtual void write(const icu::UnicodeString& leading, const icu::UnicodeString& module,
                     const icu::UnicodeString& levelName, const std::vector<icu::UnicodeString>& lines) = 0;
  virtual void close() = 0;
};

// Makes writers of one kind. One instance of each kind lives for the whole life of the process.
class CLogWriterFactory {
 public:
  virtual ~CLogWriterFactory();
  // A new writer that the caller owns, or nullptr when memory is exhausted.
  virtual CLogWriter* create() = 0;
};

// Prints the lines of one message to `stream`: each as "<leading> [<module>] <level>: <line>\n", or just
// "<line>\n" when `bare`. All text goes out in the local code page. Returns false as soon as a print
// fails; the stream is not flushed.
bool printLogLines(std::FILE* stream, bool bare, const icu::UnicodeString& leading,
                   const icu::UnicodeString& module, const icu::UnicodeString& levelName,
                   const std::vector<icu::UnicodeString>& lines);

// Whether the destination asks for bare lines: its parameter "style" is exactly "bare".
bool bareStyle(const CUri& destination);

}  // namespace hcs
