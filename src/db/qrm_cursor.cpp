#include "db/qrm_cursor.h"

#include "db/qrm_db.h"
#include "db/string_table_row.h"
#include "util/ucstring.h"

namespace hcs {

QRMCursor::QRMCursor() = default;
QRMCursor::~QRMCursor() = default;

int32_t QRMCursor::columnCount() {
  if (reader_.status().errorCode() == DBIStatus::kDBINotInitialized) return 0;
  return static_cast<int32_t>(reader_.columnCount());
}

bool QRMCursor::isValid() {
  if (reader_.status().errorCode() == DBIStatus::kDBINotInitialized) return false;
  return reader_.isValid();
}

CRowSet& QRMCursor::next() {
  reader_();
  return *this;
}

icu::UnicodeString QRMCursor::value(int32_t index) {
  DBIValue value;
  reader_[static_cast<size_t>(index < 0 ? SIZE_MAX : index)] >> value;
  return valueToText(value);
}

icu::UnicodeString QRMCursor::valueToText(const DBIValue& value) {
  switch (value.type()) {
    case DBIValue::kDate:
    case DBIValue::kDateTime:
      return UCString(value.asString());  // "%Y-%m-%d" / "%Y-%m-%d %H:%M:%S"
    case DBIValue::kUString:
      return value.asUnicode();
    default:
      return UCString(value.asString());
  }
}

int32_t QRMCursor::open(QRMDB* connection, const char16_t* sql, bool unused) {
  if (connection == nullptr) return -1;
  return open(connection, sql, unused, {});
}

int32_t QRMCursor::open(QRMDB* connection, const char16_t* sql, bool,
                        std::span<CStringTableRow* const> rows) {
  connection_ = connection;
  sql_ = icu::UnicodeString(sql != nullptr ? sql : u"");
  if (connection_ == nullptr) return -1;
  try {
    statement_ = connection_->createStatement(sql_);
    int32_t position = 1;
    for (CStringTableRow* row : rows) {
      if (row == nullptr) continue;
      for (int32_t i = 0; i < row->valueCount(); ++i) {
        icu::UnicodeString value(*row->valuePtr(i));
        statement_.bindText(position++, value.getTerminatedBuffer(), true);
      }
    }
    if (connection_->executeForResult(statement_)) {
      reader_ = statement_.reader();
      try {
        reader_();
      } catch (const SQLException& e) {
        connection_->reportSqlError(e, &statement_);
      }
    } else {
      reader_ = DBIReader();
      // An absorbed failure: the connection recorded it; say so to the caller.
      if (!statement_.body().isValid()) {
        connection_ = nullptr;
        return -1;
      }
    }
    return 0;
  } catch (const SQLException& e) {
    connection_->reportSqlError(e, &statement_);
    connection_ = nullptr;
    reader_ = DBIReader();
    return -1;
  }
}

}  // namespace hcs
