#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/dbi/dbi_value.h"
#include "error/db_status.h"

namespace hcs {

struct DBIColumn {
  std::string name;  // UTF-8
  DBIValue::Type type = DBIValue::kNoType;
};

class DBISchema {
 public:
  DBISchema() = default;
  explicit DBISchema(std::vector<DBIColumn> columns) : columns_(std::move(columns)) {}
  size_t entries() const { return columns_.size(); }
  const DBIColumn& operator[](size_t i) const { return columns_.at(i); }
  const std::vector<DBIColumn>& columns() const { return columns_; }

 private:
  std::vector<DBIColumn> columns_;
};

using DBIRow = std::vector<DBIValue>;

// A result held in memory: a status, a schema and the rows, which the table owns. Subclasses fill the
// rows (appendRow) and may drop them (depopulate).
class DBIMemTableImp {
 public:
  DBIMemTableImp(const DBIStatus& status, const DBISchema& schema);
  virtual ~DBIMemTableImp();

  const DBIStatus& status() const { return status_; }
  const DBISchema& schema() const { return schema_; }
  size_t rowCount() const { return rows_.size(); }
  const DBIRow& row(size_t i) const { return *rows_.at(i); }

 protected:
  void appendRow(std::unique_ptr<DBIRow> row) { rows_.push_back(std::move(row)); }
  void depopulate() { rows_.clear(); }

 private:
  DBIStatus status_;
  DBISchema schema_;
  std::vector<std::unique_ptr<DBIRow>> rows_;
};

// A forward reader over a memory table it shares. Before the first advance it stands before the first
// row; `isValid` is true while it stands on a row. A default-constructed reader has no table and its
// status has error code kDBINotInitialized. Copies share the table but not the position.
class DBIReader {
 public:
  DBIReader();
  explicit DBIReader(std::shared_ptr<const DBIMemTableImp> table);

  // Advances to the next row; returns whether it stands on one.
  bool operator()();
  bool isValid() const;
  // Selects the column the next extraction reads.
  DBIReader& operator[](size_t column);
  // Extracts the selected column's value and selects the next one. Outside the row (or off a row) the
  // value is NULL.
  DBIReader& operator>>(DBIValue& value);
  // Copies the whole current row (empty off a row).
  DBIReader& operator>>(DBIRow& row);

  const DBIStatus& status() const { return status_; }
  // Column count of the table's schema; 0 without a table.
  size_t columnCount() const;

 private:
  std::shared_ptr<const DBIMemTableImp> table_;
  DBIStatus status_;
  size_t next_ = 0;  // index of the row the next advance moves to
  size_t column_ = 0;
  bool onRow_ = false;
};

}  // namespace hcs
