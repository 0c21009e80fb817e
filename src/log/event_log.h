#pragma once

#include <cstdint>
#include <string>

namespace hcs {

// Event types, as the Windows event log numbers them.
enum : uint16_t {
  kEventError = 1,
  kEventWarning = 2,
  kEventInformation = 4,
};

// The operating system's event log: the Windows event log, syslog(3) elsewhere. Behind an interface so
// that a test can see exactly what would be reported and make any call fail.
//
// Implementations must allow `report` from many threads at once; `registerSource` and
// `deregisterSource` are called under the writer's lock.
class CEventLog {
 public:
  using Source = void*;

  virtual ~CEventLog();
  // An event source on the local computer named `name` (8-bit text, possibly empty), or nullptr with
  // `error` set to the system's error code.
  virtual Source registerSource(const std::string& name, uint32_t& error) = 0;
  // Reports one event carrying one string. False with `error` set when the system refused it.
  virtual bool report(Source source, uint16_t type, uint16_t category, uint32_t eventId,
                      const std::string& text, uint32_t& error) = 0;
  virtual void deregisterSource(Source source) = 0;
};

// The operating system's event log; lives for the whole process.
//
// On POSIX systems it is syslog(3): registering opens the process's syslog connection with the source
// name as ident (the program name when the name is empty), facility LOG_USER, and the pid in every
// entry; the event type gives the priority (error LOG_ERR, warning LOG_WARNING, anything else
// LOG_INFO); category and event id have no place in syslog. Deregistering closes it. Neither call fails.
CEventLog& platformEventLog();

}  // namespace hcs
