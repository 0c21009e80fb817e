#include "db/index_metadata.h"

#include <thread>

#include <unicode/uchar.h>

#include "db/qrm_db.h"
#include "util/numbers.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {

DBIndexer& DBIndexer::instance() {
  static DBIndexer indexer;
  return indexer;
}

bool DBIndexer::claim() {
  State expected = kEmpty;
  return state_.compare_exchange_strong(expected, kFilling, std::memory_order_acq_rel);
}

bool DBIndexer::finish() {
  State expected = kFilling;
  return state_.compare_exchange_strong(expected, kReady, std::memory_order_acq_rel);
}

void DBIndexer::abandon() {
  std::lock_guard lock(mutex_);
  indexes_.clear();
  State expected = kFilling;
  state_.compare_exchange_strong(expected, kEmpty, std::memory_order_acq_rel);
}

bool DBIndexer::isReady() const { return state_.load(std::memory_order_acquire) == kReady; }

void DBIndexer::addColumn(const icu::UnicodeString& table, const icu::UnicodeString& index,
                          const icu::UnicodeString& column) {
  std::lock_guard lock(mutex_);
  indexes_[table][index].push_back(column);
}

std::list<icu::UnicodeString> DBIndexer::columns(const icu::UnicodeString& table,
                                                 const icu::UnicodeString& index) const {
  std::lock_guard lock(mutex_);
  auto t = indexes_.find(table);
  if (t == indexes_.end()) return {};
  auto i = t->second.find(index);
  return i == t->second.end() ? std::list<icu::UnicodeString>{} : i->second;
}

size_t DBIndexer::tableCount() const {
  std::lock_guard lock(mutex_);
  return indexes_.size();
}

void DBIndexer::reset() {
  std::lock_guard lock(mutex_);
  indexes_.clear();
  state_.store(kEmpty, std::memory_order_release);
}

namespace {

QRMSQL_Exception indexFailure(const char16_t* text) {
  return QRMSQL_Exception("", icu::UnicodeString(text), 999999, "", "", 999, kSeverityCritical);
}

const char16_t* const kMssql2005Query =
    u"SELECT sys.objects.name as 'Table Name', sys.indexes.name as 'Index Name', sys.columns.name as 'Column "
    u"Name', "
    u"sys.index_columns.key_ordinal as 'Position' FROM sys.objects INNER JOIN sys.indexes ON "
    u"sys.objects.object_id = "
    u"sys.indexes.object_id INNER JOIN sys.index_columns ON sys.indexes.object_id = "
    u"sys.index_columns.object_id       "
    u"     AND sys.indexes.index_id = sys.index_columns.index_id INNER JOIN sys.columns ON "
    u"sys.index_columns.object_id = sys.columns.object_id            AND sys.index_columns.column_id = "
    u"sys.columns.column_id WHERE sys.objects.type = 'U' ORDER BY sys.objects.name, sys.indexes.name, "
    u"sys.index_columns.key_ordinal";

const char16_t* const kMssql2000Query =
    u"SELECT  OBJECT_NAME(I.ID) AS 'Table Name', I.NAME AS 'Index Name', syscolumns.name as 'Column Name', "
    u"SYSINDEXKEYS.keyno  as 'Position' FROM SYSINDEXES I INNER JOIN SYSINDEXKEYS ON I.ID=SYSINDEXKEYS.ID "
    u"AND "
    u"I.INDID=SYSINDEXKEYS.INDID INNER JOIN SYSCOLUMNS ON SYSINDEXKEYS.ID=SYSCOLUMNS.ID AND "
    u"SYSINDEXKEYS.COLID=SYSCOLUMNS.COLID WHERE I.INDID > 0 AND I.INDID < 255 AND (I.STATUS & 64)=0 order by "
    u"OBJECT_NAME(I.ID),I.NAME,SYSINDEXKEYS.keyno";

const char16_t* const kOracleQuery =
    u"SELECT C.TABLE_NAME, C.INDEX_NAME, (CASE WHEN substr(COLUMN_NAME,1,3) = 'SYS' THEN (SELECT "
    u"f_Return_Index_expression(index_name,column_position) FROM user_ind_expressions X WHERE X.INDEX_NAME = "
    u"C.INDEX_NAME and X.INDEX_NAME = I.INDEX_NAME AND I.TABLE_NAME = X.TABLE_NAME AND C.TABLE_NAME = "
    u"X.TABLE_NAME "
    u"AND X.COLUMN_POSITION = C.COLUMN_POSITION) ELSE COLUMN_NAME END) AS COLUMN_NAME, COLUMN_POSITION FROM "
    u"USER_INDEXES I, USER_IND_COLUMNS C WHERE I.INDEX_NAME = C.INDEX_NAME ORDER BY C.TABLE_NAME, "
    u"C.INDEX_NAME, "
    u"C.COLUMN_POSITION";

const char16_t* const kDb2CatalogPrefix =
    u"select i.TABNAME, icu.INDNAME, icu.colname , icu.colseq from SYSCAT.INDEXCOLUSE icu , SYSCAT.INDEXES i "
    u"where "
    u"icu.indschema= '";
const char16_t* const kDb2CatalogSuffix =
    u"' and i.INDSCHEMA = icu.indschema and i.INDNAME = icu.INDNAME ORDER BY i.TABNAME, icu.INDNAME, "
    u"icu.COLSEQ";
const char16_t* const kDb2SystemPrefix =
    u"SELECT  si.tbname AS tabname,si.name AS indname, sk.colname, sk.colseq FROM sysibm.sysindexes si, "
    u"sysibm.syskeys sk where si.name=sk.ixname and creator='";
const char16_t* const kDb2SystemSuffix =
    u"' and si.creator = sk.ixcreator order by tabname, indname, colseq ASC ";

// The two schemes this project adds read their catalogs the same way: table, index, column, position.
const char16_t* const kPgQuery =
    u"SELECT t.relname, i.relname, a.attname, k.n FROM pg_index x JOIN pg_class t ON t.oid = x.indrelid "
    u"JOIN pg_class i ON i.oid = x.indexrelid JOIN pg_namespace ns ON ns.oid = t.relnamespace "
    u"CROSS JOIN LATERAL unnest(x.indkey::int2[]) WITH ORDINALITY AS k(attnum, n) "
    u"JOIN pg_attribute a ON a.attrelid = t.oid AND a.attnum = k.attnum "
    u"WHERE ns.nspname = current_schema() ORDER BY 1, 2, 4";
const char16_t* const kSqliteQuery =
    u"SELECT m.name, il.name, ii.name, ii.seqno FROM sqlite_master m, pragma_index_list(m.name) il, "
    u"pragma_index_info(il.name) ii WHERE m.type = 'table' ORDER BY 1, 2, 4";

icu::UnicodeString columnText(DBIReader& reader, size_t column) {
  DBIValue value;
  reader[column] >> value;
  return value.asUString();
}

// The year of "Microsoft SQL Server <year>…"; 0 for any other text.
int32_t mssqlYear(const icu::UnicodeString& version) {
  static const icu::UnicodeString kProduct(u"Microsoft SQL Server ");
  const int32_t after = kProduct.length() + 4;
  if (!version.startsWith(kProduct) || version.length() < after) return 0;
  if (after < version.length() && u_isdigit(version.charAt(after))) return 0;
  return static_cast<int32_t>(readStrict(version.tempSubString(kProduct.length(), 4), StrictRule{}).value);
}

icu::UnicodeString chooseQuery(QRMDB& database, const CUri& uri) {
  icu::UnicodeString type(database.databaseType());
  type.toLower();
  if (type == u"mssql") {
    QRMDBStatement version = database.createStatement(u"SELECT  @@VERSION");
    DBIReader reader = database.executeReader(version);
    icu::UnicodeString text;
    while (reader()) text = columnText(reader, 0);
    if (text.startsWith(u"Microsoft SQL Server  2000")) return kMssql2000Query;
    // The catalog views the 2005 query reads exist in every version since; later versions only
    // change the year in the text ("Microsoft SQL Server 2008 R2 (SP2) - …", "… 2022 (RTM) - …").
    if (mssqlYear(text) >= 2005) return kMssql2005Query;
    throw indexFailure(u"Unsupported MSSQL version.");
  }
  if (type == u"oci") return kOracleQuery;
  if (type == u"db2") {
    const icu::UnicodeString schema = db2Schema(uri.text, true);
    bool catalogViews = true;
    try {
      database.connection()->executeSql(
          "select INDNAME from SYSCAT.INDEXCOLUSE WHERE INDNAME='DUMMYSTATEMENT'");
    } catch (...) {
      catalogViews = false;  // no SYSCAT views on this server: use the system tables
    }
    icu::UnicodeString query(catalogViews ? kDb2CatalogPrefix : kDb2SystemPrefix);
    return query.append(schema).append(catalogViews ? kDb2CatalogSuffix : kDb2SystemSuffix);
  }
  if (type == u"pg") return kPgQuery;
  if (type == u"sqlite") return kSqliteQuery;
  return {};
}

}  // namespace

void fillIndexMetadata(QRMDB& database, const CUri& uri) {
  DBIndexer& indexer = DBIndexer::instance();
  // Up to 100 checks, 99 sleeps apart. An opener whose filling failed gave its claim back, and a
  // waiting opener then takes it over instead of waiting for a filling nobody finishes.
  for (int check = 0; !indexer.claim(); ++check) {
    if (indexer.isReady()) return;
    if (check == 99) throw indexFailure(u"Difficulties initializing index query structure.");
    std::this_thread::sleep_for(indexer.pollInterval());
  }
  struct ClaimGuard {
    DBIndexer& indexer;
    bool finished = false;
    ~ClaimGuard() {
      if (!finished) indexer.abandon();
    }
  } guard{indexer};
  icu::UnicodeString query = chooseQuery(database, uri);
  if (!query.isEmpty()) {
    QRMDBStatement statement = database.createStatement(query);
    DBIReader reader = database.executeReader(statement);
    while (reader()) {
      icu::UnicodeString table = columnText(reader, 0);
      icu::UnicodeString index = columnText(reader, 1);
      indexer.addColumn(table, index, columnText(reader, 2));
    }
  }
  guard.finished = indexer.finish();
  if (!guard.finished) throw indexFailure(u"DBIndexer couldn't finish initialization.");
}

}  // namespace hcs
