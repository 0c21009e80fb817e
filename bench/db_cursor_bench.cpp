// Rows per second through QRMCursor from a real PostgreSQL, by rows per bulk fetch.
#include <benchmark/benchmark.h>

#include "db/qrm_cursor.h"
#include "db/qrm_db.h"

#ifdef HCS_BENCH_WITH_TEST_SUPPORT
#include "support/pg_cluster.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

constexpr int kRows = 10000;

void prepareTable() {
  static bool done = [] {
    test::PgCluster::shared().psql(
        "CREATE TABLE IF NOT EXISTS bench_rows (k INTEGER PRIMARY KEY, name VARCHAR(40), amount DOUBLE "
        "PRECISION); "
        "TRUNCATE bench_rows; INSERT INTO bench_rows SELECT g, 'name ' || g, g * 1.5 FROM "
        "generate_series(1, " +
        std::to_string(kRows) + ") g");
    return true;
  }();
  (void)done;
}

// Isolates fetching through QRMCursor (ODBC bulk fetch, row buffers, value conversion) by rows per fetch.
void BM_CursorFromPostgres(benchmark::State& state) {
  if (!test::PgCluster::available()) {
    state.SkipWithError("PostgreSQL 15 is not installed");
    return;
  }
  prepareTable();
  test::PgCluster& cluster = test::PgCluster::shared();
  std::string uri = "pg://" + cluster.user() + ":x@" + cluster.host() + ":" + std::to_string(cluster.port()) +
                    "/" + cluster.database() + "?fetching=" + std::to_string(state.range(0));
  QRMDB db{UCString(uri)};
  db.open();
  int64_t rows = 0;
  for (auto _ : state) {
    QRMCursor cursor;
    cursor.open(&db, u"SELECT k, name, amount FROM bench_rows", true);
    for (; cursor.isValid(); cursor.next()) {
      benchmark::DoNotOptimize(cursor.value(1));
      ++rows;
    }
  }
  state.SetItemsProcessed(rows);
}
BENCHMARK(BM_CursorFromPostgres)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hcs
#endif
