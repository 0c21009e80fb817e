#ifndef _WIN32

#include "log/event_log.h"

#include <mutex>
#include <set>

#include <syslog.h>

namespace hcs {

namespace {

class CSyslogEventLog : public CEventLog {
 public:
  constexpr CSyslogEventLog() = default;

  Source registerSource(const std::string& name, uint32_t& error) override {
    std::lock_guard lock(mutex_);
    if (idents_ == nullptr) idents_ = new std::set<std::string>();
    // openlog keeps the pointer, so each ident must stay alive as long as the process; there is one
    // per distinct module name, in practice one.
    const std::string& ident = *idents_->insert(name).first;
    ::openlog(ident.empty() ? nullptr : ident.c_str(), LOG_PID, LOG_USER);
    error = 0;
    return const_cast<std::string*>(&ident);
  }

  bool report(Source, uint16_t type, uint16_t, uint32_t, const std::string& text, uint32_t& error) override {
    int priority = LOG_INFO;
    if (type == kEventError) {
      priority = LOG_ERR;
    } else if (type == kEventWarning) {
      priority = LOG_WARNING;
    }
    ::syslog(priority, "%s", text.c_str());
    error = 0;
    return true;
  }

  void deregisterSource(Source) override { ::closelog(); }

 private:
  std::mutex mutex_;
  // Never freed: syslog may read an ident until the process ends.
  std::set<std::string>* idents_ = nullptr;
};

constinit CSyslogEventLog gSyslogEventLog;

}  // namespace

CEventLog& platformEventLog() { return gSyslogEventLog; }

}  // namespace hcs

#endif  // !_WIN32
