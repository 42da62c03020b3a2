#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/relay/OwnEstimate.h"

// How the relay's own estimate turns a fund's holdings and the day's quotes into the day's
// change of its net value. Pure functions: the live rounds and the replay of history call the
// same ones, so what the replay measures is what the relay publishes.
namespace zeza::relay {

// The broad indices a fund's shares outside its top ten are taken to follow.
enum IndexId : int { kCsi300, kCsi500, kChiNext, kCsi1000, kHangSeng, kIndexCount };
// Their quote keys, in IndexId order.
inline constexpr std::array<std::string_view, kIndexCount> kIndexKeys = {"sh000300", "sh000905", "sz399006",
                                                                         "sh000852", "hkHSI"};

// The day's fractional change of a share or an index by quote key; nullopt when there is none.
using ChangeLookup = std::function<std::optional<double>(const std::string& key)>;

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

// One past trading day of a fund, for its fit.
struct FitDay {
    double navChange = 0;  // fractional change of the NAV (dividend added back)
    std::array<double, kIndexCount> index{kUnknown, kUnknown, kUnknown, kUnknown, kUnknown};
    // The move of the list the estimate uses now (sum w r / sum w) that day; kUnknown for a day
    // before that list was in use or without its quotes.
    double topTen = kUnknown;
};

// Days of NAV changes the index mix is fitted on.
constexpr size_t kFitDays = 60;
// Ridge on the index loadings (squared daily changes: 60 days of 1 % moves sum to 0.006):
// keeps collinear indices (CSI 300 and 500, ChiNext and CSI 1000) from trading huge loadings.
constexpr double kFitRidge = 1e-3;
// A fit whose loadings sum below this says the NAV hardly followed any index: no mix from it.
constexpr double kMinFitExposure = 0.2;
// Share of the equity outside the listed shares taken to move like the listed ones; the rest
// follows the fitted index mix.
constexpr double kRestLikeList = 0.3;
// Pull of the report's split (listed part, rest) against the fund's own record under the
// current list, in the same units as kFitRidge: a week of days moves it a little, a month more.
constexpr double kRecordPrior = 1e-3;

struct FundFit {
    int days = 0;  // days the index mix was fitted on; 0: no usable fit, the plain formula
    // The NAV's move per index move, normalised to sum 1: how the shares outside the list move.
    std::array<double, kIndexCount> mix{};
    double exposure = 0;  // the loadings' sum before normalising: the equity exposure the NAV showed
    // The fund's record under its current list: sums over those days of products of the list's
    // move (t), the index mix's move (m) and the NAV change (y).
    double tt = 0, tm = 0, mm = 0, ty = 0, my = 0;
    int recordDays = 0;
};

// Fits the fund from its own past days (oldest first; the last kFitDays with every index it
// needs known are used; Hang Seng only for a fund holding Hong Kong shares). A fund with fewer
// than kFitDays / 3 such days gets no fit (days 0).
FundFit FitFund(const std::vector<FitDay>& days, bool holdsHongKong);

struct MethodInput {
    const std::vector<HeldStock>* topTen = nullptr;
    double equityPct = -1;  // the report's stocks, % of NAV
    // A complete holdings list at least as new as the top ten, with its own equity position.
    const std::vector<HeldStock>* full = nullptr;
    double fullEquityPct = -1;
    const FundFit* fit = nullptr;
};

struct MethodResult {
    bool ok = false;                 // false: no estimate (no list, no position or nothing quoted)
    double change = 0;               // fractional change of the NAV
    double listed = 0, covered = 0;  // weight (% of NAV) listed, and quoted today
    double coverage = 0;             // covered / listed
    std::string_view method;         // "plain", "index mix", "index mix + record", with " (full list)"
    double exposure = 0;             // equity exposure used, fraction of NAV
    double fittedExposure = 0;       // the fit's, 0 without one
    double listMove = kUnknown;      // the quoted list's move (sum w r / sum w over the quoted)
};

// The day's change: exposure x the quoted list's move (plain); with a usable fit whose indices
// are all quoted, the equity outside the list follows the fitted index mix, and the split is
// corrected by the fund's record under the list. The newer full list replaces the top ten.
MethodResult EstimateChange(const MethodInput& in, const ChangeLookup& shareChange,
                            const ChangeLookup& indexChange);

}  // namespace zeza::relay
