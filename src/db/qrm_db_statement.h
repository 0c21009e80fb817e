#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <unicode/unistr.h>

#include "db/dbi/dbi.h"

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
