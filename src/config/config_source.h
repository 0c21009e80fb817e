#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <unicode/unistr.h>

namespace hcs {

class QRMDB;
class QRMCursor;

// Receives the rows of a configuration query, one at a time, with the cursor standing on the row.
class CRowVisitor {
 public:
  virtual ~CRowVisitor();
  virtual void visit(QRMCursor& cursor) = 0;
};

// Where configuration rows come from. The cursors returned belong to the caller. Database failures
// arrive as the QRMSQL_Exception / QRM_Exception records of the cursor's open.
class ConfigSource {
 public:
  virtual ~ConfigSource();

  // Runs query `number` and hands every row to `visitor`; 0.
  virtual int32_t forEachQueryRow(int32_t number, CRowVisitor& visitor) = 0;
  // Selects `columns` of `table` and hands every row to `visitor`; 0.
  virtual int32_t forEachRow(const icu::UnicodeString& table, const std::vector<icu::UnicodeString>& columns,
                             CRowVisitor& visitor) = 0;
  // A cursor on query `number`, standing on its first row.
  virtual std::unique_ptr<QRMCursor> openQuery(int32_t number) = 0;
  // A cursor selecting `columns` (in order) of `table`, standing on its first row.
  virtual std::unique_ptr<QRMCursor> openSelect(const icu::UnicodeString& table,
                                                const std::vector<icu::UnicodeString>& columns) = 0;
};

// The configuration source of one database connection (not owned; it must outlive the source and is
// used by one thread at a time).
class DBConfig : public ConfigSource {
 public:
  explicit DBConfig(QRMDB& connection) : connection_(connection) {}

  int32_t forEachQueryRow(int32_t number, CRowVisitor& visitor) override;
  int32_t forEachRow(const icu::UnicodeString& table, const std::vector<icu::UnicodeString>& columns,
                     CRowVisitor& visitor) override;
  std::unique_ptr<QRMCursor> openQuery(int32_t number) override;
  std::unique_ptr<QRMCursor> openSelect(const icu::UnicodeString& table,
                                        const std::vector<icu::UnicodeString>& columns) override;

  // "SELECT c1, c2 FROM table": no WHERE, no ORDER BY; rows come in the database's order.
  static icu::UnicodeString selectText(const icu::UnicodeString& table,
                                       const std::vector<icu::UnicodeString>& columns);
  // The text of a numbered query. This system reads no other component's tables, so every number
  // answers the empty text, and a cursor on it is never opened and holds no row.
  static icu::UnicodeString queryText(int32_t number);

 private:
  std::unique_ptr<QRMCursor> openText(const icu::UnicodeString& sql);

  QRMDB& connection_;
};

}  // namespace hcs
