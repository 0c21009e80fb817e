#include "metrics/callout_metrics.h"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace hcs {

namespace {

constexpr std::string_view kOutcomeNames[] = {"ok",        "service_error", "transport",   "exhausted",
                                              "empty",     "too_large",     "mismatch",    "unconfigured",
                                              "bad_input", "deadline",      "circuit_open"};
static_assert(std::size(kOutcomeNames) == static_cast<size_t>(CallOutcome::kCount));

std::atomic<MetricsRegistry*> active{nullptr};

// A label value: backslash, double quote and line feed escaped, as the text format wants.
void appendLabelValue(std::string& out, std::string_view value) {
  for (const char c : value) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
}

// std::to_chars, not printf: a host that set a decimal-comma locale must still get "0.0025", the only
// form Prometheus reads.
template <class Number, class... Format>
void appendChars(std::string& out, Number value, Format... format) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value, format...);
  if (error == std::errc()) out.append(text, end);
}

void appendNumber(std::string& out, uint64_t value) { appendChars(out, value); }
void appendNumber(std::string& out, int64_t value) { appendChars(out, value); }
// As "%.9g" in the C locale.
void appendNumber(std::string& out, double value) { appendChars(out, value, std::chars_format::general, 9); }

}  // namespace

std::string_view outcomeName(CallOutcome outcome) { return kOutcomeNames[static_cast<size_t>(outcome)]; }

CalloutMetrics::CalloutMetrics(int32_t typeId, std::string typeName, std::mutex* guard)
    : typeId_(typeId), typeName_(std::move(typeName)), guard_(guard != nullptr ? guard : &ownGuard_) {}

void CalloutMetrics::countCall(CallOutcome outcome, std::chrono::nanoseconds duration) {
  // The bounds in whole nanoseconds, so finding the bucket is a few integer compares.
  static constexpr auto kBucketNanos = [] {
    std::array<int64_t, kBuckets.size()> nanos{};
    for (size_t i = 0; i < kBuckets.size(); ++i) nanos[i] = static_cast<int64_t>(kBuckets[i] * 1e9 + 0.5);
    return nanos;
  }();
  const int64_t nanos = std::max<int64_t>(duration.count(), 0);
  const auto bucket = static_cast<size_t>(std::lower_bound(kBucketNanos.begin(), kBucketNanos.end(), nanos) -
                                          kBucketNanos.begin());
  calls_[static_cast<size_t>(outcome)].fetch_add(1, std::memory_order_relaxed);
  buckets_[bucket].fetch_add(1, std::memory_order_relaxed);
  durationNanos_.fetch_add(static_cast<uint64_t>(nanos), std::memory_order_relaxed);
}

std::string CalloutMetrics::labels() const {
  std::string out = "type_id=\"";
  appendNumber(out, static_cast<int64_t>(typeId_));
  out += "\",type=\"";
  appendLabelValue(out, typeName_);
  return out + "\"";
}

void CalloutMetrics::appendCallSeries(std::string& out) const {
  const std::string common = labels();
  for (size_t i = 0; i < calls_.size(); ++i) {
    out.append("hcs_score_calls_total{").append(common).append(",outcome=\"").append(kOutcomeNames[i]);
    out += "\"} ";
    appendNumber(out, calls_[i].load(std::memory_order_relaxed));
    out += '\n';
  }
}

CalloutMetrics::Instance* CalloutMetrics::instance(std::string_view name) {
  std::lock_guard lock(*guard_);
  for (const auto& instance : instances_) {
    if (instance->name == name) return instance.get();
  }
  return instances_.emplace_back(std::make_unique<Instance>(std::string(name))).get();
}

void CalloutMetrics::appendAttemptSeries(std::string& out) const {
  const std::string common = labels();
  for (const auto& instance : instances_) {
    for (size_t i = 0; i < instance->attempts.size(); ++i) {
      out.append("hcs_attempts_total{").append(common).append(",instance=\"");
      appendLabelValue(out, instance->name);
      out.append("\",result=\"").append(attemptResultName(static_cast<AttemptResult>(i))).append("\"} ");
      appendNumber(out, instance->attempts[i].load(std::memory_order_relaxed));
      out += '\n';
    }
  }
}

void CalloutMetrics::appendEjectedSeries(std::string& out) const {
  const std::string common = labels();
  for (const auto& instance : instances_) {
    out.append("hcs_instance_ejected{").append(common).append(",instance=\"");
    appendLabelValue(out, instance->name);
    out.append(instance->ejected.load(std::memory_order_relaxed) != 0 ? "\"} 1\n" : "\"} 0\n");
  }
}

void CalloutMetrics::appendDurationSeries(std::string& out) const {
  const std::string common = labels();
  uint64_t cumulative = 0;
  for (size_t i = 0; i < buckets_.size(); ++i) {
    cumulative += buckets_[i].load(std::memory_order_relaxed);
    out.append("hcs_score_duration_seconds_bucket{").append(common).append(",le=\"");
    if (i < kBuckets.size()) {
      appendNumber(out, kBuckets[i]);
    } else {
      out += "+Inf";
    }
    out += "\"} ";
    appendNumber(out, cumulative);
    out += '\n';
  }
  // The count is the +Inf bucket, so the two always agree even while calls are being counted.
  out.append("hcs_score_duration_seconds_sum{").append(common).append("} ");
  appendNumber(out, static_cast<double>(durationNanos_.load(std::memory_order_relaxed)) / 1e9);
  out.append("\nhcs_score_duration_seconds_count{").append(common).append("} ");
  appendNumber(out, cumulative);
  out += '\n';
}

void CalloutMetrics::appendConnectionSeries(std::string& out) const {
  const std::string common = labels();
  const auto gauge = [&](const char* state, int64_t value) {
    out.append("hcs_connections{").append(common).append(",state=\"").append(state).append("\"} ");
    appendNumber(out, std::max<int64_t>(value, 0));
    out += '\n';
  };
  gauge("idle", idleConnections_.load(std::memory_order_relaxed));
  gauge("busy", busyConnections_.load(std::memory_order_relaxed));
}

void CalloutMetrics::appendCircuitSeries(std::string& out) const {
  out.append("hcs_circuit_open{").append(labels()).append("} ");
  out.append(circuitOpen_.load(std::memory_order_relaxed) != 0 ? "1\n" : "0\n");
}

CalloutMetrics* MetricsRegistry::forType(int32_t typeId, std::string_view typeName) {
  std::lock_guard lock(mutex_);
  Entry& entry = types_[typeId];
  if (!entry.block) {
    entry.block = std::make_unique<CalloutMetrics>(typeId, std::string(typeName), &mutex_);
  } else {
    // The block may already be kept and counted into: only the name changes, under the lock the
    // writer reads it with.
    entry.block->typeName_ = typeName;
    if (!entry.configured) --unconfigured_;
  }
  entry.configured = true;
  return entry.block.get();
}

CalloutMetrics* MetricsRegistry::forUnconfiguredType(int32_t typeId) {
  std::lock_guard lock(mutex_);
  const auto it = types_.find(typeId);
  if (it != types_.end()) return it->second.block.get();
  if (unconfigured_ >= kMaxTypes) {
    if (!other_) other_ = std::make_unique<CalloutMetrics>(-1, "other", &mutex_);
    return other_.get();
  }
  ++unconfigured_;
  Entry& entry = types_[typeId];
  entry.block = std::make_unique<CalloutMetrics>(typeId, "", &mutex_);
  return entry.block.get();
}

std::string MetricsRegistry::exposition() const {
  struct Family {
    const char* name;
    const char* type;
    const char* help;
    void (CalloutMetrics::*append)(std::string&) const;
  };
  static constexpr Family kFamilies[] = {
      {"hcs_score_calls_total", "counter", "Score calls by how they ended.",
       &CalloutMetrics::appendCallSeries},
      {"hcs_attempts_total", "counter", "HTTP attempts of score calls by how they ended.",
       &CalloutMetrics::appendAttemptSeries},
      {"hcs_score_duration_seconds", "histogram", "Duration of score calls, documents and attempts included.",
       &CalloutMetrics::appendDurationSeries},
      {"hcs_connections", "gauge",
       "Connections to the scoring service: idle in the pool or busy with a call.",
       &CalloutMetrics::appendConnectionSeries},
      {"hcs_circuit_open", "gauge", "1 while the circuit breaker keeps calls from the scoring service.",
       &CalloutMetrics::appendCircuitSeries},
      {"hcs_instance_ejected", "gauge",
       "1 while an instance of the scoring service is skipped after failing.",
       &CalloutMetrics::appendEjectedSeries},
  };
  std::string out;
  std::lock_guard lock(mutex_);
  for (const Family& family : kFamilies) {
    out.append("# HELP ").append(family.name).append(" ").append(family.help).append("\n");
    out.append("# TYPE ").append(family.name).append(" ").append(family.type).append("\n");
    for (const auto& [id, entry] : types_) (entry.block.get()->*family.append)(out);
    if (other_) (other_.get()->*family.append)(out);
  }
  return out;
}

MetricsRegistry* setActiveMetrics(MetricsRegistry* registry) { return active.exchange(registry); }
MetricsRegistry* activeMetrics() { return active.load(std::memory_order_acquire); }

}  // namespace hcs
