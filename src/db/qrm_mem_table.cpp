#include "db/qrm_mem_table.h"

namespace hcs {

QRMDBMemTableImp::QRMDBMemTableImp(const DBIStatus& status, const DBISchema& schema, int32_t fetchSize)
    : DBIMemTableImp(status, schema), fetchSize_(fetchSize < 1 ? 1 : fetchSize) {}

QRMDBMemTableImp::~QRMDBMemTableImp() = default;

bool QRMDBMemTableImp::populate(DBIStatement& statement) {
  fetchCalls_ = 0;
  if (!statement.isValid()) return false;
  depopulate();
  std::vector<DBIRow> block;
  for (;;) {
    ++fetchCalls_;
    if (statement.fetch(static_cast<size_t>(fetchSize_), block) == 0) break;
    for (DBIRow& row : block) appendRow(std::make_unique<DBIRow>(std::move(row)));
  }
  return true;
}

}  // namespace hcs
