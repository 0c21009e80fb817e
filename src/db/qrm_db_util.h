#pragma once

#include <cstdint>

#include "db/dbi/dbi.h"
#include "db/qrm_db_statement.h"
#include "error/qrm_exception.h"
#include "error/sql_exception.h"

namespace hcs {

// Runs statements and turns vendor failures into records: classifies each SQLException, logs it
// (module "sql"), keeps it as the last error record, and absorbs it (severity below 3) or throws it
// as QRMSQL_Exception.
class QRMDBUtil {
 public:
  virtual ~QRMDBUtil();

  // 0, or the category number of an absorbed failure.
  int32_t executeStatement(QRMDBStatement& statement);
  // Whether a result set came back; false also for an absorbed failure.
  bool executeForResult(QRMDBStatement& statement);
  // executeForResult, then the statement's reader (an empty one when nothing came back).
  DBIReader executeReader(QRMDBStatement& statement);
  // Classifies, logs (at sqlErrorLogLevel of its severity) and records `error`; throws the record for
  // severity 3 and above, otherwise returns the category number.
  int32_t reportSqlError(const SQLException& error, const QRMDBStatement* statement);

  const QRMSQL_Exception& lastError() const { return lastError_; }

 private:
  // reportSqlError for a statement's failure; anything leaving it becomes this failure's record.
  int32_t reportOrThrowRecord(const SQLException& error, QRMDBStatement& statement);

  QRMSQL_Exception lastError_;
  uint64_t records_ = 0;  // how many failures have been recorded in lastError_
};

}  // namespace hcs
