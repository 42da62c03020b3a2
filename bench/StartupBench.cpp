// Start-up with a full-size catalogue, to the shown main window (provisioning
// check, password read, window construction with its quote dates, first show
// and paint):
//  - cold: a new process each time, from its start (loading the libraries, the
//    application object, the web panes) to the shown window, and to the end of
//    the window's first paint; then that process's peak memory with the
//    latest-net-value view of 20,000 funds loaded, and the resident memory of
//    the process and all its helper processes after visiting the four views;
//  - warm: one more window in a process that has shown one before.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QWindow>

#include "app/CFundApp.h"
#include "app/CFundDlg.h"
#include "db/CFundDb.h"
#include "db/SqliteConnection.h"
#include "platform/GbkCodec.h"
#include "tables/CFundListCtrl.h"

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
        if (db.Exec("INSERT INTO fu_list (codel,name,type,estval) VALUES (?,?,?,?)",
                    {std::string(code), stem + std::to_string(i), type, valtd * 1.01}) != SQLITE_OK ||
            db.Exec("INSERT INTO fu_stk (codes,valreal,valtd,valytd,gdate) VALUES (?,?,?,?,?)",
                    {std::string(code), valtd + 1.0, valtd, valtd * 0.99, std::string("2008-11-14")}) !=
                SQLITE_OK)
            return false;
        if (i % 20 == 0 && db.Exec("INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES (?,?,?,'')",
                                   {std::string(code), 1000.0, 900.0}) != SQLITE_OK)
            return false;
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
struct ColdFigures {
    double shownMs = 0, paintedMs = 0, peakMb = 0, residentMb = 0;
};

bool RunColdStart(ColdFigures& f) {
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
    long long shownNs = 0, paintedNs = 0;
    long peakKb = 0, residentKb = 0;
    const char* figures = std::strstr(text.c_str(), "shown_ns=");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !figures ||
        std::sscanf(figures, "shown_ns=%lld painted_ns=%lld peak_kb=%ld resident_kb=%ld", &shownNs,
                    &paintedNs, &peakKb, &residentKb) != 4)
        return false;
    f.shownMs = static_cast<double>(shownNs) / 1e6;
    f.paintedMs = static_cast<double>(paintedNs) / 1e6;
    f.peakMb = static_cast<double>(peakKb) / 1024.0;
    f.residentMb = static_cast<double>(residentKb) / 1024.0;
    return true;
}

// The time of one cold start, to the shown window or to the end of its first paint.
void BM_ColdStart(benchmark::State& state, bool toFirstPaint) {
    ColdFigures f;
    for (auto _ : state) {
        if (!RunColdStart(f)) {
            state.SkipWithError("cold start failed");
            return;
        }
        state.SetIterationTime((toFirstPaint ? f.paintedMs : f.shownMs) / 1000.0);
    }
    state.counters["peak_MB"] = f.peakMb;
    state.counters["rss_all_MB"] = f.residentMb;
}
BENCHMARK_CAPTURE(BM_ColdStart, ToShownWindow, false)
    ->Name("BM_ColdStartToShownWindow")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_ColdStart, ToFirstPaint, true)
    ->Name("BM_ColdStartToFirstPaint")
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

long ResidentKb(int pid) {
    long kb = 0;
    if (FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof(line), f))
            if (std::sscanf(line, "VmRSS: %ld", &kb) == 1) break;
        std::fclose(f);
    }
    return kb;
}

// Resident memory of this process and of every process descended from it
// (the browser engine's helpers).
long ResidentKbWithHelpers() {
    std::vector<std::pair<int, int>> parents;  // pid, parent pid
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        if (FILE* f = std::fopen((entry.path() / "stat").c_str(), "r")) {
            int pid = 0, ppid = 0;
            // pid (comm) state ppid: comm may hold spaces, so read past the last ')'.
            char buf[512];
            if (std::fgets(buf, sizeof(buf), f)) {
                const char* close = std::strrchr(buf, ')');
                if (close && std::sscanf(buf, "%d", &pid) == 1 &&
                    std::sscanf(close + 1, " %*c %d", &ppid) == 1)
                    parents.emplace_back(pid, ppid);
            }
            std::fclose(f);
        }
    }
    std::vector<int> tree{static_cast<int>(getpid())};
    for (size_t i = 0; i < tree.size(); ++i)
        for (const auto& [pid, ppid] : parents)
            if (ppid == tree[i]) tree.push_back(pid);
    long kb = 0;
    for (int pid : tree) kb += ResidentKb(pid);
    return kb;
}

// Reads the clock when the window's first paint is done: the expose event that
// paints it is handled here first.
class FirstPaintClock : public QObject {
  public:
    long long paintedNs = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (paintedNs == 0 && event->type() == QEvent::Expose && watched->isWindowType() &&
            static_cast<QWindow*>(watched)->isExposed()) {
            watched->event(event);
            paintedNs = NowNs();
            return true;
        }
        return false;
    }
};

// The child of a cold start: the program's own start-up, timed from the
// moment the parent started the process.
int ColdStart(int argc, char** argv, long long startedNs) {
    QApplication app(argc, argv);
    FirstPaintClock clock;
    app.installEventFilter(&clock);
    zeza::CFundDlg::SetAutoRefreshForTesting(false);
    auto dlg = StartToShownWindow();
    const long long shownNs = NowNs() - startedNs;
    for (int i = 0; clock.paintedNs == 0 && i < 200; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(1000);
    }
    if (clock.paintedNs == 0) return 1;
    const long long paintedNs = clock.paintedNs - startedNs;
    app.removeEventFilter(&clock);
    dlg->OnLatest();
    QCoreApplication::processEvents();
    if (dlg->List()->GetItemCount() != kFunds) return 1;
    const long peakKb = PeakResidentKb();
    // The other three views, then a moment for helper processes to settle.
    dlg->OnForecast();
    dlg->OnHoldings();
    dlg->OnWatchList();
    for (int i = 0; i < 100; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(10000);
    }
    std::printf("shown_ns=%lld painted_ns=%lld peak_kb=%ld resident_kb=%ld\n", shownNs, paintedNs, peakKb,
                ResidentKbWithHelpers());
    std::fflush(stdout);
    dlg->reject();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The web panes' browser engine will not start as root inside its sandbox.
    if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
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
