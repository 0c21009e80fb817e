#pragma once

#include <cstdint>

namespace hcs::bench {

// Heap allocations (malloc, calloc, realloc, the aligned forms, and operator new, which calls malloc)
// made so far by the calling thread: `curl` those libcurl made through the memory functions it was
// given at its global initialisation, `own` all others.
struct AllocationCount {
  uint64_t own = 0;
  uint64_t curl = 0;
};

AllocationCount threadAllocations();

// Whether this process counts allocations: only hcs links the counting allocator, and only in builds
// without a sanitizer (which brings an allocator of its own).
bool allocationsCounted();

// Routes libcurl's own allocations through counters apart from the others. Must come before anything
// in the process initialises libcurl (the plugin does, when it makes its first client); later,
// libcurl keeps the memory functions it has. Returns whether libcurl's allocations are now counted
// apart (checked by making and freeing an easy handle).
bool countCurlAllocations();

// For the counting allocator alone.
namespace detail {
void countOwn() noexcept;
void countCurl() noexcept;
// The allocator says it is there, and how to hand libcurl its counting memory functions.
void registerCountingAllocator(bool (*installCurlMemory)());
}  // namespace detail

}  // namespace hcs::bench
