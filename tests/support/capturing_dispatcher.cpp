#include "support/capturing_dispatcher.h"

#include "util/ucstring.h"

namespace hcs::test {

CapturingDispatcher::CapturingDispatcher() : previous_(setLogDispatcher(this)) {}

CapturingDispatcher::~CapturingDispatcher() { setLogDispatcher(previous_); }

void CapturingDispatcher::dispatch(const CLogMessage& message) {
  Entry e{toStdString(message.module()), message.level(), {}};
  for (const auto& line : message.lines()) e.lines.push_back(toStdString(line));
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(e));
}

std::vector<CapturingDispatcher::Entry> CapturingDispatcher::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

std::vector<std::string> CapturingDispatcher::allLines() const {
  std::vector<std::string> out;
  for (const auto& e : entries()) out.insert(out.end(), e.lines.begin(), e.lines.end());
  return out;
}

}  // namespace hcs::test
