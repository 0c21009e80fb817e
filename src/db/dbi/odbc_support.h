#pragma once

// Pieces of the ODBC implementation shared by its connection and statement classes.
#include <functional>
#include <string>
#include <vector>

#include <sql.h>
#include <sqlext.h>

#include "db/dbi/dbi.h"

namespace hcs {

std::u16string utf8ToUtf16(const std::string& text);
std::string utf16ToUtf8(const char16_t* text, size_t length);

// A failure status from the diagnostic records of `handle`: SQLSTATE, native error and message of the
// first record, the further records' messages joined into vendorMessage2.
DBIStatus diagnosticStatus(SQLSMALLINT handleType, SQLHANDLE handle, const char* operation);

// Storage a bound parameter points into; must stay put until the execute returns.
struct BoundParameter {
  union {
    SQLINTEGER i32;
    SQLBIGINT i64;
    SQLDOUBLE f64;
  } number{};
  std::u16string wide;
  std::string narrow;
  SQLLEN indicator = 0;
};

bool bindParameter(SQLHSTMT stmt, SQLUSMALLINT position, const DBIBuffer& buffer, BoundParameter& storage);

// Describes a result and reads it in row arrays (or row by row when a column is too wide to bind).
class OdbcResultReader {
 public:
  using FailFn = std::function<void(const char* operation, const std::string& detail)>;

  bool describe(SQLHSTMT stmt, SQLSMALLINT columns, std::vector<DBIColumn>& out);
  size_t fetch(SQLHSTMT stmt, size_t maxRows, std::vector<DBIRow>& rows, const FailFn& fail);

 private:
  struct Plan {
    DBIValue::Type type;
    SQLSMALLINT cType;
    size_t width;  // bytes per element in the bound array
    std::vector<char> data;
    std::vector<SQLLEN> indicators;
  };
  // How a column of `type` is bound; a column too wide to bind switches the reader to row by row.
  Plan planColumn(DBIValue::Type type, SQLSMALLINT sqlType, SQLULEN size);
  bool bindArrays(SQLHSTMT stmt, size_t rows);
  size_t fetchBulk(SQLHSTMT stmt, size_t maxRows, std::vector<DBIRow>& rows, const FailFn& fail);
  size_t fetchRowByRow(SQLHSTMT stmt, size_t maxRows, std::vector<DBIRow>& rows, const FailFn& fail);
  DBIValue decode(const Plan& plan, const char* data, SQLLEN indicator) const;

  std::vector<Plan> plans_;
  bool rowByRow_ = false;
  size_t boundRows_ = 0;
  SQLULEN fetched_ = 0;
};

}  // namespace hcs
