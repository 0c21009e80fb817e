#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "log/log_message.h"

namespace hcs::test {

// A log dispatcher that keeps every message as UTF-8 lines; installs itself for its lifetime and puts
// back whatever was installed before.
class CapturingDispatcher : public CLogDispatcher {
 public:
  struct Entry {
    std::string module;
    uint32_t level;
    std::vector<std::string> lines;
  };

  CapturingDispatcher();
  ~CapturingDispatcher() override;

  void dispatch(const CLogMessage& message) override;
  std::vector<Entry> entries() const;
  // Every line of every message, in order.
  std::vector<std::string> allLines() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  CLogDispatcher* previous_;
};

}  // namespace hcs::test
