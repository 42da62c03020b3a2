// Start-up with a full-size catalogue, to the shown main window (provisioning
// check, password read, window construction with its quote dates, first show
// and paint):
//  - cold: a new process each time, from its start (loading the libraries, the
//    application object, the web panes' browser engine) to the shown window,
//    then that process's peak memory with the latest-net-value view of 20,000
//    funds loaded;
//  - warm: one more window in a process that has shown one before.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <spawn.h>
#include <sys/wait.h>
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

// The program's start-up steps up to the shown, painted main window.
std::unique_ptr<zeza::CFundDlg> StartToShownWindow() {
    zeza::CFundApp::SetDialogBkColor(QColor(zeza::CFundApp::kDialogBkColor), Qt::black);
    zeza::CFundDb startup;
    benchmark::DoNotOptimize(startup.ReadPassword());
    auto dlg = std::make_unique<zeza::CFundDlg>();
    dlg->show();
    QCoreApplication::processEvents();
    return dlg;
}

void BM_StartupToShownWindow(benchmark::State& state) {
    for (auto _ : state) {
        auto dlg = StartToShownWindow();
        state.PauseTiming();
        dlg->reject();
        dlg.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartupToShownWindow)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

long long NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Runs this program again as a cold start in the database folder and reads
// back its two figures. False when the child failed.
bool RunColdStart(double& shownMs, double& peakMb) {
    int out[2];
    if (pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string started = std::to_string(NowNs());
    char self[] = "/proc/self/exe";
    char mode[] = "--cold-start";
    char* argv[] = {self, mode, started.data(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return false;
    }
    std::string text;
    char buf[256];
    for (ssize_t n; (n = read(out[0], buf, sizeof(buf))) > 0;) text.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long long shownNs = 0;
    long peakKb = 0;
    const char* figures = std::strstr(text.c_str(), "shown_ns=");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !figures ||
        std::sscanf(figures, "shown_ns=%lld peak_kb=%ld", &shownNs, &peakKb) != 2)
        return false;
    shownMs = static_cast<double>(shownNs) / 1e6;
    peakMb = static_cast<double>(peakKb) / 1024.0;
    return true;
}

void BM_ColdStartToShownWindow(benchmark::State& state) {
    double peakMb = 0;
    for (auto _ : state) {
        double shownMs = 0;
        if (!RunColdStart(shownMs, peakMb)) {
            state.SkipWithError("cold start failed");
            return;
        }
        state.SetIterationTime(shownMs / 1000.0);
    }
    state.counters["peak_MB"] = peakMb;
}
BENCHMARK(BM_ColdStartToShownWindow)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// This process's peak resident memory. (getrusage's figure may carry the
// peak of the process this one was started from.)
long PeakResidentKb() {
    long kb = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof(line), f))
            if (std::sscanf(line, "VmHWM: %ld", &kb) == 1) break;
        std::fclose(f);
    }
    return kb;
}

// The child of a cold start: the program's own start-up, timed from the
// moment the parent started the process.
int ColdStart(int argc, char** argv, long long startedNs) {
    QApplication app(argc, argv);
    zeza::CFundDlg::SetAutoRefreshForTesting(false);
    auto dlg = StartToShownWindow();
    const long long shownNs = NowNs() - startedNs;
    dlg->OnLatest();
    QCoreApplication::processEvents();
    if (dlg->List()->GetItemCount() != kFunds) return 1;
    std::printf("shown_ns=%lld peak_kb=%ld\n", shownNs, PeakResidentKb());
    std::fflush(stdout);
    dlg->reject();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The web panes' browser engine will not start as root inside its sandbox.
    if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    zeza::CWebBrowser2::PrepareApplication();
    if (argc == 3 && std::strcmp(argv[1], "--cold-start") == 0)
        return ColdStart(argc, argv, std::atoll(argv[2]));
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
