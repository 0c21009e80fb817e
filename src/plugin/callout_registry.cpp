#include "plugin/callout_registry.h"

#include <algorithm>

#include "transport/callout.h"

namespace hcs {

CalloutRegistry::CalloutRegistry() = default;
CalloutRegistry::~CalloutRegistry() = default;

bool CalloutRegistry::insert(int32_t key, std::unique_ptr<Callout> callout) {
  // try_emplace leaves `callout` alone when the key is taken: it is then destroyed on return, outside
  // the lock, since destroying a callout unregisters its pool's lock.
  std::lock_guard lock(mutex_);
  if (!callouts_.try_emplace(key, std::move(callout)).second) return false;
  auto table = std::make_unique<Table>();
  table->reserve(callouts_.size());
  for (const auto& [k, i] : callouts_) table->push_back(Entry{k, i.get()});
  current_.store(table.get(), std::memory_order_release);
  tables_.push_back(std::move(table));
  return true;
}

Callout* CalloutRegistry::find(int32_t key) const {
  const Table* table = current_.load(std::memory_order_acquire);
  if (table == nullptr) return nullptr;
  const auto it = std::lower_bound(table->begin(), table->end(), key,
                                   [](const Entry& e, int32_t k) { return e.key < k; });
  return it != table->end() && it->key == key ? it->callout : nullptr;
}

CalloutRegistry& calloutRegistry() {
  static CalloutRegistry registry;
  return registry;
}

}  // namespace hcs
