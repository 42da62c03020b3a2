#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/relay/OwnEstimate.h"
#include "server/relay/Sources.h"

namespace zeza::relay {

struct RelayFund {
    std::string code;
    std::string name;      // GBK
    std::string typeCode;  // gu, zhai, hun or zhi
    int64_t changeTime = 0;
    bool late = false;         // publishes its NAV a day or more late (abroad, QDII)
    bool ownEstimate = false;  // an active stock or mixed fund: its top ten say how it moves
};

// A fund's net values as served; date is the day its latest value belongs to, which
// for a fund that publishes late is before the feed's quote date.
struct RelayNav {
    std::string code;
    std::string date;
    double accumulated = 0, latest = 0, previous = 0;
};

struct RelayEstimate {
    std::string code;
    double value = 0;
    bool own = false;  // the relay's own calculation, not the public valuation
    std::string day;   // the trading day it is for; "" when unknown (an older relay.db)
};

// The day's own estimates of each fund, one point per round, and what the last one used.
class IntradayLog {
  public:
    struct Point {
        int16_t minute;  // minutes after midnight, Beijing
        float value;
    };
    struct Last {
        double coverage = 0;
        std::string reportDate, equityDate;
        double equityPct = 0;
        std::string method;
        double exposure = 0, fittedExposure = 0;
    };
    // A round of `day` at `minute`: a new day starts the log afresh.
    void Add(const std::string& day, int minute,
             const std::vector<std::pair<std::string, FundEstimate>>& round, const OwnBook& book);
    std::string Day() const;
    std::vector<Point> Points(const std::string& code) const;
    bool LastOf(const std::string& code, Last& last) const;

  private:
    mutable std::mutex m_mutex;
    std::string m_day;
    std::unordered_map<std::string, std::vector<Point>> m_points;
    std::unordered_map<std::string, Last> m_last;
};

// Everything the server answers in relay mode. Build() writes the feeds once, so
// a request only copies bytes; a snapshot is never changed after it is published.
class Snapshot {
  public:
    std::vector<RelayFund> funds;
    std::string quoteDate;
    std::vector<RelayNav> navs;
    std::vector<RelayEstimate> estimates;
    std::string estimateStamp;  // the source's time of the estimates, for the pages
    int64_t listTime = 0, stkTime = 0, estTime = 0;
    int64_t accTime = 0;  // of AccFeed(); set by StampAccTime
    int64_t idxTime = 0;  // of IdxFeed(); set by StampIdxTime, 0 (not announced) while it is empty
    // Holdings and the day-by-day record of estimates against net values.
    std::shared_ptr<const OwnBook> own = std::make_shared<OwnBook>();
    // The broad indices' latest quotes (kBroadIndices), kept from the last round that had them.
    QuoteMap indexQuotes;
    // Today's own estimates round by round, for the fund page's curve; shared by the snapshots
    // of a day and appended to as rounds come (it has a lock of its own).
    std::shared_ptr<IntradayLog> intraday = std::make_shared<IntradayLog>();
    // Why the last round made no own estimate for a fund that has holdings, for its page.
    std::shared_ptr<const std::unordered_map<std::string, Verdict>> refused =
        std::make_shared<std::unordered_map<std::string, Verdict>>();

    void Build();
    // Funds changed after dt; dt <= 0 sends every fund.
    std::string ListFeed(int64_t dt) const;
    const std::string& NavFeed() const { return m_navFeed; }
    const std::string& EstimateFeed() const { return m_estFeed; }
    // code|source|mae|days per estimated fund: 自算 (own) or 公开 (public), the mean absolute
    // error in % over its last 20 days with a net value (empty under 5 estimated days), and
    // those days. GBK, CR LF.
    const std::string& AccFeed() const { return m_accFeed; }
    // Sets accTime after Build(): the previous snapshot's while AccFeed() is the same, else now
    // (always later than before). A time never announced (0, as after a restart) is set too.
    void StampAccTime(const Snapshot& previous, int64_t now);
    // code|name|level|change%|time per index quoted so far (kIndexLines, in its order): level and
    // change against the previous close with two decimals, the quote's Beijing time. GBK, CR LF.
    const std::string& IdxFeed() const { return m_idxFeed; }
    // Sets idxTime after Build() as StampAccTime does accTime; 0 while IdxFeed() is empty.
    void StampIdxTime(const Snapshot& previous, int64_t now);
    std::string ControlFile() const;
    // The feed texts without their times, to tell whether a new run changed anything.
    const std::string& ListContent() const { return m_listFeed; }

    const RelayFund* FindFund(const std::string& code) const;
    const RelayNav* FindNav(const std::string& code) const;
    const RelayEstimate* FindEstimate(const std::string& code) const;

  private:
    std::string m_listFeed, m_navFeed, m_estFeed, m_accFeed, m_idxFeed;
    std::unordered_map<std::string, size_t> m_fundIndex, m_navIndex, m_estIndex;
};

// What a catalogue type text means to the relay: the feed's type code, whether the fund
// publishes late, whether the relay makes its own estimate for it.
struct FundKind {
    std::string typeCode;  // gu, zhai, hun or zhi
    bool late = false;
    bool ownEstimate = false;
    bool known = true;  // false: a text the table does not know, shown as a mixed fund
};
// nullopt for a fund the relay leaves out (money market and wealth funds).
std::optional<FundKind> KindFor(std::string_view typeText);
// A catalogue name as the feed sends it: GBK, no separators or line ends.
std::string FeedName(std::string_view name);
std::string Value4(double v);

// The catalogue as funds; a fund whose name and type are as before keeps its change time,
// any other gets stamp.
std::vector<RelayFund> FundsFromCatalogue(const std::vector<CatalogueRow>& rows, const Snapshot& previous,
                                          int64_t stamp);

// Net values from the bulk page. Funds without a value on the page's day are put in late.
struct NetValueBuild {
    std::string quoteDate, prevDay;
    std::vector<RelayNav> navs;
    std::vector<NavPageRow> late;
};
NetValueBuild NetValuesFromPage(const NavPage& page);
// Adds the late funds, each with its latest published value and the one before: from the
// page's second day, the fund information source and the previous snapshot, newest first.
// A late fund known nowhere keeps its previous row.
void AddLateFunds(NetValueBuild& build, const std::vector<FundInfo>& info, const Snapshot& previous);

// Funds the valuation source estimates: index funds and the ETF, ETF-feeder and LOF funds.
bool WantsEstimate(const RelayFund& fund);

}  // namespace zeza::relay
