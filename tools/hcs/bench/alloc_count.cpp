#include "bench/alloc_count.h"

#include <curl/curl.h>

namespace hcs::bench {
namespace {

// Constant-initialised, so touching it from inside malloc never runs code that could allocate.
constinit thread_local AllocationCount counts;
using InstallCurlMemory = bool (*)();
constinit InstallCurlMemory installCurl = nullptr;

}  // namespace

AllocationCount threadAllocations() { return counts; }

bool allocationsCounted() { return installCurl != nullptr; }

bool countCurlAllocations() {
  if (installCurl == nullptr || !installCurl()) return false;
  const uint64_t before = counts.curl;
  CURL* probe = curl_easy_init();
  const bool routed = probe != nullptr && counts.curl > before;
  curl_easy_cleanup(probe);
  return routed;
}

namespace detail {
void countOwn() noexcept { ++counts.own; }
void countCurl() noexcept { ++counts.curl; }
void registerCountingAllocator(bool (*installCurlMemory)()) { installCurl = installCurlMemory; }
}  // namespace detail

}  // namespace hcs::bench
