#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/relay/Fetcher.h"
#include "server/relay/RelayStore.h"
#include "server/relay/Snapshot.h"

namespace zeza::relay {

struct RelayOptions {
    std::filesystem::path dataDir;  // holds relay.db
    std::string catalogueUrl = "http://fund.eastmoney.com/js/fundcode_search.js";
    // Asked page by page: "&page=N,SIZE" is appended (an existing page= is replaced).
    std::string netValueUrl = "http://fund.eastmoney.com/Data/Fund_JJJZ_Data.aspx?t=1&lx=1";
    size_t netValuePageSize = 5000;  // the service caps rows per request (15,000-20,000 seen)
    // Codes are appended as Fcodes=a,b,c (up to 200) and FCODES=a,b,c (up to 50).
    std::string fundInfoUrl =
        "https://fundmobapi.eastmoney.com/FundMNewApi/FundMNFInfo?pageIndex=1&pageSize=200&plat=Android"
        "&appType=ttjj&product=EFund&Version=1&deviceid=zeza";
    // FIELDS= (the fields public clients ask for) is added unless the address names its own.
    std::string estimateUrl = "https://fundcomapi.tiantianfunds.com/mm/newCore/FundValuationLast";
    std::string referer = "http://fund.eastmoney.com/";  // the fund site's own pages want it
    // The relay's own estimates: a fund's top ten (FCODE= appended), its data script (code + ".js"
    // appended) for the equity position, and share quotes (codes appended, comma separated).
    std::string holdingsUrl =
        "https://fundmobapi.eastmoney.com/FundMNewApi/FundMNInverstPosition?plat=Android&appType=ttjj"
        "&product=EFund&Version=1&deviceid=zeza";
    std::string positionUrl = "http://fund.eastmoney.com/pingzhongdata/";
    std::string quoteUrl = "http://qt.gtimg.cn/q=";
    std::string quoteFallbackUrl = "http://hq.sinajs.cn/list=";
    std::string quoteFallbackReferer = "https://finance.sina.com.cn/";  // answers 403 without it
    // An index's daily bars, "<key>,day,,,320,qfq" appended: its history, seeded once.
    std::string klineUrl = "http://web.ifzq.gtimg.cn/appstock/app/fqkline/get?param=";
    size_t holdingsPerPass = 50;       // funds (share classes counted once) one holdings pass asks for
    size_t quoteBatch = 60;            // share codes a quote request asks for, as public clients do
    size_t askedHistoriesPerPass = 5;  // data scripts of funds asked for by navhist.php, a pass
    size_t maxAskedFunds = 3000;       // funds whose whole history the relay keeps for navhist.php
    FetchOptions fetch;
    std::function<int64_t()> clock;  // seconds since 1970 UTC; the system clock when empty
    int checkSeconds = 30;           // how often the schedule is looked at
};

// What one source answered, for --probe.
struct ProbeLine {
    std::string source, url;
    bool ok = false;
    long status = 0;
    size_t bytes = 0, rows = 0;
    std::string firstRow, error;
};

// Fills the control file and the three feeds from the public pages. Each run builds a new
// snapshot from the last one; a run that fails for any reason publishes nothing, so the
// last good snapshot goes on being served. A feed's time moves only when its text changed.
class Relay {
  public:
    explicit Relay(RelayOptions options);
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Opens (or creates) relay.db in the data folder and takes its snapshot.
    bool Open(std::string& error);
    // A thread that fetches now what is missing and the net values, then keeps to the schedule.
    void StartSchedule();
    void Stop();

    std::shared_ptr<const Snapshot> Current() const;

    // One run of a source; false, with the reason, when the snapshot stayed as it was.
    bool RefreshCatalogue(std::string* why = nullptr);
    bool RefreshNetValues(std::string* why = nullptr);
    bool RefreshEstimates(std::string* why = nullptr);
    // Holdings and equity position of up to maxFunds active stock and mixed funds whose holdings
    // are due (missing first; in trading hours only the missing), the share classes of one fund
    // asked once. A fund whose fetch fails keeps what it had; a resting source ends the pass.
    bool RefreshHoldings(size_t maxFunds, std::string* why = nullptr);
    // The broad indices' daily closes from the quote service's daily bars, for each index whose
    // history is missing or more than ten days old; false when one could not be had.
    bool RefreshIndexHistory(std::string* why = nullptr);
    // Funds without holdings the last pass had no room for: the schedule goes on at once.
    size_t HoldingsBacklog() const { return m_holdingsBacklog; }
    // A fund's published days from `from` (yyyy-mm-dd) on, as navhist.php sends them (History.h
    // NavHistoryAnswer); never waits on a fetch. A fund the relay keeps no history of yet answers
    // empty and is asked for: a later pass fetches its data script (at most maxAskedFunds funds).
    std::string NavHistoryFeed(const std::string& code, const std::string& from);
    // The data scripts of up to maxFunds asked funds: those without a history first, then those
    // whose newest day is before their latest NAV's (each tried at most every three hours). A
    // failed fetch keeps what was good; a resting source ends the pass. False, with the reason,
    // when a fetch failed.
    bool RefreshAskedHistories(size_t maxFunds, std::string* why = nullptr);
    // A fund someone looked at: when it has no holdings, the next pass asks for it first.
    void Prioritize(const std::string& code);
    // The runs the schedule asks for at this moment; atStart adds the net values and any feed still empty.
    void RunDue(bool atStart);

    // Asks each source once and reports; changes nothing.
    std::vector<ProbeLine> Probe();

  private:
    int64_t Now() const;
    void Publish(Feed feed, std::shared_ptr<Snapshot> next);
    bool Fail(const std::string& source, const FetchResult& r, size_t rows, const std::string& message,
              std::string* why);
    // Fail for an answer that came but could not be used: the source rests as after an error.
    bool Refuse(const std::string& source, const FetchResult& r, size_t rows, const std::string& message,
                std::string* why);
    static std::string WithCodes(const std::string& url, const char* param,
                                 const std::vector<std::string>& codes, size_t from, size_t count);
    void ScheduleLoop();
    // Quotes of the keys, quoteBatch a request, a failed batch asked again of the fallback; false
    // when no batch came back. A batch is failed when cut off or when it answers fewer than
    // half of the codes asked.
    bool FetchQuotes(const std::vector<std::string>& keys, QuoteMap& quotes);
    // One quote request; true when it answered well enough to use.
    bool FetchQuoteBatch(const std::string& source, const std::string& url, const std::string& referer,
                         size_t asked, bool sina, QuoteMap& quotes);

    RelayOptions m_options;
    Fetcher m_fetcher;
    RelayStore m_store;
    std::mutex m_runMutex;  // one run at a time
    mutable std::mutex m_snapMutex;
    std::shared_ptr<const Snapshot> m_snapshot;
    RunTimes m_runs;
    std::mutex m_holdingsMutex;                                // one holdings pass at a time
    std::unordered_map<std::string, int64_t> m_holdingsTried;  // last attempt per fund, failed ones too
    std::atomic<size_t> m_holdingsBacklog{0};
    std::mutex m_priorityMutex;
    std::vector<std::string> m_priority;  // funds looked at without holdings, newest last
    // Funds the valuation source had no estimate for, with when they were last asked: asked
    // again hourly, not every round.
    std::unordered_map<std::string, int64_t> m_valuationQuiet;
    std::string m_indexHistoryDay;  // the Beijing day index histories were last asked for

    // A fund's whole history as navhist.php sends it, with where each day's line starts.
    struct AskedHistory {
        std::string answer;
        std::vector<uint32_t> starts;
        std::string Newest() const;
    };
    static std::shared_ptr<const AskedHistory> MakeAskedHistory(std::string answer);
    std::mutex m_askedPassMutex;  // one pass of asked histories at a time
    std::mutex m_askedMutex;      // held only to look up or swap a history, never over a fetch
    // Funds asked for by navhist.php; nullptr while their history has not come.
    std::unordered_map<std::string, std::shared_ptr<const AskedHistory>> m_asked;
    std::unordered_map<std::string, int64_t> m_askedTried;  // last fetch per fund (the pass only)

    std::thread m_thread;
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
};

}  // namespace zeza::relay
