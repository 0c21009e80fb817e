#include "log/console_writer.h"

#include <mutex>
#include <new>

#include "util/fork_safety.h"
#include "util/uri.h"

namespace hcs {

namespace {
// Constant-initialised, so both exist before any code of the library runs and outlive every writer.
constinit std::mutex gConsoleLock;
// A host that forks while another thread writes a line would leave its child a console it can never
// write to again.
const ForkLock gConsoleForkLock{gConsoleLock, ForkLockRank::kLogWriter};
constinit CConsoleWriterFactory gConsoleWriterFactory;
}  // namespace

void CConsoleWriter::init(const CUri& destination) {
  bare_ = false;
  stream_ = destination.host == u"stdout" ? stdout : stderr;
  bare_ = bareStyle(destination);
}

void CConsoleWriter::write(const icu::UnicodeString& leading, const icu::UnicodeString& module,
                           const icu::UnicodeString& levelName,
                           const std::vector<icu::UnicodeString>& lines) {
  std::lock_guard lock(gConsoleLock);
  printLogLines(stream_, bare_, leading, module, levelName, lines);
  std::fflush(stream_);
}

void CConsoleWriter::close() {}

CLogWriter* CConsoleWriterFactory::create() { return new (std::nothrow) CConsoleWriter(); }

CConsoleWriterFactory& consoleWriterFactory() { return gConsoleWriterFactory; }

}  // namespace hcs
