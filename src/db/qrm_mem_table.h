#pragma once

#include <cstdint>

#include "db/dbi/dbi.h"

namespace hcs {

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

}  // namespace hcs
