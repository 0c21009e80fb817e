#pragma once

#include <unicode/unistr.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>

#include "db/dbi/dbi.h"

namespace hcs {

class QRMDB;
class CUri;

// A query result copied into memory right after execution, read in bulk fetches of fetchSize rows.
class QRMDBMemTableImp : public DBIMemTableImp {
 public:
  QRMDBMemTableImp(const DBIStatus& status, const DBISchema& schema, int32_t fetchSize);
  ~QRMDBMemTableImp() override;

  // Replaces the stored rows by every remaining row of `statement`. False (and nothing read) when the
  // statement is not valid. Fetch failures leave through the statement's error handler.
  bool populate(DBIStatement& statement);
  // Number of bulk fetches the last populate made, the final empty one included.
  int32_t fetchCalls() const { return fetchCalls_; }

 private:
  int32_t fetchSize_;
  int32_t fetchCalls_ = 0;
};

// The database's index definitions (table → index → ordered column names), read once per process by
// the first QRMDB that opens. States: 0 empty, 1 being filled, 2 ready; `claim`, `finish` and `abandon`
// are single atomic transitions, and the maps are published to other threads by `finish`
// (release/acquire). A filling that fails is abandoned, so the next opener fills instead.
class DBIndexer {
 public:
  static DBIndexer& instance();

  bool claim();
  bool finish();
  // Gives a claim back after a failed filling: drops what was added and returns to 0 (from 1 only).
  void abandon();
  bool isReady() const;
  int32_t state() const { return state_.load(std::memory_order_acquire); }
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
  std::atomic<int32_t> state_{0};
  std::chrono::milliseconds pollInterval_{100};
};

// Reads the index definitions into DBIndexer for `database` (called by the first open). Waits, bounded,
// when another opener is filling them, and takes the filling over when that opener gives up. A
// failure here leaves DBIndexer empty again. Throws QRMSQL_Exception "Difficulties initializing index query
// structure." when that wait runs out, "Unsupported MSSQL version." for SQL Server versions it has no
// query for, and whatever the query's failure of severity 3 or more raises.
void fillIndexMetadata(QRMDB& database, const CUri& uri);

}  // namespace hcs
