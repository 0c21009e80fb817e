#pragma once

#include <unicode/unistr.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/dbi/dbi.h"
#include "error/qrm_exception.h"
#include "error/sql_exception.h"

namespace hcs {

// The body of a prepared statement: the interface statement, the connection it runs on, and one
// parameter buffer per bound position. Reached through QRMDBStatement handles; the connection's
// statement cache shares bodies with the handles it gives out. Not synchronised: one thread at a time
// per body (handles may be copied and dropped on any thread).
class QRMDBStatementImp {
 public:
  // A placeholder body (what an unopened cursor holds): no statement, never executed.
  QRMDBStatementImp();
  // `sql` is the text as sent (after placeholder rewriting). The statement is created on `connection`.
  QRMDBStatementImp(const icu::UnicodeString& sql, std::shared_ptr<DBIConnection> connection,
                    int32_t fetchSize, bool asciiOnlyDatabase);
  virtual ~QRMDBStatementImp();

  // Stores `value` at `position` (from 1), creating the buffer on first use with the value's type.
  // A value that does not fit an existing buffer fails through the error handler (SQLException).
  void setValue(int32_t position, const DBIValue& value);

  // Hands the buffers to the statement the first time, then executes. Returns whether a result set
  // came back. Failures leave as SQLException from the error handler.
  bool execute();
  // Reads one row of the pending result into `row`; false at the end or when nothing was executed.
  bool fetchRow(DBIRow& row);
  // All rows of the pending result read into memory in blocks of fetchSize.
  DBIReader reader();
  int32_t rowsAffected() const;
  bool hasResult() const;
  bool isValid() const;
  void cancel();

  const icu::UnicodeString& sql() const { return sql_; }
  int32_t fetchSize() const { return fetchSize_; }
  bool asciiOnlyDatabase() const { return asciiOnlyDatabase_; }
  // "Statement: sql=<text>\n" then "No Bind Values" or "Bind Values: 'a',5".
  icu::UnicodeString describe() const;
  // The buffer at `position` (from 1), or null.
  const DBIBuffer* buffer(int32_t position) const;

 private:
  std::unique_ptr<DBIStatement> statement_;
  std::shared_ptr<DBIConnection> connection_;
  icu::UnicodeString sql_;
  std::vector<std::shared_ptr<DBIBuffer>> slots_;
  std::vector<bool> bound_;
  bool shifted_ = false;
  int32_t fetchSize_ = 1;
  bool asciiOnlyDatabase_ = false;
};

// A handle to a shared statement body; copies share it. A default handle holds a placeholder body.
class QRMDBStatement {
 public:
  QRMDBStatement();
  explicit QRMDBStatement(std::shared_ptr<QRMDBStatementImp> body);

  // Binds text, detecting numbers when `detect` is set: an optional sign and digits bind as a 64-bit
  // integer (as a decimal when beyond 64 bits), with one "." as a double (on a type conflict retried
  // once with the other type), a text in apostrophes binds as the text inside, anything else as text.
  // Always true; a failed retry leaves as SQLException.
  bool bindText(int32_t position, const char16_t* text, bool detect);
  void bindInteger(int32_t position, int64_t value);
  void bindDouble(int32_t position, double value);

  QRMDBStatementImp& body() const { return *body_; }
  const QRMDBStatementImp* bodyPtr() const { return body_.get(); }
  bool execute() { return body_->execute(); }
  bool fetchRow(DBIRow& row) { return body_->fetchRow(row); }
  DBIReader reader() { return body_->reader(); }
  int32_t rowsAffected() const { return body_->rowsAffected(); }
  const icu::UnicodeString& sql() const { return body_->sql(); }
  icu::UnicodeString describe() const { return body_->describe(); }

 private:
  std::shared_ptr<QRMDBStatementImp> body_;
};

// Lenient number reading for detected parameters: any Unicode decimal digit counts; while the value
// is still 0, "-" flips the sign and "+" and blanks are skipped; anything else ends the number.
// An integer beyond 64 bits reads as INT64_MIN or INT64_MAX and sets `*overflow` (when given).
int64_t readInteger64(const icu::UnicodeString& text, bool* overflow = nullptr);
double readDouble(const icu::UnicodeString& text);

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
  // Classifies, logs and records `error`; throws the record for severity 3 and above, otherwise
  // returns the category number.
  int32_t reportSqlError(const SQLException& error, const QRMDBStatement* statement);

  const QRMSQL_Exception& lastError() const { return lastError_; }

 private:
  // reportSqlError for a statement's failure; anything leaving it becomes this failure's record.
  int32_t reportOrThrowRecord(const SQLException& error, QRMDBStatement& statement);

  QRMSQL_Exception lastError_;
  uint64_t records_ = 0;  // how many failures have been recorded in lastError_
};

// Discards the statement's pending result when it goes out of scope.
class QRMDBStatementCanceler {
 public:
  explicit QRMDBStatementCanceler(QRMDBStatement* statement) : statement_(statement) {}
  virtual ~QRMDBStatementCanceler();
  QRMDBStatementCanceler(const QRMDBStatementCanceler&) = delete;
  QRMDBStatementCanceler& operator=(const QRMDBStatementCanceler&) = delete;

 private:
  QRMDBStatement* statement_;
};

}  // namespace hcs
