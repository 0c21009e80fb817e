#pragma once

#include <mutex>

#include "log/event_log.h"
#include "log/log_writer.h"
#include "util/fork_safety.h"

namespace hcs {

// Reports each log message as one event of the operating system's event log (the Windows event log;
// syslog elsewhere), under a source named after the process's module name, the setting "CME_MODULE".
//
// The event's single string is "[<level>] " followed by every line and a newline after each; its type
// is error for the levels "ERR" and "CRIT", warning for "WARN", information for anything else (names
// compared exactly); category 0, event id 1. The destination's parts are not used. Messages of the
// module "eventwriter" are never reported: that is where the writer logs its own failures.
//
// The source is registered by the first `write` that needs it, and again after `close` or after a failed
// registration. Never throws for event log failures; it logs them ("eventwriter", ERR) and drops the
// message. The destructor does not deregister: owners call `close` first.
//
// Thread-safety: `write` from any thread; the writer's lock covers only the registration, reports run
// concurrently.
class CEventWriter : public CLogWriter {
 public:
  // `eventLog` must outlive the writer.
  explicit CEventWriter(CEventLog& eventLog = platformEventLog());
  ~CEventWriter() override;

  void init(const CUri& destination) override;
  void write(const icu::UnicodeString& leading, const icu::UnicodeString& module,
             const icu::UnicodeString& levelName, const std::vector<icu::UnicodeString>& lines) override;
  void close() override;

 private:
  std::mutex lock_;
  ForkLock forkLock_{lock_, ForkLockRank::kLogWriter};
  CEventLog& eventLog_;
  CEventLog::Source source_ = nullptr;
};

class CEventWriterFactory : public CLogWriterFactory {
 public:
  constexpr CEventWriterFactory() = default;
  CLogWriter* create() override;
};

// The process-wide factory; usable before any static constructor of the library runs.
CEventWriterFactory& eventWriterFactory();

// The event type for a level name: kEventError, kEventWarning or kEventInformation.
uint16_t eventType(const icu::UnicodeString& levelName);

// Where the event writer reads the module name. The process settings live above the logging layer, so
// they hand their lookup down through this hook; until one is set the name is empty, as it is when the
// setting is absent. The function must be callable from any thread; setting the hook is thread-safe.
using ModuleNameLookup = bool (*)(icu::UnicodeString& name);
void setModuleNameLookup(ModuleNameLookup lookup);
icu::UnicodeString logModuleName();

}  // namespace hcs
