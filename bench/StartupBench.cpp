// Start-up with a full-size catalogue: from nothing to the shown main window
// (provisioning check, password read, window construction with its quote
// dates, first show and paint), then the peak memory with the latest-net-value
// view of 20,000 funds loaded.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>

#include "app/CFundApp.h"
#include "app/CFundDlg.h"
#include "db/CFundDb.h"
#include "db/SqliteConnection.h"
#include "platform/GbkCodec.h"
#include "tables/CFundListCtrl.h"
#include "web/CWebBrowser2.h"

namespace {

constexpr int kFunds = 20000;

bool BuildDatabase() {
    if (zeza::CFundDb::WriteTemplateDatabase() != 1) return false;
    zeza::SqliteConnection db;
    if (!db.Open() || db.Exec("BEGIN; DELETE FROM fu_list;") != SQLITE_OK) return false;
    const std::string type = zeza::Utf8ToGbk("股票型");
    const std::string stem = zeza::Utf8ToGbk("华夏成长精选");
    for (int i = 0; i < kFunds; ++i) {
        char code[16];
        std::snprintf(code, sizeof(code), "%06d", 100000 + i);
        const double valtd = 0.5 + (i % 997) / 331.0;
        db.Exec("INSERT INTO fu_list (codel,name,type,estval) VALUES (?,?,?,?)",
                {std::string(code), stem + std::to_string(i), type, valtd * 1.01});
        db.Exec("INSERT INTO fu_stk (codes,valreal,valtd,valytd,gdate) VALUES (?,?,?,?,?)",
                {std::string(code), valtd + 1.0, valtd, valtd * 0.99, std::string("2008-11-14")});
        if (i % 20 == 0)
            db.Exec("INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES (?,?,?,'')",
                    {std::string(code), 1000.0, 900.0});
    }
    return db.Exec("COMMIT;") == SQLITE_OK;
}

void BM_StartupToShownWindow(benchmark::State& state) {
    for (auto _ : state) {
        zeza::CFundApp::SetDialogBkColor(QColor(zeza::CFundApp::kDialogBkColor), Qt::black);
        zeza::CFundDb startup;
        benchmark::DoNotOptimize(startup.ReadPassword());
        zeza::CFundDlg dlg;
        dlg.show();
        QCoreApplication::processEvents();
        state.PauseTiming();
        dlg.reject();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartupToShownWindow)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_PeakMemoryWithLatestView(benchmark::State& state) {
    long peakKb = 0;
    for (auto _ : state) {
        zeza::CFundDlg dlg;
        dlg.show();
        dlg.OnLatest();
        QCoreApplication::processEvents();
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        peakKb = ru.ru_maxrss;
        if (dlg.List()->GetItemCount() != kFunds) state.SkipWithError("view not filled");
        dlg.reject();
    }
    state.counters["peak_MB"] = static_cast<double>(peakKb) / 1024.0;
}
BENCHMARK(BM_PeakMemoryWithLatestView)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    zeza::CWebBrowser2::PrepareApplication();
    QApplication app(argc, argv);
    zeza::CFundDlg::SetAutoRefreshForTesting(false);
    char dir[] = "/tmp/zeza-bench-startup-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::filesystem::current_path(dir);
    if (!BuildDatabase()) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::current_path("/");
    std::filesystem::remove_all(dir);
    return 0;
}
