#include "plugin/callout_registry.h"

#include <algorithm>

#include "transport/output_interface.h"

namespace hcs {

CalloutRegistry::CalloutRegistry() = default;
CalloutRegistry::~CalloutRegistry() = default;

bool CalloutRegistry::insert(int32_t key, std::unique_ptr<OInterface> interface) {
  // try_emplace leaves `interface` alone when the key is taken: it is then destroyed on return, outside
  // the lock, since destroying an interface unregisters its own lock.
  std::lock_guard lock(mutex_);
  if (!interfaces_.try_emplace(key, std::move(interface)).second) return false;
  auto table = std::make_unique<Table>();
  table->reserve(interfaces_.size());
  for (const auto& [k, i] : interfaces_) table->push_back(Entry{k, i.get()});
  current_.store(table.get(), std::memory_order_release);
  tables_.push_back(std::move(table));
  return true;
}

OInterface* CalloutRegistry::find(int32_t key) const {
  const Table* table = current_.load(std::memory_order_acquire);
  if (table == nullptr) return nullptr;
  const auto it = std::lower_bound(table->begin(), table->end(), key,
                                   [](const Entry& e, int32_t k) { return e.key < k; });
  return it != table->end() && it->key == key ? it->interface : nullptr;
}

CalloutRegistry& calloutRegistry() {
  static CalloutRegistry registry;
  return registry;
}

}  // namespace hcs
