#pragma once

#include <chrono>
#include <cstdint>

namespace hcs {

// The call loop's view of time and chance: when it is, waiting for a moment, and random bits. Real by
// default (the steady clock, a sleeping thread, the operating system's random source); a test puts a
// fake in its place so that every deadline, pause and draw is exact and nothing waits for real.
//
// The transport below the loop keeps the real clock: a post's deadline is moved onto it as what is left
// of the call's deadline by this one.
//
// Thread-safety: the real one may be used from any thread; a fake states its own.
class CallTime {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~CallTime() = default;
  virtual Clock::time_point now() = 0;
  virtual void sleepUntil(Clock::time_point until) = 0;
  virtual uint64_t draw() = 0;

  // The process's real time and chance.
  static CallTime& real();
};

}  // namespace hcs
