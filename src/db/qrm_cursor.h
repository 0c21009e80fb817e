#pragma once

#include <cstdint>
#include <span>

#include <unicode/unistr.h>

#include "db/dbi/dbi.h"
#include "db/qrm_db_statement.h"
#include "db/row.h"

namespace hcs {

class QRMDB;
class CStringTableRow;

// The rows of one query, read whole into memory when the cursor opens; reading never touches the
// database afterwards. Values come back as text: dates "YYYY-MM-DD", date-times "YYYY-MM-DD HH:MM:SS",
// NULL as "". The connection must outlive `open`; the cursor does not own it. One thread at a time.
class QRMCursor : public CRowSet {
 public:
  QRMCursor();
  ~QRMCursor() override;

  int32_t columnCount() override;
  icu::UnicodeString value(int32_t index) override;
  bool isValid() override;
  CRowSet& next() override;

  // Prepares (through the connection's cache), binds the values of `rows` in order from position 1
  // with number detection, executes and stands on the first row. 0 on success (also for a result with
  // no rows or no result set), -1 without a connection or when a failure below severity 3 was
  // absorbed; throws QRMSQL_Exception for an invalid connection or a failure of severity 3 and above.
  int32_t open(QRMDB* connection, const char16_t* sql, bool unused);
  int32_t open(QRMDB* connection, const char16_t* sql, bool unused, std::span<CStringTableRow* const> rows);

  // Text of a value as the cursor reports it.
  static icu::UnicodeString valueToText(const DBIValue& value);

 private:
  QRMDB* connection_ = nullptr;
  QRMDBStatement statement_;
  DBIReader reader_;
  icu::UnicodeString sql_;
};

}  // namespace hcs
