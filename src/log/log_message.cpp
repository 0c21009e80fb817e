#include "log/log_message.h"

#include <atomic>

namespace hcs {

namespace {
std::atomic<CLogDispatcher*> gDispatcher{nullptr};
}  // namespace

CLogMessage::CLogMessage(std::string_view module, uint32_t level)
    : level_(level),
      module_(
          icu::UnicodeString::fromUTF8(icu::StringPiece(module.data(), static_cast<int32_t>(module.size())))),
      stamp_(Clock::now()) {}

CLogMessage::CLogMessage(uint32_t level) : CLogMessage(std::string_view(), level) {}

CLogDispatcher::~CLogDispatcher() = default;

CLogDispatcher* setLogDispatcher(CLogDispatcher* dispatcher) {
  return gDispatcher.exchange(dispatcher, std::memory_order_acq_rel);
}

CLogDispatcher* logDispatcher() { return gDispatcher.load(std::memory_order_acquire); }

void sendToLog(const CLogMessage& message) {
  if (CLogDispatcher* dispatcher = logDispatcher()) dispatcher->dispatch(message);
}

}  // namespace hcs
