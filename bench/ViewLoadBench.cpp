// Loading each view of the fund list with a full-size catalogue: the whole
// path of a view button or header click, query (or the rows kept from the last
// one, while the database is unchanged) to painted table; and the same after a
// commit, when the rows must be read again.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include <QApplication>

#include "db/CFundDb.h"
#include "db/SqliteConnection.h"
#include "platform/GbkCodec.h"
#include "tables/CFundListCtrl.h"
#include "tables/ViewDefinition.h"
#include "tables/ViewLoader.h"
#include "tests/ViewRowsReference.h"

namespace {

constexpr int kFunds = 20000;
constexpr int kHoldings = 5000;  // one fund in four held
constexpr int kWatched = 5000;   // one fund in four watched
constexpr const char* kDate = "2024-03-15";

zeza::CFundListCtrl* g_ctrl = nullptr;

bool BuildDatabase() {
    using zeza::SqlParams;
    if (zeza::CFundDb::WriteTemplateDatabase() != 1) return false;
    zeza::SqliteConnection db;
    if (!db.Open() || db.Exec("BEGIN; DELETE FROM fu_list;") != SQLITE_OK) return false;
    const std::string types[] = {zeza::Utf8ToGbk("股票型"), zeza::Utf8ToGbk("混合型"),
                                 zeza::Utf8ToGbk("债券型"), zeza::Utf8ToGbk("指数型")};
    const std::string stem = zeza::Utf8ToGbk("华夏增强收益");
    for (int i = 0; i < kFunds; ++i) {
        char code[16];
        std::snprintf(code, sizeof(code), "%06d", 100000 + i);
        const double valtd = 0.5 + (i % 997) / 331.0;
        const double valytd = valtd + ((i % 7) - 3) / 1000.0;
        if (db.Exec("INSERT INTO fu_list (idl,codel,name,type,look,estval) VALUES (?,?,?,?,?,?)",
                    {static_cast<long long>(i + 1), std::string(code), stem + std::to_string(i), types[i % 4],
                     static_cast<long long>(i % (kFunds / kWatched) == 0 ? -1 : 0), valtd * 1.01}) !=
                SQLITE_OK ||
            db.Exec("INSERT INTO fu_stk (codes,valreal,valtd,valytd,gdate) VALUES (?,?,?,?,?)",
                    {std::string(code), valtd + 1.0, valtd, valytd, std::string(kDate)}) != SQLITE_OK)
            return false;
        if (i % (kFunds / kHoldings) == 1 &&
            db.Exec("INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES (?,?,?,?)",
                    {std::string(code), 1000.0 + i, 800.0 + i % 300, zeza::Utf8ToGbk("定投")}) != SQLITE_OK)
            return false;
    }
    return db.Exec("COMMIT;") == SQLITE_OK;
}

void BM_View(benchmark::State& state, int (zeza::CFundListCtrl::*load)(int), int sortColumn) {
    int rows = 0;
    for (auto _ : state) {
        if ((g_ctrl->*load)(sortColumn) < 0) state.SkipWithError("load failed");
        // Paint what a user would see of the new rows.
        QCoreApplication::processEvents();
        rows = g_ctrl->GetItemCount();
    }
    state.counters["rows"] = rows;
}

// A view button after another connection committed (a feed, a tick): the
// query runs again.
void BM_ViewAfterCommit(benchmark::State& state, int (zeza::CFundListCtrl::*load)(int)) {
    zeza::SqliteConnection writer;
    if (!writer.Open()) state.SkipWithError("no database");
    int rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (writer.Exec("UPDATE fu_iniLoc SET updateTime=updateTime+1") != SQLITE_OK)
            state.SkipWithError("commit failed");
        state.ResumeTiming();
        if ((g_ctrl->*load)(-1) < 0) state.SkipWithError("load failed");
        QCoreApplication::processEvents();
        rows = g_ctrl->GetItemCount();
    }
    state.counters["rows"] = rows;
}
BENCHMARK_CAPTURE(BM_ViewAfterCommit, latest, &zeza::CFundListCtrl::LoadLatest)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

#define ZEZA_VIEW_BENCH(name, fn, col)                              \
    BENCHMARK_CAPTURE(BM_View, name, &zeza::CFundListCtrl::fn, col) \
        ->Unit(benchmark::kMillisecond)                             \
        ->Iterations(1)                                             \
        ->Repetitions(15)                                           \
        ->ReportAggregatesOnly(true)

ZEZA_VIEW_BENCH(latest, LoadLatest, -1);
ZEZA_VIEW_BENCH(forecast, LoadForecast, -1);
ZEZA_VIEW_BENCH(watch, LoadWatch, -1);
ZEZA_VIEW_BENCH(holdings, LoadHoldings, -1);
// A header click: the same view again, ordered by the change column.
ZEZA_VIEW_BENCH(latest_sorted, LoadLatest, 8);

// The query and the cell texts alone, without the table: what is left of a
// view load above this is the table's own work (model, row colours, paint).
void BM_Rows(benchmark::State& state, zeza::ViewKind kind) {
    size_t rows = 0;
    for (auto _ : state) {
        zeza::test::ViewRows out;
        if (zeza::test::LoadViewRows(zeza::GetViewDefinition(kind), kDate, -1, true, out) < 0)
            state.SkipWithError("query failed");
        rows = out.rows.size();
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK_CAPTURE(BM_Rows, latest, zeza::ViewKind::Latest)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    std::string dir = (std::filesystem::temp_directory_path() / "zeza-bench-XXXXXX").string();
    if (!mkdtemp(dir.data())) return 1;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);

    int rc = 0;
    if (BuildDatabase()) {
        zeza::CFundListCtrl ctrl;
        ctrl.m_strDate = kDate;
        ctrl.resize(1280, 800);
        ctrl.show();
        QCoreApplication::processEvents();
        g_ctrl = &ctrl;
        benchmark::RunSpecifiedBenchmarks();
        g_ctrl = nullptr;
    } else {
        std::fprintf(stderr, "could not build the benchmark database\n");
        rc = 1;
    }
    benchmark::Shutdown();

    std::error_code ec;
    std::filesystem::current_path(previous, ec);
    std::filesystem::remove_all(dir, ec);
    return rc;
}
