#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "util/fork_safety.h"

namespace hcs {

class Callout;

// The callouts by attribute type identifier, one per type. Owns its callouts; an entry, once in, is never
// replaced or removed while the library is loaded, so a pointer handed out by find stays valid until
// unload.
//
// Thread-safety: lookups take no lock (they read an immutable table published with one atomic store)
// and may run from many threads alongside an insert; inserts take a lock among themselves. Each insert
// publishes a new table and keeps the old ones, which a lookup may still be reading, until unload: with
// one table per attribute type configured, that is a few kilobytes.
class CalloutRegistry {
 public:
  CalloutRegistry();
  ~CalloutRegistry();
  CalloutRegistry(const CalloutRegistry&) = delete;
  CalloutRegistry& operator=(const CalloutRegistry&) = delete;

  // Files `callout` under `key` unless the key is taken; the first registration wins. Returns whether
  // it was filed (when not, the callout is destroyed, after the registry's lock is let go).
  bool insert(int32_t key, std::unique_ptr<Callout> callout);
  // The callout filed under `key`, or nullptr.
  Callout* find(int32_t key) const;

 private:
  struct Entry {
    int32_t key;
    Callout* callout;
  };
  using Table = std::vector<Entry>;  // sorted by key

  std::mutex mutex_;  // inserts
  ForkLock forkLock_{mutex_, ForkLockRank::kCalloutRegistry};
  std::map<int32_t, std::unique_ptr<Callout>> callouts_;
  std::vector<std::unique_ptr<const Table>> tables_;  // every table published
  std::atomic<const Table*> current_{nullptr};
};

// The process-wide registry: empty at load, destroyed (with its callouts) at unload.
CalloutRegistry& calloutRegistry();

}  // namespace hcs
