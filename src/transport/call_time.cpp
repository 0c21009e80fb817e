#include "transport/call_time.h"

#include <thread>

#include "util/random_source.h"

namespace hcs {

namespace {

class RealCallTime final : public CallTime {
 public:
  Clock::time_point now() override { return Clock::now(); }
  void sleepUntil(Clock::time_point until) override { std::this_thread::sleep_until(until); }
  uint64_t draw() override { return randomNumber(); }
};

}  // namespace

CallTime& CallTime::real() {
  static RealCallTime time;
  return time;
}

}  // namespace hcs
