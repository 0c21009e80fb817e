#include "log/event_writer.h"

#include <atomic>
#include <new>
#include <string>

#include "log/log_message.h"
#include "util/ucstring.h"

namespace hcs {

namespace {
constinit CEventWriterFactory gEventWriterFactory;
constinit std::atomic<ModuleNameLookup> gModuleNameLookup{nullptr};

constexpr uint16_t kEventCategory = 0;
constexpr uint32_t kEventId = 1;
}  // namespace

CEventLog::~CEventLog() = default;

void setModuleNameLookup(ModuleNameLookup lookup) {
  gModuleNameLookup.store(lookup, std::memory_order_release);
}

icu::UnicodeString logModuleName() {
  icu::UnicodeString name;
  if (ModuleNameLookup lookup = gModuleNameLookup.load(std::memory_order_acquire)) {
    if (!lookup(name)) name.remove();
  }
  return name;
}

uint16_t eventType(const icu::UnicodeString& levelName) {
  if (levelName == u"ERR" || levelName == u"CRIT") return kEventError;
  if (levelName == u"WARN") return kEventWarning;
  return kEventInformation;
}

CEventWriter::CEventWriter(CEventLog& eventLog) : eventLog_(eventLog) {}

CEventWriter::~CEventWriter() = default;

void CEventWriter::init(const CUri&) {}

void CEventWriter::write(const icu::UnicodeString&, const icu::UnicodeString& module,
                         const icu::UnicodeString& levelName, const std::vector<icu::UnicodeString>& lines) {
  // Our own failure reports go to the other writers only.
  if (module == u"eventwriter") return;
  CEventLog::Source source;
  {
    std::lock_guard lock(lock_);
    if (source_ == nullptr) {
      const icu::UnicodeString name = logModuleName();
      uint32_t error = 0;
      source_ = eventLog_.registerSource(toStdString(name), error);
      if (source_ == nullptr) {
        logLine("eventwriter", kLogError, u"Failed RegisterEventSource [%S]: 0x%04x", name, error);
        return;
      }
    }
    source = source_;
  }
  icu::UnicodeString text;
  formatUnicode(text, u"[%S] ", levelName);
  for (const auto& line : lines) text.append(line).append(u'\n');
  uint32_t error = 0;
  if (!eventLog_.report(source, eventType(levelName), kEventCategory, kEventId, toStdString(text), error)) {
    logLine("eventwriter", kLogError, u"Failed ReportEvent: 0x%04x", error);
  }
}

void CEventWriter::close() {
  std::lock_guard lock(lock_);
  if (source_ != nullptr) {
    eventLog_.deregisterSource(source_);
    source_ = nullptr;
  }
}

CLogWriter* CEventWriterFactory::create() { return new (std::nothrow) CEventWriter(); }

CEventWriterFactory& eventWriterFactory() { return gEventWriterFactory; }

}  // namespace hcs
