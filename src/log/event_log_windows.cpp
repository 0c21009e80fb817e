#ifdef _WIN32

#include "log/event_log.h"

#include <windows.h>

namespace hcs {

namespace {

class CWindowsEventLog : public CEventLog {
 public:
  constexpr CWindowsEventLog() = default;

  Source registerSource(const std::string& name, uint32_t& error) override {
    HANDLE handle = ::RegisterEventSourceA(nullptr, name.c_str());
    error = handle == nullptr ? ::GetLastError() : 0;
    return handle;
  }

  bool report(Source source, uint16_t type, uint16_t category, uint32_t eventId, const std::string& text,
              uint32_t& error) override {
    const char* strings[] = {text.c_str()};
    if (::ReportEventA(static_cast<HANDLE>(source), type, category, eventId, nullptr, 1, 0, strings,
                       nullptr)) {
      error = 0;
      return true;
    }
    error = ::GetLastError();
    return false;
  }

  void deregisterSource(Source source) override { ::DeregisterEventSource(static_cast<HANDLE>(source)); }
};

constinit CWindowsEventLog gWindowsEventLog;

}  // namespace

CEventLog& platformEventLog() { return gWindowsEventLog; }

}  // namespace hcs

#endif  // _WIN32
