#include "app/RefreshWorker.h"

#include <chrono>
#include <ctime>

#include "ledger/Ledger.h"
#include "ledger/LedgerSync.h"
#include "platform/GbkQString.h"
#include "platform/UrlDownload.h"
#include "suggest/SuggestionList.h"
#include "sync/Feeds.h"
#include "sync/MemoryFeeds.h"
#include "sync/TradingHours.h"
#include "tables/ViewLoader.h"

namespace zeza {

std::atomic<int> g_nPingState{1};

namespace {

std::atomic<int> g_sleepAfterSuccess{0};
std::atomic<int> g_sleepAfterFailure{0};

}  // namespace

void RefreshWorker::SetSleepForTesting(int afterSuccess, int afterFailure) {
    g_sleepAfterSuccess = afterSuccess;
    g_sleepAfterFailure = afterFailure;
}

RefreshWorker::RefreshWorker(IRefreshHost* host, std::shared_ptr<UiBridge> bridge)
    : m_pHost(host), m_bridge(std::move(bridge)) {}

RefreshWorker::~RefreshWorker() {
    RequestStop();
    // Neither thread waits on the UI thread any more once the bridge is shut
    // down, and downloads are aborted, so these joins end promptly.
    if (m_thread.joinable()) m_thread.join();
    for (Ping& p : m_pings)
        if (p.thread.joinable()) p.thread.join();
    AbortDownloads(false);
}

void RefreshWorker::Start() {
    m_thread = std::thread([this] { RefreshThreadProc(); });
}

void RefreshWorker::RequestStop() {
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_cv.notify_all();
    m_bridge->Shutdown();
    AbortDownloads(true);
}

bool RefreshWorker::StopRequested() {
    std::lock_guard lock(m_mutex);
    return m_bStop;
}

bool RefreshWorker::OnUi(std::function<void()> fn) {
    if (StopRequested()) return false;
    return m_bridge->Call(std::move(fn));
}

int RefreshWorker::RefreshData() {
    OnUi([this] { m_pHost->SetStatusText(QStringLiteral("更新数据..."), 2); });
    int ok = 1;
    int r = m_db.CheckServer();
    if (r == -2) {
        bool accepted = false;
        OnUi([&] { accepted = m_pHost->AskForcedUpdate(); });
        // Only the question is the window's: the download runs here, so a slow
        // server never freezes the window, and closing it aborts the download.
        // A successful launch ends the process; a failed one ends this pass.
        if (accepted && !StopRequested()) {
            // A packaged program file is the package manager's to replace.
            if (CFundDb::IsPackagedProgram()) {
                OnUi([this] { m_pHost->SayUpdatesComeFromThePackageManager(); });
            } else {
                // Returns only when it failed; the pass ends either way and the
                // next pass's check asks again.
                (void)m_db.LaunchSelfUpdate();
            }
        }
        return 0;
    }
    if (r < 0) return 0;

    for (const FeedDescriptor& feed : Feeds()) {
        const QString status = QString::fromUtf8(feed.statusText);
        if (!OnUi([this, status] { m_pHost->SetStatusText(status, 2); })) return 0;
        if (m_db.SyncFeed(feed.kind) != 1) ok = 0;
    }
    for (const MemoryFeedDescriptor& feed : MemoryFeeds()) {
        const QString status = QString::fromUtf8(feed.statusText);
        if (!OnUi([this, status] { m_pHost->SetStatusText(status, 2); })) return 0;
        // Only an addition to the views: a failure keeps the last values shown
        // and leaves the pass, and its schedule, as the stored feeds made it.
        (void)SyncMemoryFeed(m_db, feed);
    }

    // The ledger's history and confirmations: a fund whose history did not come waits for the next
    // pass, and a damaged ledger leaves the holdings as Zeza.db has them.
    if (!OnUi([this] { m_pHost->SetStatusText(QStringLiteral("更新交易记录..."), 2); })) return 0;
    if (SyncLedger(m_db, Ledger::BeijingToday(), [this] { return StopRequested(); }) == 0) return 0;

    std::vector<std::string> dates;
    // A failed read adds no dates; the window keeps those it has.
    (void)m_db.GetQuoteDates(dates);
    if (!OnUi([&] { m_pHost->TakeQuoteDates(dates); })) return 0;

    // A failed read leaves the field without entries until the next pass.
    std::vector<std::string> entries;
    LoadSuggestionList(entries);
    const std::vector<std::string>& initials = m_initials.OfEntries(entries);
    if (!OnUi([&] { m_pHost->TakeCandidates(entries, initials); })) return 0;

    const QString done = QStringLiteral("更新完成 ") + GbkToQString(m_db.GetEstimateTimeText());
    if (!OnUi([&] { m_pHost->SetStatusText(done, 2); })) return 0;
    if (!OnUi([this] { m_pHost->ShowIndices(); })) return 0;
    ReadShownView();
    OnUi([this] { m_pHost->ReloadCurrentView(); });
    return ok;
}

int RefreshWorker::LightRefresh() {
    const int32_t estTime = m_db.Local().estTime;
    const int32_t idxTime = MemoryFeedTime("idx");
    const int r = m_db.LightSync();
    if (r == -1) return 0;
    if (MemoryFeedTime("idx") != idxTime && !OnUi([this] { m_pHost->ShowIndices(); })) return 0;
    if (m_db.Local().estTime != estTime) {
        const QString done = QStringLiteral("更新完成 ") + GbkToQString(m_db.GetEstimateTimeText());
        if (!OnUi([&] { m_pHost->SetStatusText(done, 2); })) return 0;
        ReadShownView();
        if (!OnUi([this] { m_pHost->ReloadCurrentView(); })) return 0;
        double v = 0, p = 0, e = 0, c = 0;
        // A failed read leaves the summary as the last pass showed it.
        if (m_db.GetPortfolioTotals(v, p, e, c) == 1) OnUi([&] { m_pHost->ShowSummary(v, p, e, c); });
    }
    return r == 1 ? 1 : 0;
}

void RefreshWorker::ReadShownView() {
    ViewKind kind = ViewKind::Latest;
    std::string date;
    bool shown = false;
    if (!OnUi([&] { shown = m_pHost->ShownView(kind, date); }) || !shown) return;
    // The rows are kept by the view loader until the database changes again; a
    // failed read is the window's to report when it reads them itself.
    std::shared_ptr<const ViewTable> table;
    (void)LoadViewTable(GetViewDefinition(kind), date, table);
}

bool RefreshWorker::WaitUntil(int64_t t) {
    const auto wake = std::chrono::system_clock::time_point(std::chrono::seconds(t));
    std::unique_lock lock(m_mutex);
    return !m_cv.wait_until(lock, wake, [this] { return m_bStop; });
}

void RefreshWorker::RefreshThreadProc() {
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_bStop) return;
        }
        int ok = RefreshData();
        StartPing();
        double v = 0, p = 0, e = 0, c = 0;
        // A failed read shows zero totals until the next pass.
        (void)m_db.GetPortfolioTotals(v, p, e, c);
        OnUi([&] { m_pHost->ShowSummary(v, p, e, c); });

        const long now = static_cast<long>(std::time(nullptr));
        int sleepSeconds;
        if (ok) {
            // The stored time is a record only: this thread keeps its own schedule.
            (void)m_db.SaveUpdateTime(static_cast<int>(now + 3600));
            sleepSeconds = g_sleepAfterSuccess ? g_sleepAfterSuccess.load() : 3610;
        } else {
            (void)m_db.SaveUpdateTime(static_cast<int>(now + 300));
            sleepSeconds = g_sleepAfterFailure ? g_sleepAfterFailure.load() : 310;
        }
        ++m_nPasses;
        // Light passes fill the trading session until the next full pass is due.
        const int64_t fullPass = now + sleepSeconds;
        for (;;) {
            const int64_t light = NextLightPass(static_cast<int64_t>(std::time(nullptr)));
            if (light >= fullPass) break;
            if (!WaitUntil(light)) return;
            (void)LightRefresh();
        }
        if (!WaitUntil(fullPass)) return;
    }
}

void RefreshWorker::StartPing() {
    std::lock_guard lock(m_mutex);
    if (m_bStop) return;
    // Finished ping threads are joined here so the list stays short.
    std::erase_if(m_pings, [](Ping& p) {
        if (!p.done->load()) return false;
        p.thread.join();
        return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    m_pings.push_back({std::thread([this, done] {
                           PingThreadProc();
                           *done = true;
                       }),
                       done});
}

void RefreshWorker::PingThreadProc() {
    int expected = 1;
    g_nPingState.compare_exchange_strong(expected, 2);  // a pending close (3) stays
    m_db.SendThanks();
    if (g_nPingState.exchange(1) == 3) {
        // The user closed the window while this request ran: close it now.
        m_bridge->Post([this] { m_pHost->CloseAsCancel(); });
    }
}

}  // namespace zeza
