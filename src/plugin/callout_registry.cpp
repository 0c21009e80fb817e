#include "plugin/callout_registry.h"

#include <mutex>

#include "transport/output_interface.h"

namespace hcs {

CalloutRegistry::CalloutRegistry() = default;
CalloutRegistry::~CalloutRegistry() = default;

bool CalloutRegistry::insert(int32_t key, std::unique_ptr<OInterface> interface) {
  // try_emplace leaves `interface` alone when the key is taken: it is then destroyed on return, outside
  // the lock, since destroying an interface unregisters its own lock.
  std::unique_lock lock(mutex_);
  return interfaces_.try_emplace(key, std::move(interface)).second;
}

OInterface* CalloutRegistry::find(int32_t key) const {
  std::shared_lock lock(mutex_);
  const auto it = interfaces_.find(key);
  return it == interfaces_.end() ? nullptr : it->second.get();
}

CalloutRegistry& calloutRegistry() {
  static CalloutRegistry registry;
  return registry;
}

}  // namespace hcs
