#include "util/fork_safety.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "util/fork_platform.h"

namespace hcs {

namespace {

struct Entry {
  void* mutex;
  void (*lock)(void*);
  void (*unlock)(void*);
  ForkLockRank rank;
};

std::atomic<uint64_t> generation{0};

// Never destroyed: a fork may come while the process exits, after static destructors ran.
struct Locks {
  std::mutex mutex;
  std::vector<Entry> entries;  // in rank order, each rank in the order of registration
};
Locks& locks() {
  static Locks* all = new Locks;
  return *all;
}

void releaseAll() {
  Locks& all = locks();
  for (auto it = all.entries.rbegin(); it != all.entries.rend(); ++it) it->unlock(it->mutex);
  all.mutex.unlock();
}

void beforeFork() {
  Locks& all = locks();
  all.mutex.lock();
  for (const Entry& entry : all.entries) entry.lock(entry.mutex);
}

void afterForkInParent() { releaseAll(); }

void afterForkInChild() {
  generation.fetch_add(1, std::memory_order_relaxed);
  releaseAll();
}

void installOnce() {
  static std::once_flag once;
  std::call_once(once, [] { installForkHandlers(&beforeFork, &afterForkInParent, &afterForkInChild); });
}

}  // namespace

uint64_t forkGeneration() { return generation.load(std::memory_order_relaxed); }

ForkLock::ForkLock(void* mutex, void (*lock)(void*), void (*unlock)(void*), ForkLockRank rank)
    : mutex_(mutex) {
  installOnce();
  Locks& all = locks();
  std::lock_guard guard(all.mutex);
  const auto after = std::upper_bound(all.entries.begin(), all.entries.end(), rank,
                                      [](ForkLockRank r, const Entry& e) { return r < e.rank; });
  all.entries.insert(after, Entry{mutex, lock, unlock, rank});
}

ForkLock::~ForkLock() {
  Locks& all = locks();
  std::lock_guard guard(all.mutex);
  std::erase_if(all.entries, [this](const Entry& e) { return e.mutex == mutex_; });
}

void detachInheritedSocket(int fd) {
  if (fd >= 0) detachSocketDescriptor(fd);
}

}  // namespace hcs
