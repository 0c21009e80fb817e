#pragma once

#include <cstdint>

#include <unicode/unistr.h>

namespace hcs {

// Anything that reports a number of columns and gives a column's value as text: a query row or an
// in-memory row.
class CRow {
 public:
  virtual ~CRow() = default;
  virtual int32_t columnCount() = 0;
  // Column index from 0.
  virtual icu::UnicodeString value(int32_t index) = 0;
};

// A row that can also say whether it stands on a row and move to the next one.
class CRowSet : public CRow {
 public:
  virtual bool isValid() = 0;
  virtual CRowSet& next() = 0;
};

}  // namespace hcs
