// The light pass of a trading day with 20,000 funds: the control file and a
// 20,000-line estimate feed fetched from a local server and applied, the shown
// view's rows read on the refresh thread, and the view's values refreshed in
// place on the UI thread. The "ui" cases time the UI thread's part alone.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <QApplication>

#include "bench/BenchSupport.h"
#include "db/CFundDb.h"
#include "platform/ServerConfig.h"
#include "tables/CFundListCtrl.h"
#include "tables/ViewDefinition.h"
#include "tables/ViewLoader.h"
#include "tests/LocalHttpServer.h"

namespace {

constexpr int kFunds = 20000;
constexpr const char* kDate = "2024-03-15";
constexpr int kEstimateColumn = 6;  // 预估增长额 of the forecast view

zeza::CFundListCtrl* g_ctrl = nullptr;
zeza::test::LocalHttpServer* g_server = nullptr;
int g_estTime = 1700000000;

// The next pass's files: a new estTime, and every estimate moved by up to ±1.5 %.
void ServeNextPass() {
    ++g_estTime;
    std::string est;
    est.reserve(kFunds * 16);
    for (int i = 0; i < kFunds; ++i) {
        const double valtd = 0.5 + (i % 997) / 331.0;
        const double move = (((i * 7919 + g_estTime) % 301) - 150) / 10000.0;
        char line[48];
        std::snprintf(line, sizeof(line), "%06d|%.4f\r\n", 100000 + i, valtd * (1.0 + move));
        est += line;
    }
    g_server->Serve("/fund/fund.php", "[FU]\r\nlistTime=1200417988\r\nstkTime=0\r\nestTime=" +
                                          std::to_string(g_estTime) + "\r\n");
    g_server->Serve("/fund/gdata.php", std::move(est));
}

// What the refresh thread does: the pass, then the shown view's rows read.
bool RefreshThreadPart(zeza::CFundDb& db) {
    if (db.LightSync() != 1) return false;
    std::shared_ptr<const zeza::ViewTable> table;
    return zeza::LoadViewTable(zeza::GetViewDefinition(zeza::ViewKind::Forecast), kDate, table) >= 0;
}

void Show(int sortColumn) {
    g_ctrl->LoadForecast(-1);
    if (sortColumn >= 0) g_ctrl->LoadForecast(sortColumn);
    g_ctrl->selectRow(100);
    QCoreApplication::processEvents();
}

void BM_LightPass(benchmark::State& state, bool uiOnly, int sortColumn) {
    zeza::CFundDb db;
    Show(sortColumn);
    for (auto _ : state) {
        if (uiOnly) state.PauseTiming();
        ServeNextPass();
        if (!RefreshThreadPart(db)) state.SkipWithError("light pass failed");
        if (uiOnly) state.ResumeTiming();
        if (g_ctrl->RefreshView() < 0) state.SkipWithError("refresh failed");
        QCoreApplication::processEvents();
    }
    state.counters["rows"] = g_ctrl->GetItemCount();
}

#define ZEZA_LIGHT_BENCH(name, uiOnly, col)            \
    BENCHMARK_CAPTURE(BM_LightPass, name, uiOnly, col) \
        ->Unit(benchmark::kMillisecond)                \
        ->Iterations(1)                                \
        ->Repetitions(15)                              \
        ->ReportAggregatesOnly(true)

ZEZA_LIGHT_BENCH(whole, false, -1);
ZEZA_LIGHT_BENCH(ui, true, -1);
// Sorted by an estimate column: the rows are sorted again.
ZEZA_LIGHT_BENCH(ui_sorted_by_estimate, true, kEstimateColumn);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    zeza::bench::BenchFolder folder;
    if (!folder.Made()) return 1;
    setenv("XDG_CACHE_HOME", folder.Path().c_str(), 1);

    int rc = 0;
    zeza::test::LocalHttpServer server;
    server.Start();
    zeza::SetServerBaseUrlForTesting(server.Base());
    if (zeza::bench::BuildFundDatabase(kFunds, kDate, 4, 4)) {
        zeza::CFundListCtrl ctrl;
        ctrl.m_strDate = kDate;
        ctrl.resize(1280, 800);
        ctrl.show();
        QCoreApplication::processEvents();
        g_ctrl = &ctrl;
        g_server = &server;
        benchmark::RunSpecifiedBenchmarks();
        g_ctrl = nullptr;
        g_server = nullptr;
    } else {
        std::fprintf(stderr, "could not build the benchmark database\n");
        rc = 1;
    }
    server.Stop();
    benchmark::Shutdown();
    return rc;
}
