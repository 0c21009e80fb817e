#include "transport/instance_set.h"

#include <algorithm>

#include "log/log_message.h"
#include "transport/http_interface.h"

namespace hcs {

struct InstanceSet::Instance {
  std::string name;
  std::unique_ptr<CalloutTransport> transport;
  CalloutMetrics::Instance* counters = nullptr;
  std::atomic<uint32_t> failures{0};   // failed attempts in a row
  std::atomic<uint32_t> ejections{0};  // ejections in a row, for the doubling
  std::atomic<Clock::rep> backAt{0};   // while ejected, when it may be tried again; 0: not ejected
};

InstanceSet::InstanceSet(const Options& options, std::string subject, CalloutMetrics* metrics)
    : options_(options), subject_(std::move(subject)), metrics_(metrics) {}

InstanceSet::~InstanceSet() = default;

void InstanceSet::add(std::string name, std::unique_ptr<CalloutTransport> transport) {
  auto instance = std::make_unique<Instance>();
  instance->counters = metrics_ != nullptr ? metrics_->instance(name) : nullptr;
  instance->name = std::move(name);
  instance->transport = std::move(transport);
  instances_.push_back(std::move(instance));
}

CalloutTransport& InstanceSet::transport(size_t i) const { return *instances_[i]->transport; }
const std::string& InstanceSet::name(size_t i) const { return instances_[i]->name; }

bool InstanceSet::take(size_t i, Clock::time_point now) {
  Instance& instance = *instances_[i];
  Clock::rep backAt = instance.backAt.load(std::memory_order_acquire);
  if (backAt == 0) return true;
  if (now.time_since_epoch().count() < backAt) return false;
  const auto hold = options_.ejectFor * (1u << std::min<uint32_t>(instance.ejections.load(), 10));
  return instance.backAt.compare_exchange_strong(backAt, (now + hold).time_since_epoch().count(),
                                                 std::memory_order_acq_rel);
}

size_t InstanceSet::soonestBack() const {
  size_t soonest = 0;
  for (size_t i = 1; i < instances_.size(); ++i) {
    if (instances_[i]->backAt.load(std::memory_order_relaxed) <
        instances_[soonest]->backAt.load(std::memory_order_relaxed)) {
      soonest = i;
    }
  }
  return soonest;
}

size_t InstanceSet::first(Clock::time_point now) {
  const size_t n = instances_.size();
  if (n == 1) return 0;
  const size_t start = options_.roundRobin ? rotation_.fetch_add(1, std::memory_order_relaxed) % n : 0;
  for (size_t k = 0; k < n; ++k) {
    if (take((start + k) % n, now)) return (start + k) % n;
  }
  return soonestBack();
}

size_t InstanceSet::next(size_t current, Clock::time_point now) {
  const size_t n = instances_.size();
  if (n == 1) return 0;
  for (size_t k = 1; k < n; ++k) {
    if (take((current + k) % n, now)) return (current + k) % n;
  }
  return soonestBack();
}

void InstanceSet::eject(Instance& instance, Clock::time_point now, bool again) {
  const uint32_t ejections = again ? instance.ejections.fetch_add(1) + 1 : 0;
  if (!again) instance.ejections.store(0);
  const auto hold = options_.ejectFor * (1u << std::min<uint32_t>(ejections, 10));
  const Clock::rep before = instance.backAt.exchange((now + hold).time_since_epoch().count());
  if (before != 0) return;  // it was ejected already: no news
  if (instance.counters != nullptr) instance.counters->ejected.store(1, std::memory_order_relaxed);
  logLine(kLogWarning,
          u"HTTP Callout instance %s of %s ejected after %u failed attempts: skipped for %lld ms",
          instance.name, subject_, options_.ejectAfter, static_cast<long long>(hold.count()));
}

void InstanceSet::ended(size_t i, AttemptResult result, Clock::time_point now) {
  Instance& instance = *instances_[i];
  if (metrics_ != nullptr) metrics_->countAttempt(result, instance.counters);
  if (instances_.size() == 1) return;
  const bool failed = result != AttemptResult::kOk && result != AttemptResult::k4xx;
  if (!failed) {
    if (instance.failures.load(std::memory_order_relaxed) != 0) instance.failures.store(0);
    if (instance.backAt.load(std::memory_order_acquire) != 0 && instance.backAt.exchange(0) != 0) {
      instance.ejections.store(0);
      if (instance.counters != nullptr) instance.counters->ejected.store(0, std::memory_order_relaxed);
      logLine(kLogNote, u"HTTP Callout instance %s of %s is back", instance.name, subject_);
    }
    return;
  }
  if (instance.backAt.load(std::memory_order_acquire) != 0) {
    eject(instance, now, true);  // its try after an ejection failed: out for twice as long
  } else if (instance.failures.fetch_add(1) + 1 >= options_.ejectAfter) {
    instance.failures.store(0);
    eject(instance, now, false);
  }
}

}  // namespace hcs
