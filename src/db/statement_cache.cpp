#include "db/statement_cache.h"

namespace hcs {

QRMDBStatementCache::QRMDBStatementCache(uint32_t capacity) : capacity_(capacity), enabled_(capacity != 0) {}

bool QRMDBStatementCache::lookup(const icu::UnicodeString& sql, QRMDBStatement& statement) {
  if (capacity_ == 1) {
    ++misses_;
    return false;
  }
  auto found = index_.find(sql);
  if (found == index_.end()) {
    ++misses_;
    return false;
  }
  entries_.splice(entries_.end(), entries_, found->second);
  statement = found->second->second;
  ++hits_;
  return true;
}

void QRMDBStatementCache::insert(const icu::UnicodeString& sql, const QRMDBStatement& statement) {
  if (capacity_ == 1) return;
  auto existing = index_.find(sql);
  if (existing != index_.end()) {
    entries_.erase(existing->second);
    index_.erase(existing);
  }
  if (enabled_ && entries_.size() >= capacity_ && !entries_.empty()) {
    index_.erase(entries_.front().first);
    entries_.pop_front();
  }
  entries_.emplace_back(sql, statement);
  index_[sql] = std::prev(entries_.end());
}

void QRMDBStatementCache::setCapacity(uint32_t capacity) {
  while (entries_.size() > capacity) {
    index_.erase(entries_.front().first);
    entries_.pop_front();
  }
  capacity_ = capacity;
}

void QRMDBStatementCache::clear() {
  index_.clear();
  entries_.clear();
}

}  // namespace hcs
