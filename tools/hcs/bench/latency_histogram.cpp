#include "bench/latency_histogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace hcs::bench {
namespace {

constexpr uint64_t kExact = uint64_t{1} << 7;

}  // namespace

LatencyHistogram::LatencyHistogram() : counts_(kExact + (kMaxExponent - kSubBits + 1) * kExact, 0) {}

size_t LatencyHistogram::bucketOf(uint64_t nanos) {
  if (nanos < kExact) return static_cast<size_t>(nanos);
  int exponent = std::bit_width(nanos) - 1;
  if (exponent > kMaxExponent) {
    exponent = kMaxExponent;
    nanos = (uint64_t{2} << kMaxExponent) - 1;
  }
  const uint64_t sub = (nanos >> (exponent - kSubBits)) - kExact;
  return static_cast<size_t>(kExact + static_cast<uint64_t>(exponent - kSubBits) * kExact + sub);
}

void LatencyHistogram::merge(const LatencyHistogram& other) {
  for (size_t i = 0; i < counts_.size(); ++i) counts_[i] += other.counts_[i];
  total_ += other.total_;
}

double LatencyHistogram::percentile(double p) const {
  if (total_ == 0) return 0;
  const auto rank = std::max<uint64_t>(1, static_cast<uint64_t>(std::ceil(p * static_cast<double>(total_))));
  uint64_t seen = 0;
  size_t bucket = 0;
  for (; bucket < counts_.size(); ++bucket) {
    seen += counts_[bucket];
    if (seen >= rank) break;
  }
  if (bucket < kExact) return static_cast<double>(bucket);
  const uint64_t index = bucket - kExact;
  const int shift = static_cast<int>(index / kExact);
  const uint64_t low = (kExact + index % kExact) << shift;
  return static_cast<double>(low) + static_cast<double>(uint64_t{1} << shift) / 2;
}

}  // namespace hcs::bench
