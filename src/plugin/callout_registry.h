#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <shared_mutex>

#include "util/fork_safety.h"

namespace hcs {

class OInterface;

// The callout interfaces by attribute type identifier. Owns its interfaces; an entry, once in, is never
// replaced or removed while the library is loaded, so a pointer handed out by find stays valid until
// unload. Lookups take a shared lock and may run from many threads alongside an insert.
class CalloutRegistry {
 public:
  CalloutRegistry();
  ~CalloutRegistry();
  CalloutRegistry(const CalloutRegistry&) = delete;
  CalloutRegistry& operator=(const CalloutRegistry&) = delete;

  // Files `interface` under `key` unless the key is taken; the first registration wins. Returns whether
  // it was filed (when not, the interface is destroyed, after the registry's lock is let go).
  bool insert(int32_t key, std::unique_ptr<OInterface> interface);
  // The interface filed under `key`, or nullptr.
  OInterface* find(int32_t key) const;

 private:
  mutable std::shared_mutex mutex_;
  ForkLock forkLock_{mutex_, ForkLockRank::kCalloutRegistry};
  std::map<int32_t, std::unique_ptr<OInterface>> interfaces_;
};

// The process-wide registry: empty at load, destroyed (with its interfaces) at unload.
CalloutRegistry& calloutRegistry();

}  // namespace hcs
