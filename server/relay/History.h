#pragma once

#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Daily history the relay keeps for its estimates: a fund's published net values with their
// events (from its data script) and the broad indices' closes (seeded from the quote service's
// daily bars, then recorded at each close).
namespace zeza::relay {

// The broad indices asked with every estimate round, by quote key: the market's mood for the
// line above the tables, and the mix the estimate fits each fund to.
inline constexpr const char* kBroadIndices[] = {"sh000001", "sz399001", "sz399006", "sh000300",
                                                "sh000905", "sh000852", "hkHSI"};
// The same indices as the idx feed lines them up (UTF-8 names): the five the program shows
// first, in its order, then the two it passes over.
struct IndexLine {
    const char* key;
    const char* name;
};
inline constexpr IndexLine kIndexLines[] = {
    {"sh000001", "上证指数"}, {"sz399001", "深证成指"}, {"sz399006", "创业板指"}, {"sh000300", "沪深300"},
    {"hkHSI", "恒生指数"},    {"sh000905", "中证500"},  {"sh000852", "中证1000"}};
static_assert(std::size(kIndexLines) == std::size(kBroadIndices));

// One published day of a fund.
struct NavPoint {
    std::string day;      // yyyy-mm-dd, Beijing
    double nav = 0;       // unit NAV
    double acc = 0;       // accumulated NAV; 0 when the script has none for the day
    double dividend = 0;  // cash per unit paid that day
    double split = 0;     // units multiply by this that day; 0 for none
};
using NavHistory = std::vector<NavPoint>;  // oldest first

// Data_netWorthTrend (with its unitMoney events) and Data_ACWorthTrend of a fund's data script,
// the newest `keep` days. False, with the reason, when the script has no readable trend.
bool ParseNavHistory(std::string_view script, NavHistory& out, std::string& error, size_t keep = 130);
// "分红：每份派现金0.0300元" -> dividend, "拆分：每份基金份额折算1.027437份" -> split.
void ReadUnitMoney(std::string_view text, NavPoint& p);

// One close of an index.
struct IndexClose {
    std::string day;
    double close = 0;
};
using IndexHistory = std::vector<IndexClose>;  // oldest first

// The daily bars of the quote service (data.<key>.day rows [date, open, close, high, low,
// volume]; "qfqday" where the service adjusts); false when the key has none.
bool ParseDailyBars(std::string_view body, const std::string& key, IndexHistory& out, std::string& error);
// The history with the day's close set (added when new, replaced when known), at most keep days.
void RecordClose(IndexHistory& h, const std::string& day, double close, size_t keep = 320);

struct FitDay;
struct TrackDay;
// A fund's past days for its fit (Method.h): each day's NAV change (a dividend added back, a
// split taken out) beside each broad index's change over the same span (Hong Kong sessions
// compounded up to the day, 0 when it did not trade); an index without a close before the span
// is unknown.
// With the fund's record, a day the relay estimated under the top ten of `report` also carries
// that list's move (the fit's record of the fund under its current list).
std::vector<FitDay> FitDaysOf(const NavHistory& fund,
                              const std::map<std::string, std::shared_ptr<const IndexHistory>>& indices,
                              const std::vector<TrackDay>* record = nullptr, const std::string& report = "");

// The days as navhist.php sends them, GBK, oldest first: "day|nav|acc|event" CR LF each, NAVs
// with four decimals (acc derived from the NAV's moves on a day the script has none), event "分红 0.0300"
// (four decimals or as many as the figure has) or "拆分 1.027437" (six or more); a day with both gives the
// split.
std::string NavHistoryAnswer(const NavHistory& h);

// Histories as stored: "day,nav,acc,dividend,split;..." and "day,close;...".
std::string NavHistoryText(const NavHistory& h);
NavHistory NavHistoryFromText(std::string_view text);
std::string IndexHistoryText(const IndexHistory& h);
IndexHistory IndexHistoryFromText(std::string_view text);

}  // namespace zeza::relay
