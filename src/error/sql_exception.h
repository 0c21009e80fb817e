#pragma once

#include <cstdint>
#include <exception>
#include <span>
#include <string>

#include "error/db_status.h"
#include "error/severity.h"

namespace hcs {

// The category a database failure falls into: the number becomes the entry number of the record the
// system raises, the text its category and the severity decides whether the failure is absorbed.
struct SQLErrorClass {
  int32_t number = 0;
  int32_t severity = kNoSeverity;
  std::string category;
};

// One of the sixteen categories shared by every database product.
struct SQLErrorCategory {
  int32_t number;
  const char* text;
  int32_t severity;
};

// The sixteen categories, in ascending number. `findSQLErrorCategory` returns null for an unknown number.
std::span<const SQLErrorCategory> sqlErrorCategories();
const SQLErrorCategory* findSQLErrorCategory(int32_t number);

// Category numbers, for the tables below and for callers that test a classification.
enum : int32_t {
  kSQLUnhandled = 1,
  kSQLCritical = 2,
  kSQLMemory = 10,
  kSQLTableSpace = 20,
  kSQLContention = 30,
  kSQLUserRoutine = 40,
  kSQLConnectFailure = 50,
  kSQLConnectionLost = 60,
  kSQLDeadlock = 65,
  kSQLPermissions = 70,
  kSQLTransaction = 80,
  kSQLUniqueViolation = 90,
  kSQLConstraint = 100,
  kSQLSyntax = 110,
  kSQLCursor = 120,
  kSQLDataType = 130,
};

// A vendor's classification of its native error numbers, kept as data: the listed codes are tried
// first (a code appears under one category at most), then the ranges top to bottom, then the default.
// A listed single code is a rule whose first and last are equal.
struct SQLCodeRule {
  int32_t first;
  int32_t last;
  int32_t category;
};
struct SQLVendorTable {
  std::span<const SQLCodeRule> listed;
  std::span<const SQLCodeRule> ranges;
  int32_t fallback;
};

const SQLVendorTable& mssqlErrorTable();
const SQLVendorTable& ociErrorTable();
const SQLVendorTable& db2ErrorTable();

// Resets `out`, then fills it from the table's category for `vendorError`. Never fails.
void classifyVendorError(const SQLVendorTable& table, int32_t vendorError, SQLErrorClass& out);

// PostgreSQL and SQLite report ODBC SQLSTATEs; they map into the same sixteen categories:
//
//   23505                         Unique Constraint Violation (90)
//   23xxx                         Constraint Violation (100)
//   40P01                         Deadlock Error (65)
//   40001 55P03 55006 57014 HYT00 Resource Contention (30)  serialisation, lock wait, cancel, timeout
//   40xxx 25xxx 2Dxxx 3Bxxx       Transaction Error (80)
//   08003 08006 08S01 57P0x       Database Connection Lost (60)
//   08xxx 28xxx 3D000             Database Connection Failure (50)
//   42501                         Insufficient Permissions (70)
//   42804 42846 22xxx 07006       Data Type Error (130)
//   42xxx 37000 (syntax, names)   Syntax Error (110)
//   24000 34000 HY010             Cursor Error (120)
//   38xxx 39xxx P0xxx             User Defined Procedure or Function Error (40)
//   53100                         Table Space or Log Violation (20)
//   53xxx HY001                   Database Memory Error (10)
//   XXxxx 58xxx                   Critical Database Error (2)
//   anything else                 Unhandled Database Error (1)
//
// The SQLite driver reports almost everything as the generic HY000; its native number is then the
// SQLite result code (extended or primary), which decides instead:
//   2067 1555 (unique / primary key) → 90; 19 constraint → 100, or 90 when the driver's message says a
//   UNIQUE or PRIMARY KEY constraint failed (the driver reports only primary codes); 5 6 busy, locked → 30; 7
//   → 10; 13 full → 20; 3 8 23 (permission, read-only, auth) → 70; 14 26 (cannot open, not a database) → 50;
//   20 mismatch, 25 range → 130; 1 (SQL error: syntax, unknown name) → 110; 11 10 (corrupt, I/O) → 2.
void classifySqlState(const std::string& sqlState, SQLErrorClass& out);
void classifySqliteError(const std::string& sqlState, int32_t nativeError, const std::string& message,
                         SQLErrorClass& out);

// A failed database operation. what() joins the interface message and the two vendor messages with
// newlines (no trailing ones) and caches the result. The base class does not classify.
class SQLException : public std::exception {
 public:
  explicit SQLException(const DBIStatus& status);
  SQLException(const SQLException& other) = default;
  SQLException& operator=(const SQLException& other) = default;
  ~SQLException() override;

  const char* what() const noexcept override;
  // Leaves `out` untouched in the base class; vendor classes reset it, then fill it.
  virtual void classify(SQLErrorClass& out) const;

  const DBIStatus& status() const { return status_; }

 private:
  DBIStatus status_;
  mutable std::string text_;
};

class MSSQLException : public SQLException {
 public:
  using SQLException::SQLException;
  void classify(SQLErrorClass& out) const override;
};

class OCISQLException : public SQLException {
 public:
  using SQLException::SQLException;
  void classify(SQLErrorClass& out) const override;
};

class DB2SQLException : public SQLException {
 public:
  using SQLException::SQLException;
  void classify(SQLErrorClass& out) const override;
};

class PGSQLException : public SQLException {
 public:
  using SQLException::SQLException;
  void classify(SQLErrorClass& out) const override;
};

class SQLiteSQLException : public SQLException {
 public:
  using SQLException::SQLException;
  void classify(SQLErrorClass& out) const override;
};

// Error handlers, one per product: each throws its exception class when the status is not valid and
// returns true otherwise.
bool mssqlErrorHandler(const DBIStatus& status);
bool ociErrorHandler(const DBIStatus& status);
bool db2ErrorHandler(const DBIStatus& status);
bool pgErrorHandler(const DBIStatus& status);
bool sqliteErrorHandler(const DBIStatus& status);

}  // namespace hcs
