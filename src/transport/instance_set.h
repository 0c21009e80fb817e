#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "metrics/attempt_result.h"
#include "metrics/callout_metrics.h"

namespace hcs {

class CalloutTransport;

// The instances of one callout's service and which of them an attempt goes to. With one instance (a
// plain URI) every attempt goes to it and nothing is tracked. With several:
// - A call's first attempt goes to the first instance that is not ejected (failover), or, with
//   round robin, to the next one after where the previous call started; a retry goes to the next
//   instance after the one that failed, not to the same one.
// - An instance is ejected after `ejectAfter` failed attempts in a row (answers with a 4xx status are
//   no failure: the instance is up) and skipped for `ejectFor`, doubling each time a try after an
//   ejection fails again (at most ten times). When its time is up one attempt tries it again: success
//   brings it back, failure ejects it anew. When every instance is ejected, the one whose ejection ends
//   first is tried all the same: a call never fails without trying.
// - Each ejection and each return is logged once (a warning, a note) naming `subject` and the
//   instance, and shows in the instance's gauge.
//
// Thread-safety: every member may run on many threads at once; the state of each instance is a few
// atomics, and choosing one takes no lock.
class InstanceSet {
 public:
  using Clock = std::chrono::steady_clock;

  struct Options {
    bool roundRobin = false;
    uint32_t ejectAfter = 3;
    std::chrono::milliseconds ejectFor{5000};
  };

  // `subject` names the callout in the log ("ATTR_TYPE [NAME]"); `metrics` (may be null) gets an
  // Instance block per name.
  InstanceSet(const Options& options, std::string subject, CalloutMetrics* metrics);
  ~InstanceSet();

  // Adds the instance `name` ("host:port") and what posts to it.
  void add(std::string name, std::unique_ptr<CalloutTransport> transport);

  size_t size() const { return instances_.size(); }
  CalloutTransport& transport(size_t i) const;
  const std::string& name(size_t i) const;

  // The instance for the first attempt of a call made at `now`.
  size_t first(Clock::time_point now);
  // The instance for the attempt after one on `current`.
  size_t next(size_t current, Clock::time_point now);
  // How an attempt on instance `i` ended.
  void ended(size_t i, AttemptResult result, Clock::time_point now);

 private:
  struct Instance;

  // Whether instance `i` may take an attempt now; an ejected one whose time is up is taken as its one
  // try, which pushes its time on by one ejection so that no other attempt goes to it meanwhile.
  bool take(size_t i, Clock::time_point now);
  size_t soonestBack() const;
  void eject(Instance& instance, Clock::time_point now, bool again);

  const Options options_;
  const std::string subject_;
  CalloutMetrics* const metrics_;
  std::vector<std::unique_ptr<Instance>> instances_;
  std::atomic<uint32_t> rotation_{0};
};

}  // namespace hcs
