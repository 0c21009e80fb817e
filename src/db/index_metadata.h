#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>

#include <unicode/unistr.h>

namespace hcs {

class QRMDB;
class CUri;

// The database's index definitions (table → index → ordered column names), read once per process by
// the first QRMDB that opens. `claim`, `finish` and `abandon` are single atomic transitions between the
// states, and the maps are published to other threads by `finish` (release/acquire). A filling that
// fails is abandoned, so the next opener fills instead.
class DBIndexer {
 public:
  enum State : int32_t { kEmpty = 0, kFilling = 1, kReady = 2 };

  static DBIndexer& instance();

  // kEmpty → kFilling; false in any other state.
  bool claim();
  // kFilling → kReady; false in any other state.
  bool finish();
  // Gives a claim back after a failed filling: drops what was added and returns to kEmpty (from
  // kFilling only).
  void abandon();
  bool isReady() const;
  State state() const { return state_.load(std::memory_order_acquire); }
  void addColumn(const icu::UnicodeString& table, const icu::UnicodeString& index,
                 const icu::UnicodeString& column);

  // Copy of the columns of one index (empty when unknown).
  std::list<icu::UnicodeString> columns(const icu::UnicodeString& table,
                                        const icu::UnicodeString& index) const;
  size_t tableCount() const;

  // Back to empty. For tests, which need several first opens in one process.
  void reset();
  // Time between readiness checks while another opener fills the metadata (100 ms; tests shorten it).
  void setPollInterval(std::chrono::milliseconds interval) { pollInterval_ = interval; }
  std::chrono::milliseconds pollInterval() const { return pollInterval_; }

 private:
  DBIndexer() = default;

  mutable std::mutex mutex_;
  std::map<icu::UnicodeString, std::map<icu::UnicodeString, std::list<icu::UnicodeString>>> indexes_;
  std::atomic<State> state_{kEmpty};
  std::chrono::milliseconds pollInterval_{100};
};

// Reads the index definitions into DBIndexer for `database` (called by the first open). Waits, bounded,
// when another opener is filling them, and takes the filling over when that opener gives up. A
// failure here leaves DBIndexer empty again. Throws QRMSQL_Exception "Difficulties initializing index query
// structure." when that wait runs out, "Unsupported MSSQL version." for SQL Server versions it has no
// query for, and whatever the query's failure of severity 3 or more raises.
void fillIndexMetadata(QRMDB& database, const CUri& uri);

}  // namespace hcs
