#include "db/dbi/odbc_support.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>

#include <unicode/unistr.h>

#include "db/dbi/odbc_database.h"

namespace hcs {
namespace {

constexpr size_t kMaxBoundChars = 8192;

DBIValue::Type typeOfSqlType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
      return DBIValue::kInt;
    case SQL_BIGINT:
      return DBIValue::kLongLong;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return DBIValue::kDouble;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      return DBIValue::kDecimal;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return DBIValue::kDate;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return DBIValue::kDateTime;
    default:
      return DBIValue::kUString;
  }
}

}  // namespace

std::u16string utf8ToUtf16(const std::string& text) {
  icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
  return std::u16string(unicode.getBuffer(), static_cast<size_t>(unicode.length()));
}

std::string utf16ToUtf8(const char16_t* text, size_t length) {
  std::string out;
  icu::UnicodeString(text, static_cast<int32_t>(length)).toUTF8String(out);
  return out;
}

DBIStatus diagnosticStatus(SQLSMALLINT handleType, SQLHANDLE handle, const char* operation) {
  std::string state;
  std::string first;
  std::string further;
  SQLINTEGER native = 0;
  for (SQLSMALLINT record = 1; record <= 8; ++record) {
    SQLWCHAR sqlState[6] = {};
    SQLWCHAR message[1024] = {};
    SQLINTEGER recordNative = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(handleType, handle, record, sqlState, &recordNative, message,
                                  static_cast<SQLSMALLINT>(std::size(message)), &length);
    if (!SQL_SUCCEEDED(rc)) break;
    size_t used =
        std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), std::size(message) - 1);
    std::string text = utf16ToUtf8(reinterpret_cast<const char16_t*>(message), used);
    if (record == 1) {
      state = utf16ToUtf8(reinterpret_cast<const char16_t*>(sqlState), 5);
      native = recordNative;
      first = std::move(text);
    } else {
      if (!further.empty()) further += "; ";
      further += text;
    }
  }
  std::string message = std::string(operation) + " failed";
  if (!state.empty()) message += " [SQLSTATE " + state + "]";
  return DBIStatus(DBIStatus::kDBIServerError, message, state, native, first, further);
}

namespace {

// Narrow text is UTF-8 here; sending UTF-16 keeps the driver's code page out of the way.
std::u16string wideText(DBIValue::Type type, const DBIValue& value) {
  if (value.isNull()) return {};
  if (type == DBIValue::kUString) {
    const icu::UnicodeString& u = value.asUnicode();
    return std::u16string(u.getBuffer(), static_cast<size_t>(u.length()));
  }
  return utf8ToUtf16(type == DBIValue::kString ? value.asNarrow() : value.asString());
}

}  // namespace

bool bindParameter(SQLHSTMT stmt, SQLUSMALLINT position, const DBIBuffer& buffer, BoundParameter& storage) {
  const DBIValue& value = buffer.get();
  const bool null = value.isNull();
  SQLSMALLINT cType = SQL_C_WCHAR;
  SQLSMALLINT sqlType = SQL_WVARCHAR;
  SQLULEN columnSize = 0;
  SQLSMALLINT digits = 0;
  SQLPOINTER data = nullptr;
  SQLLEN length = 0;
  storage.indicator = 0;
  switch (buffer.type()) {
    case DBIValue::kInt:
      cType = SQL_C_SLONG;
      sqlType = SQL_INTEGER;
      storage.number.i32 = null ? 0 : value.asInt();
      data = &storage.number.i32;
      break;
    case DBIValue::kLongLong:
      cType = SQL_C_SBIGINT;
      sqlType = SQL_BIGINT;
      storage.number.i64 = null ? 0 : value.asLongLong();
      data = &storage.number.i64;
      break;
    case DBIValue::kDouble:
      cType = SQL_C_DOUBLE;
      sqlType = SQL_DOUBLE;
      storage.number.f64 = null ? 0 : value.asDouble();
      data = &storage.number.f64;
      break;
    case DBIValue::kDecimal: {
      cType = SQL_C_CHAR;
      sqlType = SQL_NUMERIC;
      storage.narrow = null ? std::string() : value.asDecimal().text;
      size_t dot = storage.narrow.find('.');
      digits = dot == std::string::npos ? 0 : static_cast<SQLSMALLINT>(storage.narrow.size() - dot - 1);
      columnSize = std::max<size_t>(storage.narrow.size(), 1);
      data = storage.narrow.data();
      length = static_cast<SQLLEN>(storage.narrow.size());
      storage.indicator = length;
      break;
    }
    default: {
      storage.wide = wideText(buffer.type(), value);
      columnSize = std::max<size_t>(storage.wide.size(), 1);
      data = storage.wide.data();
      length = static_cast<SQLLEN>(storage.wide.size() * sizeof(char16_t));
      storage.indicator = length;
      break;
    }
  }
  if (null) storage.indicator = SQL_NULL_DATA;
  return SQL_SUCCEEDED(SQLBindParameter(stmt, position, SQL_PARAM_INPUT, cType, sqlType, columnSize, digits,
                                        data, length, &storage.indicator));
}

OdbcResultReader::Plan OdbcResultReader::planColumn(DBIValue::Type type, SQLSMALLINT sqlType, SQLULEN size) {
  switch (type) {
    case DBIValue::kInt:  // read as 64 bits: SQLite declares INTEGER columns that hold 64-bit values
    case DBIValue::kLongLong:
      return Plan{type, SQL_C_SBIGINT, sizeof(SQLBIGINT), {}, {}};
    case DBIValue::kDouble:
      return Plan{type, SQL_C_DOUBLE, sizeof(SQLDOUBLE), {}, {}};
    case DBIValue::kDecimal:
      // Drivers report a nominal precision for unconstrained NUMERIC (PostgreSQL says 28), so bind room
      // for any practical value; a longer one fails clearly instead of being cut.
      return Plan{type, SQL_C_CHAR, std::clamp<size_t>(size + 3, 1100, kMaxBoundChars), {}, {}};
    case DBIValue::kDate:
      return Plan{type, SQL_C_TYPE_DATE, sizeof(SQL_DATE_STRUCT), {}, {}};
    case DBIValue::kDateTime:
      return Plan{type, SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT), {}, {}};
    default:
      break;
  }
  // Long types report a nominal size that says nothing about the values: read them in pieces.
  if (sqlType == SQL_LONGVARCHAR || sqlType == SQL_WLONGVARCHAR || sqlType == SQL_LONGVARBINARY)
    rowByRow_ = true;
  if (size == 0 || size > kMaxBoundChars) rowByRow_ = true;
  // Room for every character as a surrogate pair plus the terminator.
  return Plan{type, SQL_C_WCHAR, (std::min<size_t>(size, kMaxBoundChars) * 2 + 1) * sizeof(char16_t), {}, {}};
}

bool OdbcResultReader::describe(SQLHSTMT stmt, SQLSMALLINT columns, std::vector<DBIColumn>& out) {
  plans_.clear();
  rowByRow_ = false;
  boundRows_ = 0;
  SQLFreeStmt(stmt, SQL_UNBIND);
  for (SQLSMALLINT i = 1; i <= columns; ++i) {
    SQLWCHAR name[256] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT sqlType = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    if (!SQL_SUCCEEDED(SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(i), name,
                                       static_cast<SQLSMALLINT>(std::size(name)), &nameLength, &sqlType,
                                       &size, &digits, &nullable))) {
      return false;
    }
    size_t used =
        std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(nameLength, 0)), std::size(name) - 1);
    DBIValue::Type type = typeOfSqlType(sqlType);
    plans_.push_back(planColumn(type, sqlType, size));
    out.push_back(DBIColumn{utf16ToUtf8(reinterpret_cast<const char16_t*>(name), used), type});
  }
  if (rowByRow_) {
    // SQLGetData reads the current row only: one row per fetch.
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
  }
  return true;
}

bool OdbcResultReader::bindArrays(SQLHSTMT stmt, size_t rows) {
  SQLFreeStmt(stmt, SQL_UNBIND);
  SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
  if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0)))
    return false;
  SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0);
  for (size_t c = 0; c < plans_.size(); ++c) {
    Plan& plan = plans_[c];
    plan.data.assign(plan.width * rows, 0);
    plan.indicators.assign(rows, 0);
    if (!SQL_SUCCEEDED(SQLBindCol(stmt, static_cast<SQLUSMALLINT>(c + 1), plan.cType, plan.data.data(),
                                  static_cast<SQLLEN>(plan.width), plan.indicators.data()))) {
      return false;
    }
  }
  boundRows_ = rows;
  return true;
}

DBIValue OdbcResultReader::decode(const Plan& plan, const char* data, SQLLEN indicator) const {
  if (indicator == SQL_NULL_DATA) return DBIValue();
  switch (plan.type) {
    case DBIValue::kInt: {
      SQLBIGINT v;
      std::memcpy(&v, data, sizeof(v));
      if (v >= INT32_MIN && v <= INT32_MAX) return DBIValue(static_cast<int32_t>(v));
      return DBIValue(static_cast<int64_t>(v));
    }
    case DBIValue::kLongLong: {
      SQLBIGINT v;
      std::memcpy(&v, data, sizeof(v));
      return DBIValue(static_cast<int64_t>(v));
    }
    case DBIValue::kDouble: {
      SQLDOUBLE v;
      std::memcpy(&v, data, sizeof(v));
      return DBIValue(static_cast<double>(v));
    }
    case DBIValue::kDecimal:
      return DBIValue(DBIDecimal{std::string(data, strnlen(data, plan.width))});
    case DBIValue::kDate: {
      SQL_DATE_STRUCT d;
      std::memcpy(&d, data, sizeof(d));
      return DBIValue(DBIDate{d.year, d.month, d.day});
    }
    case DBIValue::kDateTime: {
      SQL_TIMESTAMP_STRUCT t;
      std::memcpy(&t, data, sizeof(t));
      return DBIValue(DBIDateTime{t.year, t.month, t.day, t.hour, t.minute, t.second, t.fraction});
    }
    default: {
      size_t units = static_cast<size_t>(indicator) / sizeof(char16_t);
      return DBIValue(
          icu::UnicodeString(reinterpret_cast<const char16_t*>(data), static_cast<int32_t>(units)));
    }
  }
}

size_t OdbcResultReader::fetch(SQLHSTMT stmt, size_t maxRows, std::vector<DBIRow>& rows, const FailFn& fail) {
  return rowByRow_ ? fetchRowByRow(stmt, maxRows, rows, fail) : fetchBulk(stmt, maxRows, rows, fail);
}

size_t OdbcResultReader::fetchBulk(SQLHSTMT stmt, size_t maxRows, std::vector<DBIRow>& rows,
                                   const FailFn& fail) {
  if (boundRows_ != maxRows && !bindArrays(stmt, maxRows)) {
    fail("SQLBindCol", {});
    return 0;
  }
  fetched_ = 0;
  SQLRETURN rc = SQLFetch(stmt);
  if (rc == SQL_NO_DATA) return 0;
  if (!SQL_SUCCEEDED(rc)) {
    fail("SQLFetch", {});
    return 0;
  }
  for (size_t r = 0; r < fetched_; ++r) {
    DBIRow row;
    row.reserve(plans_.size());
    for (size_t c = 0; c < plans_.size(); ++c) {
      const Plan& plan = plans_[c];
      SQLLEN indicator = plan.indicators[r];
      if ((plan.cType == SQL_C_WCHAR || plan.cType == SQL_C_CHAR) && indicator != SQL_NULL_DATA &&
          (indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) >= plan.width)) {
        fail("SQLFetch",
             "The value of column " + std::to_string(c + 1) + " is longer than the column's declared size");
        rows.clear();
        return 0;
      }
      row.push_back(decode(plan, plan.data.data() + r * plan.width, indicator));
    }
    rows.push_back(std::move(row));
  }
  return rows.size();
}

size_t OdbcResultReader::fetchRowByRow(SQLHSTMT stmt, size_t maxRows, std::vector<DBIRow>& rows,
                                       const FailFn& fail) {
  for (size_t r = 0; r < maxRows; ++r) {
    SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) {
      fail("SQLFetch", {});
      rows.clear();
      return 0;
    }
    DBIRow row;
    row.reserve(plans_.size());
    for (size_t c = 0; c < plans_.size(); ++c) {
      const Plan& plan = plans_[c];
      const auto column = static_cast<SQLUSMALLINT>(c + 1);
      if (plan.cType != SQL_C_WCHAR) {
        std::vector<char> cell(plan.width, 0);
        SQLLEN indicator = 0;
        if (!SQL_SUCCEEDED(SQLGetData(stmt, column, plan.cType, cell.data(), static_cast<SQLLEN>(plan.width),
                                      &indicator))) {
          fail("SQLGetData", {});
          rows.clear();
          return 0;
        }
        row.push_back(decode(plan, cell.data(), indicator));
        continue;
      }
      // Long text arrives in pieces; each call returns what is left.
      std::u16string text;
      char16_t piece[2048];
      bool isNull = false;
      for (;;) {
        SQLLEN indicator = 0;
        rc = SQLGetData(stmt, column, SQL_C_WCHAR, piece, sizeof(piece), &indicator);
        if (rc == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(rc)) {
          fail("SQLGetData", {});
          rows.clear();
          return 0;
        }
        if (indicator == SQL_NULL_DATA) {
          isNull = true;
          break;
        }
        size_t capacity = std::size(piece) - 1;
        size_t units = (indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) / 2 > capacity)
                           ? capacity
                           : static_cast<size_t>(indicator) / 2;
        text.append(piece, units);
        if (rc == SQL_SUCCESS) break;
      }
      row.push_back(isNull ? DBIValue()
                           : DBIValue(icu::UnicodeString(text.data(), static_cast<int32_t>(text.size()))));
    }
    rows.push_back(std::move(row));
  }
  return rows.size();
}

namespace {

// Braces protect values holding the separator; a closing brace inside is doubled.
void appendKey(std::string& out, const char* key, const std::string& value) {
  if (value.empty()) return;
  out += key;
  out += '=';
  if (value.find_first_of(";{}=") != std::string::npos || value.front() == ' ' || value.back() == ' ') {
    out += '{';
    for (char c : value) {
      out += c;
      if (c == '}') out += '}';
    }
    out += '}';
  } else {
    out += value;
  }
  out += ';';
}

// A libpq conninfo value in single quotes, so blanks or quotes in a module name cannot add keys.
std::string conninfoQuoted(const std::string& value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  return out + "'";
}

// The server ends any statement (lock waits included) after 30 s: a blocked table must not hang the
// host's initialisation.
std::string libpqOptions(const std::string& applicationName) {
  std::string options = "options='-c statement_timeout=" + std::to_string(kPgStatementTimeoutMs) + "'";
  if (applicationName.empty()) return options;
  return "application_name=" + conninfoQuoted(applicationName) + " " + options;
}

std::mutex& factoryMutex() {
  static std::mutex mutex;
  return mutex;
}
DBIDatabaseFactory& factory() {
  static DBIDatabaseFactory installed;
  return installed;
}

}  // namespace

std::string odbcConnectionString(const DBIConnectParams& p, bool masked) {
  std::string out;
  appendKey(out, "DRIVER", p.driver);
  // The user name goes too: the URI's masked form names it already, and nothing from the user
  // information belongs in a message.
  const std::string user = masked && !p.user.empty() ? "****" : p.user;
  const std::string password = masked && !p.password.empty() ? "****" : p.password;
  if (p.vendor == "sqlite") {
    appendKey(out, "Database", p.database);
    // Wait at most 10 s for another writer's lock instead of the driver's 100 s.
    appendKey(out, "Timeout", "10000");
  } else if (p.vendor == "pg") {
    appendKey(out, "Server", p.server);
    appendKey(out, "Port", p.port);
    appendKey(out, "Database", p.database);
    appendKey(out, "Uid", user);
    appendKey(out, "Pwd", password);
    // Roll back only the failing statement, so an absorbed error does not poison the transaction.
    appendKey(out, "Protocol", "7.4-2");
    appendKey(out, "pqopt", libpqOptions(p.applicationName));
  } else if (p.vendor == "oci") {
    appendKey(out, "DBQ", p.server);
    appendKey(out, "UID", user);
    appendKey(out, "PWD", password);
  } else if (p.vendor == "db2") {
    appendKey(out, "DATABASE", p.server);
    appendKey(out, "UID", user);
    appendKey(out, "PWD", password);
  } else {
    appendKey(out, "Server", p.port.empty() ? p.server : p.server + "," + p.port);
    appendKey(out, "Database", p.database);
    appendKey(out, "UID", user);
    appendKey(out, "PWD", password);
    appendKey(out, "APP", p.applicationName);
  }
  return out;
}

std::shared_ptr<DBIDatabase> openDatabase(const DBIConnectParams& params) {
  DBIDatabaseFactory installed;
  {
    std::lock_guard lock(factoryMutex());
    installed = factory();
  }
  return installed ? installed(params) : openOdbcDatabase(params);
}

DBIDatabaseFactory setDatabaseFactory(DBIDatabaseFactory replacement) {
  std::lock_guard lock(factoryMutex());
  DBIDatabaseFactory previous = std::move(factory());
  factory() = std::move(replacement);
  return previous;
}

}  // namespace hcs
