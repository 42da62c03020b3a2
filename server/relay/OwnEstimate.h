#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "server/relay/History.h"
#include "server/relay/JsReader.h"

// The relay's own intraday estimates: a fund's reported top-ten stocks, moved by the
// day's quotes. Readers of the holdings and quote sources, the calculation and the
// record of how close each day's estimate came to the net value.
namespace zeza::relay {

struct RelayFund;
struct RelayNav;
class Snapshot;
struct FundFit;

// One stock of a fund's top ten. key is how the quote sources name it ("sh600519",
// "sz000001", "bj830799", "hk00700"); "" for a market the relay has no quotes for.
struct HeldStock {
    std::string key;
    std::string code;
    std::string name;   // UTF-8
    double weight = 0;  // % of the fund's net value
};

struct FundHoldings {
    std::string reportDate;  // the report the top ten come from
    std::vector<HeldStock> stocks;
    double equityPct = -1;  // % of net value held in stocks; -1 while unknown
    std::string equityDate;
    int64_t fetchedAt = 0;
    // The report's own share of stocks in net assets (the script's asset allocation at
    // reportDate); -1 when the script has none for that date. Not stored: it is folded into
    // equityPct when the holdings are taken.
    double reportStockPct = -1;
};

// The fund's top ten from the holdings answer (Datas.fundStocks, Expansion = report date).
bool ParseHoldings(std::string_view body, FundHoldings& h, std::string& error);
// The latest equity position of the fund's data script (Data_fundSharesPositions), and the
// stock share of the report at h.reportDate from its asset allocation (Data_assetAllocation).
bool ParseEquityPosition(std::string_view script, FundHoldings& h, std::string& error);
// A position older than the report the top ten come from is replaced by that report's own
// stock share; without one the position is unknown (-1), so the fund gets no own estimate.
void UseCurrentPosition(FundHoldings& h);
// A share code as the quote services take it: 4 to 6 letters and digits, nothing that could
// break a request's list of codes.
bool IsShareCode(std::string_view code);
// The text of `var name = ...;` in a script of many statements; "" when absent.
std::string_view ScriptVariable(std::string_view script, std::string_view name);
// That statement's value, read; nullopt with the reason when it is absent or unreadable.
std::optional<JsValue> ScriptValue(std::string_view script, std::string_view name, std::string& error);

struct StockQuote {
    double price = 0, prevClose = 0;
    std::string date;  // the trading day the price is from
    std::string time;  // hh:mm:ss of the price, Beijing; "" when the source gives only the day
};
using QuoteMap = std::unordered_map<std::string, StockQuote>;

// What a quote answer held: quotes taken, and lines answered (quotes, suspended shares and
// the services' "unknown code" lines), to tell a full answer from a cut or empty one.
struct QuoteRead {
    size_t quotes = 0, answered = 0;
};
// Lines of the quote services (GBK) into quotes by key. A suspended share (price 0, a previous
// close) is a quote of no move. False for an answer with no line of the service's shape or
// whose last line is cut off.
bool ParseTencentQuotes(std::string_view body, QuoteMap& quotes, QuoteRead& read, std::string& error);
bool ParseSinaQuotes(std::string_view body, QuoteMap& quotes, QuoteRead& read, std::string& error);

enum class Verdict {
    Published,
    NotStockFund,   // not an active stock or mixed fund
    NoHoldings,     // no top ten, or no equity position that fits the report
    StaleHoldings,  // the report is too old
    NoNetValue,
    StaleNetValue,  // the NAV is not of the last trading day: the move would span two days
    LowCoverage,
    NoMove
};
// The reason as the fund page shows it (UTF-8).
const char* VerdictText(Verdict v);

struct FundEstimate {
    Verdict verdict = Verdict::NoHoldings;
    double value = 0;
    double coverage = 0;                      // share of the listed weight that had a quote of the day
    std::string day;                          // the trading day of the quotes
    std::string method;                       // how the change was made (Method.h)
    double exposure = 0, fittedExposure = 0;  // equity exposure used, and the fit's (0: none)
    double listMove = 0;  // the quoted top ten's move of the day (its record, for the fit)
};

constexpr double kMinCoverage = 0.70;
constexpr int kMaxReportAgeDays = 120;

// latest NAV x (1 + the day's change of EstimateChange in Method.h) over the stocks quoted on a
// day after the NAV's: without a fit, equity position x sum(weight x change) / sum(weight); with
// one, the broad indices' quotes (kIndexKeys) in `quotes` move the equity outside the top ten.
// today is the Beijing date (yyyy-mm-dd); lastTradingDay the newest day of the net value page: a
// NAV of an earlier day gets no estimate.
FundEstimate EstimateFund(const RelayFund& fund, const RelayNav* nav, const FundHoldings* h,
                          const QuoteMap& quotes, std::string_view today, std::string_view lastTradingDay,
                          const FundFit* fit = nullptr);

// One round over every fund with holdings, skipping the funds in `skip` (those the public
// valuation covers), by fund code: the published estimates, and in refused (when given) the
// verdict of every fund that got none.
std::vector<std::pair<std::string, FundEstimate>> EstimateRound(
    const Snapshot& s, const QuoteMap& quotes, std::string_view today,
    const std::unordered_map<std::string, bool>& skip = {},
    std::unordered_map<std::string, Verdict>* refused = nullptr);
// The quote keys that round needs, sorted, each once.
std::vector<std::string> QuoteKeys(const Snapshot& s, std::string_view today,
                                   const std::unordered_map<std::string, bool>& skip = {});
// Request URLs for the keys, `batch` a request (public clients ask for at most 60).
constexpr size_t kQuoteBatch = 60;
std::vector<std::string> QuoteUrls(const std::string& base, const std::vector<std::string>& keys,
                                   size_t batch = kQuoteBatch);

// Days from a to b (yyyy-mm-dd); nullopt-like huge value for unreadable dates.
int DaysBetween(std::string_view a, std::string_view b);

// One trading day of a fund: the last estimate before the close and the net value.
struct TrackDay {
    std::string day;
    double estimate = 0;  // 0: none that day
    bool publicEstimate = false;
    double nav = 0;  // 0: not published yet
    // The relay's own round: the top ten's move that day and the report they came from, so the
    // fit can learn how the fund moved under its current list. listReport "" : none.
    double listMove = 0;
    std::string listReport;
    bool HasError() const { return estimate > 0 && nav > 0; }
    double ErrorPct() const { return (estimate / nav - 1) * 100; }
};
using Track = std::vector<TrackDay>;  // oldest first

// Mean absolute error over the last `days` trading days (days with a net value) that had an estimate.
struct Accuracy {
    double meanAbsPct = 0;
    int estimatedDays = 0;
};
Accuracy MeanAbsError(const Track& t, size_t days = 20);

// The latest day with the relay's own estimates and their NAVs: mean absolute error over the funds.
struct OwnBook;
struct DayAccuracy {
    std::string day;
    double meanAbsPct = 0;
    int funds = 0;
};
DayAccuracy LatestDayAccuracy(const OwnBook& book);

// What the relay knows for its own estimates; shared by snapshots, never changed once published.
struct OwnBook {
    std::unordered_map<std::string, FundHoldings> holdings;
    std::unordered_map<std::string, std::shared_ptr<const Track>> tracks;
    // Each followed fund's published days (refreshed with its holdings) and the broad indices'
    // closes by quote key: what a fund's fit to the market is made from.
    std::unordered_map<std::string, std::shared_ptr<const NavHistory>> history;
    std::map<std::string, std::shared_ptr<const IndexHistory>> indices;
    // Each fund's fit to the broad indices, made from the two above once a day.
    std::shared_ptr<const std::unordered_map<std::string, FundFit>> fits;
};

constexpr size_t kTrackDays = 60;
// The track with the day's estimate (or net value) set; the day is added when new.
std::shared_ptr<const Track> WithEstimate(const std::shared_ptr<const Track>& t, const std::string& day,
                                          double estimate, bool publicEstimate, double listMove = 0,
                                          const std::string& listReport = "");
std::shared_ptr<const Track> WithNav(const std::shared_ptr<const Track>& t, const std::string& day,
                                     double nav);

}  // namespace zeza::relay
