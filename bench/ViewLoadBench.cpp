// Loading each view of the fund list with a full-size catalogue: the whole
// path of a view button or header click, query (or the rows kept from the last
// one, while the database is unchanged) to painted table; and the same after a
// commit, when the rows must be read again.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <QApplication>

#include "bench/BenchSupport.h"
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
    return zeza::bench::BuildFundDatabase(kFunds, kDate, kFunds / kHoldings, kFunds / kWatched);
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

    zeza::bench::BenchFolder folder;
    if (!folder.Made()) return 1;

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
    return rc;
}
