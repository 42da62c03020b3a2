#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QString>

#include "app/UiBridge.h"
#include "db/CFundDb.h"
#include "suggest/PinyinInitials.h"
#include "tables/ViewDefinition.h"

namespace zeza {

// 1 no thanks request running, 2 one is running, 3 the user asked to close
// the window while one was running (the ping thread then closes it).
extern std::atomic<int> g_nPingState;

// What a refresh pass does to the window. Every call comes on the UI thread.
class IRefreshHost {
  public:
    virtual ~IRefreshHost() = default;
    virtual void SetStatusText(const QString& text, int part) = 0;
    // The forced-update question; true when the user answers OK. The update
    // itself then runs on the refresh thread.
    virtual bool AskForcedUpdate() = 0;
    // Says that a packaged program is updated by the package manager, not by itself.
    virtual void SayUpdatesComeFromThePackageManager() = 0;
    // Fresh quote dates (newest first) from this pass.
    virtual void TakeQuoteDates(const std::vector<std::string>& dates) = 0;
    // Fresh suggestion entries from this pass, with the pinyin initials of
    // each entry's name (initials[i] belongs to entries[i]); they replace the old ones.
    virtual void TakeCandidates(const std::vector<std::string>& entries,
                                const std::vector<std::string>& initials) = 0;
    // Shows the current view's fresh values (its sort and selection kept), if a view is current.
    virtual void ReloadCurrentView() = 0;
    // The view the list shows and its quote date (GBK); false when the list is covered.
    virtual bool ShownView(ViewKind& kind, std::string& quoteDate) = 0;
    // Shows the market indices as the feed kept in memory holds them now.
    virtual void ShowIndices() = 0;
    // Shows the summary line for the four portfolio totals.
    virtual void ShowSummary(double value, double previousValue, double estimatedValue, double cost) = 0;
    // Closes the window as Cancel (the close the user asked for during a thanks request).
    virtual void CloseAsCancel() = 0;
};

// The background refresh: one pass at once, then one every hour (five minutes
// after a failed pass), each followed by a thanks request on its own thread;
// during a trading session a light pass every two minutes in between.
// It owns its own data object, so the UI thread's object is never shared.
class RefreshWorker {
  public:
    RefreshWorker(IRefreshHost* host, std::shared_ptr<UiBridge> bridge);
    // Stops and joins the refresh and ping threads; downloads in flight are aborted.
    ~RefreshWorker();
    RefreshWorker(const RefreshWorker&) = delete;
    RefreshWorker& operator=(const RefreshWorker&) = delete;

    void Start();
    void RequestStop();

    // One refresh pass on the calling thread: 1 every step succeeded, 0 otherwise.
    int RefreshData();
    // One light pass on the calling thread (CFundDb::LightSync), then fresh estimates
    // and indices shown in place. 1 done or nothing new, 0 a step failed.
    int LightRefresh();
    // Number of passes finished (tests wait on it).
    int PassCount() const { return m_nPasses.load(); }

    // Tests: shorter sleeps between passes (seconds; 0 restores 3610/310).
    static void SetSleepForTesting(int afterSuccess, int afterFailure);

  private:
    void RefreshThreadProc();
    // Reads the shown view's rows here, so the window's refresh finds them read.
    void ReadShownView();
    // Waits until t (seconds since 1970); false when stopped meanwhile.
    bool WaitUntil(int64_t t);
    void StartPing();
    void PingThreadProc();
    bool StopRequested();
    // Runs a window step on the UI thread; false once the window is going away.
    bool OnUi(std::function<void()> fn);

    IRefreshHost* m_pHost;
    std::shared_ptr<UiBridge> m_bridge;
    CFundDb m_db;
    // Initials of the catalogue's names, computed here and not on the UI thread;
    // kept between passes, so an unchanged catalogue costs nothing.
    PinyinInitials m_initials;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bStop = false;
    struct Ping {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Ping> m_pings;
    std::atomic<int> m_nPasses{0};
};

}  // namespace zeza
