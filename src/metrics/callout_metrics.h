#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "metrics/attempt_result.h"
#include "util/fork_safety.h"

namespace hcs {

// How one score call ended; exactly one per call. When several apply, the one whose error text the
// call hands back wins, except that a call whose attempts all failed stays kExhausted.
enum class CallOutcome : uint8_t {
  kOk,            // the reply was handed back, result 0
  kServiceError,  // the service answered, but with "<ERROR>" in its reply or a status not retried
  kTransport,     // an attempt failed in the exchange (result -1 even when a later one got through),
                  // or a transport failure was not retried
  kExhausted,     // every attempt failed
  kEmpty,         // the reply was empty
  kTooLarge,      // the reply was longer than the host's buffer
  kMismatch,      // the two records name different attribute types
  kUnconfigured,  // no callout for the attribute type
  kBadInput,      // a document could not be read or carried; nothing was sent
  kDeadline,      // the call's deadline ended it
  kCircuitOpen,   // the circuit was open; nothing was sent
  kCount
};

// The label value as written in the metrics file ("ok", "service_error", …).
std::string_view outcomeName(CallOutcome outcome);

// The counters of one attribute type. Every count is a relaxed atomic: counting takes no lock and never
// waits, from any number of threads; a reader sees each counter exact, the set of them a moment apart.
class CalloutMetrics {
 public:
  // Upper bounds of the duration histogram, in seconds (and +Inf after the last).
  static constexpr std::array<double, 18> kBuckets = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005,
                                                      0.01,   0.025,   0.05,   0.1,   0.25,   0.5,
                                                      1,      2.5,     5,      10,    30,     60};

  // The counters of one instance of the type's service ("host:port"): its attempts and whether it is
  // ejected. Made once per name and kept as long as the block.
  struct Instance {
    explicit Instance(std::string instanceName) : name(std::move(instanceName)) {}
    const std::string name;
    std::array<std::atomic<uint64_t>, static_cast<size_t>(AttemptResult::kCount)> attempts{};
    std::atomic<int> ejected{0};
  };

  // `guard` is the lock of the registry that will hold the block (nullptr: a block of its own).
  CalloutMetrics(int32_t typeId, std::string typeName, std::mutex* guard = nullptr);
  CalloutMetrics(const CalloutMetrics&) = delete;
  CalloutMetrics& operator=(const CalloutMetrics&) = delete;

  void countCall(CallOutcome outcome, std::chrono::nanoseconds duration);
  // An attempt, on `instance` (may be null).
  void countAttempt(AttemptResult result, Instance* instance = nullptr) {
    attempts_[static_cast<size_t>(result)].fetch_add(1, std::memory_order_relaxed);
    if (instance != nullptr)
      instance->attempts[static_cast<size_t>(result)].fetch_add(1, std::memory_order_relaxed);
  }
  // The counters of the instance `name`, made on first request. Takes the block's lock: call it when a
  // callout is built, not per call.
  Instance* instance(std::string_view name);
  void setCircuitOpen(bool open) { circuitOpen_.store(open ? 1 : 0, std::memory_order_relaxed); }

  // Connections to the service, as the interface's pool changes them: `idle` kept open in the pool,
  // `busy` lent to a call. Deltas, so several pools may count into one block.
  void addConnections(int64_t idle, int64_t busy) {
    if (idle != 0) idleConnections_.fetch_add(idle, std::memory_order_relaxed);
    if (busy != 0) busyConnections_.fetch_add(busy, std::memory_order_relaxed);
  }

  int32_t typeId() const { return typeId_; }
  uint64_t calls(CallOutcome outcome) const {
    return calls_[static_cast<size_t>(outcome)].load(std::memory_order_relaxed);
  }
  uint64_t attempts(AttemptResult result) const {
    return attempts_[static_cast<size_t>(result)].load(std::memory_order_relaxed);
  }

  // Appends this type's series to the five metric families of the text exposition format. They read
  // the name, which a registry holding the block changes under its lock: only the registry calls them.
  void appendCallSeries(std::string& out) const;
  void appendAttemptSeries(std::string& out) const;
  void appendDurationSeries(std::string& out) const;
  void appendConnectionSeries(std::string& out) const;
  void appendCircuitSeries(std::string& out) const;
  void appendEjectedSeries(std::string& out) const;

 private:
  friend class MetricsRegistry;
  std::string labels() const;

  const int32_t typeId_;
  std::string typeName_;  // guarded by the lock of the registry that holds the block
  std::array<std::atomic<uint64_t>, static_cast<size_t>(CallOutcome::kCount)> calls_{};
  std::array<std::atomic<uint64_t>, static_cast<size_t>(AttemptResult::kCount)> attempts_{};
  std::array<std::atomic<uint64_t>, kBuckets.size() + 1> buckets_{};  // not cumulative; last is +Inf
  std::atomic<uint64_t> durationNanos_{0};
  std::atomic<int> circuitOpen_{0};
  std::atomic<int64_t> idleConnections_{0};
  std::atomic<int64_t> busyConnections_{0};
  std::mutex ownGuard_;
  std::mutex* const guard_;                           // the registry's lock, or ownGuard_
  std::vector<std::unique_ptr<Instance>> instances_;  // guarded by *guard_
};

// The counters of every attribute type, by type identifier. Blocks are made on first request and live
// as long as the registry, so the pointers it hands out may be kept and counted into without a lock.
// `forType`, `forUnconfiguredType` and `exposition` lock; call them from initialisation, rare paths and
// the writer only.
class MetricsRegistry {
 public:
  // At most this many identifiers that calls bring without a callout get blocks of their own; further
  // ones count into one block of type id -1 (type "other"), so hosts sending arbitrary identifiers
  // cannot grow the file unbounded. Configured types are not capped: there are as many as initPlugin
  // calls.
  static constexpr size_t kMaxTypes = 256;

  // The block of a configured type (initPlugin), named `typeName` from now on: the same block whatever
  // name it had before and whether calls made it first.
  CalloutMetrics* forType(int32_t typeId, std::string_view typeName);
  // The block of an identifier a call brought without a callout: the type's block when it has one, else
  // a new one with an empty name, or the "other" block past the cap.
  CalloutMetrics* forUnconfiguredType(int32_t typeId);
  // Every series, in the Prometheus text exposition format (version 0.0.4): types in identifier order,
  // then the "other" block. Numbers are written the same whatever the process's locale.
  std::string exposition() const;

 private:
  mutable std::mutex mutex_;
  ForkLock forkLock_{mutex_, ForkLockRank::kMetricsRegistry};
  struct Entry {
    std::unique_ptr<CalloutMetrics> block;
    bool configured = false;
  };
  std::map<int32_t, Entry> types_;
  size_t unconfigured_ = 0;  // entries of types_ no initPlugin has named
  std::unique_ptr<CalloutMetrics> other_;
};

// The process-wide registry when metrics are on, else nullptr (the default: nothing counts). Installing
// returns the one it replaces; the caller keeps ownership and must keep it alive while anything may
// still count into its blocks.
MetricsRegistry* setActiveMetrics(MetricsRegistry* registry);
MetricsRegistry* activeMetrics();

}  // namespace hcs
