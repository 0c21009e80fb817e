#include "config/config_source.h"

#include "db/qrm_cursor.h"
#include "db/qrm_db.h"

namespace hcs {

namespace {

int32_t visitAll(QRMCursor& cursor, CRowVisitor& visitor) {
  while (cursor.isValid()) {
    visitor.visit(cursor);
    cursor.next();
  }
  return 0;
}

}  // namespace

CRowVisitor::~CRowVisitor() = default;
ConfigSource::~ConfigSource() = default;

icu::UnicodeString DBConfig::selectText(const icu::UnicodeString& table,
                                        const std::vector<icu::UnicodeString>& columns) {
  icu::UnicodeString sql(u"SELECT ");
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) sql.append(u", ");
    sql.append(columns[i]);
  }
  return sql.append(u" FROM ").append(table);
}

icu::UnicodeString DBConfig::queryText(int32_t) { return {}; }

std::unique_ptr<QRMCursor> DBConfig::openText(const icu::UnicodeString& sql) {
  auto cursor = std::make_unique<QRMCursor>();
  if (sql.isEmpty()) return cursor;  // nothing to run: an empty cursor rather than a database error
  icu::UnicodeString terminated(sql);
  // The result is not looked at: a failure the cursor absorbed leaves it without rows.
  cursor->open(&connection_, terminated.getTerminatedBuffer(), true);
  return cursor;
}

std::unique_ptr<QRMCursor> DBConfig::openQuery(int32_t number) { return openText(queryText(number)); }

std::unique_ptr<QRMCursor> DBConfig::openSelect(const icu::UnicodeString& table,
                                                const std::vector<icu::UnicodeString>& columns) {
  return openText(selectText(table, columns));
}

int32_t DBConfig::forEachQueryRow(int32_t number, CRowVisitor& visitor) {
  return visitAll(*openQuery(number), visitor);
}

int32_t DBConfig::forEachRow(const icu::UnicodeString& table, const std::vector<icu::UnicodeString>& columns,
                             CRowVisitor& visitor) {
  return visitAll(*openSelect(table, columns), visitor);
}

}  // namespace hcs
