#include "db/dbi/dbi_table.h"

#include "db/dbi/dbi.h"

namespace hcs {

DBIMemTableImp::DBIMemTableImp(const DBIStatus& status, const DBISchema& schema)
    : status_(status), schema_(schema) {}
DBIMemTableImp::~DBIMemTableImp() = default;

DBIReader::DBIReader() : status_(DBIStatus::kDBINotInitialized, "The reader has no table") {}

DBIReader::DBIReader(std::shared_ptr<const DBIMemTableImp> table) : table_(std::move(table)) {
  if (!table_) status_ = DBIStatus(DBIStatus::kDBINotInitialized, "The reader has no table");
}

bool DBIReader::operator()() {
  column_ = 0;
  onRow_ = table_ && next_ < table_->rowCount();
  if (onRow_) ++next_;
  return onRow_;
}

bool DBIReader::isValid() const { return onRow_; }

DBIReader& DBIReader::operator[](size_t column) {
  column_ = column;
  return *this;
}

DBIReader& DBIReader::operator>>(DBIValue& value) {
  if (onRow_) {
    const DBIRow& row = table_->row(next_ - 1);
    value = column_ < row.size() ? row[column_] : DBIValue();
  } else {
    value = DBIValue();
  }
  ++column_;
  return *this;
}

DBIReader& DBIReader::operator>>(DBIRow& row) {
  row = onRow_ ? table_->row(next_ - 1) : DBIRow();
  return *this;
}

size_t DBIReader::columnCount() const { return table_ ? table_->schema().entries() : 0; }

DBIStatement::~DBIStatement() = default;
DBIConnection::~DBIConnection() = default;
DBIDatabase::~DBIDatabase() = default;

}  // namespace hcs
