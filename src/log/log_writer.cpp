#include "log/log_writer.h"

#include <string>

#include "util/format.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {

CLogWriter::~CLogWriter() = default;

CLogWriterFactory::~CLogWriterFactory() = default;

bool printLogLines(std::FILE* stream, bool bare, const icu::UnicodeString& leading,
                   const icu::UnicodeString& module, const icu::UnicodeString& levelName,
                   const std::vector<icu::UnicodeString>& lines) {
  if (lines.empty()) return true;
  // The prefix is the same for every line of the message; convert it once.
  std::string prefix;
  if (!bare) formatString(prefix, "%S [%S] %S: ", leading, module, levelName);
  std::string text;
  for (const auto& line : lines) {
    text = toStdString(line);
    if (!prefix.empty() && std::fputs(prefix.c_str(), stream) < 0) return false;
    if (std::fwrite(text.data(), 1, text.size(), stream) != text.size()) return false;
    if (std::fputc('\n', stream) == EOF) return false;
  }
  return true;
}

bool bareStyle(const CUri& destination) {
  icu::UnicodeString style;
  return destination.findParam(u"style", style) && style == u"bare";
}

}  // namespace hcs
