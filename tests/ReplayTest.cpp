// The own estimate's method and its replay on history: the fit recovers a known fund, the
// replay sees nothing published after a day, its plain figure is the formula's by hand, and
// the live relay's estimate is the method's.

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "server/relay/Method.h"
#include "server/relay/OwnEstimate.h"
#include "server/relay/Replay.h"
#include "server/relay/Snapshot.h"
#include "tests/TestSupport.h"

using namespace zeza::relay;
using zeza::test::ScopedTempDir;
using zeza::test::WriteFileBytes;

namespace {

// A deterministic daily move, uniform in +-1.5 %, unrelated across series.
double Move(int series, int day) {
    double h = std::sin(day * 12.9898 + series * 78.233) * 43758.5453;
    return 0.03 * (h - std::floor(h) - 0.5);
}

std::string Day(int d) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "2024-%02d-%02d", 3 + (d - 1) / 28, 1 + (d - 1) % 28);
    return buf;
}

std::string Pct(double fraction) {
    return std::to_string(fraction * 100);
}

// A fund whose NAV moves 0.5 x CSI 300 + 0.3 x ChiNext, the other indices apart from it, in
// lively markets (daily moves up to 4 %), where the ridge barely shrinks the loadings.
std::vector<FitDay> KnownFund(int n) {
    std::vector<FitDay> days(n);
    for (int d = 0; d < n; ++d) {
        for (int k = 0; k < kHangSeng; ++k) days[d].index[k] = 2.5 * Move(k, d);
        days[d].navChange =
            0.5 * days[d].index[kCsi300] + 0.3 * days[d].index[kChiNext] + 0.0002 * Move(9, d);
    }
    return days;
}

// Folder in the backtest layout: two funds with the same NAVs and the same report in use from
// day 22, scored on days 23 to 28. extra is added to the second fund's files.
struct FolderFiles {
    std::string funds =
        "fund_code,fund_name,fund_type,company,style,holdings_source,nav_source\n"
        "000001,\"One, A\",x,x,x,x,x\n000002,Two,x,x,x,x,x\n";
    std::string windows =
        "fund_code,report_date,regulatory_deadline,report_assumed_in_use_from,window_first_day,window_last_"
        "day,"
        "trading_days\n";
    std::string positions = "fund_code,report_date,stock_pct_of_nav,bond_pct_of_nav,cash_pct_of_nav\n";
    std::string top = "fund_code,report_date,rank,stock_code,stock_name,weight_pct_of_nav,market\n";
    std::string full =
        "fund_code,report_date,public_by_deadline,rank,stock_code,stock_name,weight_pct_of_nav,market\n";
    std::string nav = "fund_code,date,unit_nav,acc_nav,daily_growth_pct_published,dividend_per_unit,source\n";
    std::string stocks = "stock_code,market,date,close,pct_change,close_basis,source\n";
    std::string index = "index_code,date,close,pct_change\n";

    void Write(const std::filesystem::path& dir) const {
        WriteFileBytes(dir / "funds.csv", funds);
        WriteFileBytes(dir / "windows.csv", windows);
        WriteFileBytes(dir / "positions.csv", positions);
        WriteFileBytes(dir / "holdings_top10.csv", top);
        WriteFileBytes(dir / "holdings_full.csv", full);
        WriteFileBytes(dir / "nav.csv", nav);
        WriteFileBytes(dir / "stock_daily.csv", stocks);
        if (!index.empty()) WriteFileBytes(dir / "index_daily.csv", index);
    }
};

FolderFiles TwoFunds() {
    FolderFiles f;
    const char* indices[] = {"000300", "000905", "399006", "000852", "HSI"};
    for (int d = 1; d <= 28; ++d)
        for (int k = 0; k < 5; ++k)
            f.index += std::string(indices[k]) + "," + Day(d) + ",1," + Pct(Move(k, d)) + "\n";
    for (int s = 1; s <= 3; ++s)
        for (int d = 22; d <= 28; ++d)
            f.stocks += "60000" + std::to_string(s) + ",A," + Day(d) + ",1," + Pct(Move(5 + s, d)) + ",x,x\n";
    for (const char* fund : {"000001", "000002"}) {
        std::string code = fund;
        f.windows += code + ",2024-02-29,x,2024-03-22,2024-03-23,2024-03-28,6\n";
        f.positions += code + ",2024-02-29,80,,\n";
        f.top += code + ",2024-02-29,1,600001,a,20,A\n" + code + ",2024-02-29,2,600002,b,10,A\n";
        double nav = 1;
        for (int d = 1; d <= 28; ++d) {
            // Listed shares 0.3 of NAV, the rest 0.5 x CSI 500: the top ten alone miss the rest.
            double move = d >= 22 ? (20 * Move(6, d) + 10 * Move(7, d)) / 100 : 0.3 * Move(1, d);
            nav *= 1 + move + 0.5 * Move(1, d);
            f.nav += code + "," + Day(d) + "," + std::to_string(nav) + ",,,,x\n";
        }
    }
    return f;
}

// The second fund also knows a report and a full list that only become public on `from`.
FolderFiles WithLaterLists(const std::string& from) {
    FolderFiles f = TwoFunds();
    f.windows += "000002,2024-03-15,x," + from + ",2024-04-01,2024-04-20,20\n";
    f.positions += "000002,2024-03-15,95,,\n";
    f.top += "000002,2024-03-15,1,600003,c,40,A\n";
    f.full += "000002,2024-03-15," + from + ",1,600003,c,60,A\n";
    return f;
}

const ReplayScore& Score(const ReplayResult& r, const std::string& fund) {
    for (const ReplayScore& s : r.funds)
        if (s.fund == fund) return s;
    static ReplayScore none;
    ADD_FAILURE() << "no line for " << fund;
    return none;
}

}  // namespace

TEST(Method, FitRecoversAKnownFundAndNeedsEnoughDays) {
    FundFit fit = FitFund(KnownFund(60), false);
    ASSERT_EQ(fit.days, 60);
    EXPECT_NEAR(fit.exposure, 0.8, 0.03);
    EXPECT_NEAR(fit.mix[kCsi300], 0.5 / 0.8, 0.03);
    EXPECT_NEAR(fit.mix[kChiNext], 0.3 / 0.8, 0.03);
    EXPECT_NEAR(fit.mix[kCsi500], 0, 0.03);
    EXPECT_NEAR(fit.mix[kCsi1000], 0, 0.03);
    EXPECT_EQ(fit.mix[kHangSeng], 0);  // no Hong Kong shares, no Hang Seng loading
    EXPECT_EQ(FitFund(KnownFund(kFitDays / 3 - 1), false).days, 0);

    // Days under the current list whose NAV moved 0.75 x the list and 0.5 x the index mix, far
    // from the report's split (0.45 and 0.35 for 30 % listed of 80 %): the split follows the record.
    std::vector<FitDay> days = KnownFund(60);
    for (int d = 20; d < 60; ++d) {
        days[d].topTen = 2 * Move(7, d);
        days[d].navChange =
            0.75 * days[d].topTen + 0.5 * (0.625 * days[d].index[kCsi300] + 0.375 * days[d].index[kChiNext]);
    }
    fit = FitFund(days, false);
    ASSERT_EQ(fit.recordDays, 40);
    std::vector<HeldStock> top = {{"sh600001", "600001", "", 30}};
    auto shares = [](const std::string&) -> std::optional<double> { return 0.01; };
    auto flat = [](const std::string&) -> std::optional<double> { return 0.0; };
    MethodResult m = EstimateChange({.topTen = &top, .equityPct = 80, .fit = &fit}, shares, flat);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.method, "index mix + record");
    // Most of the way from the report's 0.45 x 1 % to the record's 0.75 x 1 %, the ridge holding back the
    // rest.
    EXPECT_GT(m.change, 0.0065);
    EXPECT_LT(m.change, 0.0075);
}

TEST(Replay, AReportOrFullListPublicAfterADayChangesNothingOnIt) {
    ScopedTempDir tmp;
    // Public on the day after the last scored one: the second fund scores as the first.
    WithLaterLists("2024-03-29").Write(tmp.Path());
    ReplayResult r;
    std::string error;
    ASSERT_EQ(RunReplay(tmp.Path(), r, error), 1) << error;
    const ReplayScore &one = Score(r, "000001"), &two = Score(r, "000002");
    EXPECT_EQ(one.days, 6);
    EXPECT_EQ(two.days, 6);
    EXPECT_EQ(two.method, one.method);
    EXPECT_EQ(two.plain, one.plain);
    EXPECT_EQ(two.naive, one.naive);
    // The fitted mix is at work here (the NAV follows CSI 500 beyond the listed shares).
    EXPECT_LT(one.method, one.plain);

    // The same lists public from the fourth scored day on are used from then.
    WithLaterLists("2024-03-26").Write(tmp.Path());
    ASSERT_EQ(RunReplay(tmp.Path(), r, error), 1) << error;
    EXPECT_NE(Score(r, "000002").method, Score(r, "000001").method);
    EXPECT_EQ(Score(r, "000002").plain, Score(r, "000001").plain);
}

TEST(Replay, PlainFigureIsTheFormulaByHand) {
    ScopedTempDir tmp;
    FolderFiles f;
    f.funds = "fund_code,fund_name\n000003,x\n";
    f.windows += "000003,2023-12-31,x,2024-01-03,2024-01-03,2024-01-05,2\n";
    f.positions += "000003,2023-12-31,80,,\n";
    f.top += "000003,2023-12-31,1,600000,a,6,A\n000003,2023-12-31,2,00700,b,4,HK\n";
    // Day 5: a dividend of 0.01 paid out of a NAV of 1.005.
    f.nav +=
        "000003,2024-01-02,1.0000,,,,x\n000003,2024-01-03,1.0100,,,,x\n000003,2024-01-05,0.9950,,,0.01,x\n";
    // The A share is suspended on day 5; Hong Kong trades on the 4th, an A-share holiday.
    f.stocks +=
        "600000,A,2024-01-03,1,1.0,x,x\n00700,HK,2024-01-03,1,2.0,x,x\n"
        "00700,HK,2024-01-04,1,1.0,x,x\n00700,HK,2024-01-05,1,-1.0,x,x\n";
    f.index.clear();
    f.Write(tmp.Path());
    ReplayResult r;
    std::string error;
    ASSERT_EQ(RunReplay(tmp.Path(), r, error), 1) << error;
    // Day 3: 0.8 x (6 x 1 % + 4 x 2 %) / 10 = +1.12 % against +1 %.
    double day3 = (1.0112 / 1.01 - 1) * 100;
    // Day 5: 0.8 x (6 x 0 + 4 x (1.01 x 0.99 - 1)) / 10 = -0.0032 % against 1.005 / 1.01.
    double day5 = (1.01 * (1 - 0.000032) / 1.005 - 1) * 100;
    EXPECT_NEAR(r.overall.plain, (std::fabs(day3) + std::fabs(day5)) / 2, 1e-9);
    EXPECT_NEAR(r.overall.naive, (std::fabs(1 / 1.01 - 1) + std::fabs(1.01 / 1.005 - 1)) * 50, 1e-9);
    // No index history: the method is the plain formula.
    EXPECT_NEAR(r.overall.method, r.overall.plain, 1e-12);
    EXPECT_EQ(r.overall.days, 2);
    std::string report = ReplayReport(r);
    EXPECT_NE(report.find("\noverall MAE 0.31 pp (plain 0.31 pp, naive 0.74 pp) over 2 fund-days\n"),
              std::string::npos)
        << report;

    std::filesystem::remove(tmp.Path() / "nav.csv");
    EXPECT_EQ(RunReplay(tmp.Path(), r, error), -1);
}

TEST(Method, LiveEstimateIsTheReplaysMethod) {
    FundFit fit = FitFund(KnownFund(60), false);
    ASSERT_GT(fit.days, 0);
    std::map<std::string, double> changes = {{"sh600519", 0.021},  {"sz000858", -0.013}, {"sh000300", 0.008},
                                             {"sh000905", -0.004}, {"sz399006", 0.017},  {"sh000852", 0.002}};
    std::vector<HeldStock> top = {{"sh600519", "600519", "", 9}, {"sz000858", "000858", "", 5}};
    auto lookup = [&](const std::string& key) -> std::optional<double> {
        auto it = changes.find(key);
        return it == changes.end() ? std::nullopt : std::optional<double>(it->second);
    };
    QuoteMap quotes;
    for (const auto& [key, c] : changes) quotes[key] = {100 * (1 + c), 100, "2026-08-21"};
    RelayFund fund{"000001", "x", "hun", 0, false, true};
    RelayNav nav{"000001", "2026-08-20", 3.0, 1.2050, 1.2};
    FundHoldings h;
    h.reportDate = h.equityDate = "2026-06-30";
    h.equityPct = 85;
    h.stocks = top;
    for (const FundFit* f : {static_cast<const FundFit*>(nullptr), static_cast<const FundFit*>(&fit)}) {
        MethodResult m = EstimateChange({.topTen = &top, .equityPct = 85, .fit = f}, lookup, lookup);
        ASSERT_TRUE(m.ok);
        EXPECT_EQ(m.method, f ? "index mix" : "plain");
        FundEstimate e = EstimateFund(fund, &nav, &h, quotes, "2026-08-21", "2026-08-20", f);
        ASSERT_EQ(e.verdict, Verdict::Published);
        EXPECT_NEAR(e.value, 1.2050 * (1 + m.change), 1e-12);
    }
    // Without one index of the mix the estimate falls back to the plain formula.
    changes.erase("sz399006");
    EXPECT_EQ(EstimateChange({.topTen = &top, .equityPct = 85, .fit = &fit}, lookup, lookup).method, "plain");
}
