#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <utility>

#include <unicode/unistr.h>

#include "db/qrm_db_statement.h"

namespace hcs {

// Prepared statements by SQL text, least recently used first. A capacity of 1 turns caching off
// (every lookup misses, nothing is stored); the enabled flag only says whether the capacity given at
// construction was non-zero. Shares the statement bodies with the handles it returns. Not synchronised.
class QRMDBStatementCache {
 public:
  explicit QRMDBStatementCache(uint32_t capacity);

  // A hit moves the entry to the most recently used end and fills `statement`.
  bool lookup(const icu::UnicodeString& sql, QRMDBStatement& statement);
  void insert(const icu::UnicodeString& sql, const QRMDBStatement& statement);
  // Drops least recently used entries down to `capacity`, then adopts it.
  void setCapacity(uint32_t capacity);
  void clear();

  uint32_t capacity() const { return capacity_; }
  bool enabled() const { return enabled_; }
  size_t size() const { return entries_.size(); }
  bool contains(const icu::UnicodeString& sql) const { return index_.count(sql) != 0; }
  uint64_t hits() const { return hits_; }
  uint64_t misses() const { return misses_; }

 private:
  using Entry = std::pair<icu::UnicodeString, QRMDBStatement>;
  std::list<Entry> entries_;
  std::map<icu::UnicodeString, std::list<Entry>::iterator> index_;  // UTF-16 code unit order
  uint32_t capacity_;
  bool enabled_;
  uint64_t hits_ = 0;
  uint64_t misses_ = 0;
};

}  // namespace hcs
