// The ledger on hand-worked numbers: the rules of money and days, a holding played over its
// fund's days, and the stored ledger beside a real Zeza.db in a temporary folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/CFundDb.h"
#include "ledger/Alerts.h"
#include "ledger/Ledger.h"
#include "ledger/LedgerMath.h"
#include "ledger/LedgerReplay.h"
#include "ledger/LedgerSync.h"
#include "platform/GbkCodec.h"
#include "platform/ServerConfig.h"
#include "tests/TestDataServer.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"

using namespace zeza;
using namespace zeza::ledger;
using namespace zeza::test;

namespace {

TEST(LedgerMath, TheIssuesBuyASaleAndTheirRounding) {
    // 10,000.00 at 0.15 % and NAV 1.2345: fee 1,000,000 * 1500 / 1,001,500 = 1497.75 fen -> 14.98;
    // units 9985.02 / 1.2345 = 8088.3110... -> 8088.31 (cut, not rounded).
    const BuyConfirmation buy = ConfirmBuy(1000000, 1500, 12345);
    EXPECT_EQ(buy.fee, 1498);
    EXPECT_EQ(buy.units, 808831);
    // A fee of exactly half a fen rounds up: 100.05 at 0.05 %... 10005 * 500 / 1000500 = 5.0 -> 5;
    // 1.00 at 100 % would be 0.50 -> 1 fen (half up).
    EXPECT_EQ(ConfirmBuy(100, 1000000, 10000).fee, 50);
    EXPECT_EQ(MulDivRoundHalfUp(1, 1, 2), 1);
    // Sale of 1,000.00 units at 1.2345 and 0.50 %: gross 1234.50, fee 6.1725 -> 6.17, paid 1228.33.
    const SellConfirmation sell = ConfirmSell(100000, 5000, 12345);
    EXPECT_EQ(sell.gross, 123450);
    EXPECT_EQ(sell.fee, 617);
    EXPECT_EQ(sell.amount, 122833);
    // Half a fen of gross rounds up: 0.01 unit at 0.5000 is 0.5 fen -> 1 fen.
    EXPECT_EQ(ConfirmSell(1, 0, 5000).gross, 1);
    EXPECT_EQ(ConfirmSell(10, 0, 10050).gross, 10);  // 0.1005 -> 0.10
    EXPECT_EQ(ConfirmSell(50, 0, 10010).gross, 50);  // 0.5005 -> 0.50 (half of a fen is 0.005)
    // Dividends and splits: 1,000.00 units, 0.0300 a unit -> 30.00; reinvested at 1.5000 -> 20.00
    // units; a split of 1.027437 on 8088.31 units -> 8310.2289... -> 8310.22.
    EXPECT_EQ(DividendCash(100000, 30000), 3000);
    EXPECT_EQ(DividendUnits(100000, 30000, 15000), 2000);
    EXPECT_EQ(SplitUnits(808831, "1.027437"), 831022);
    // Fixed-point text: exact, no binary fractions, nothing but digits and one point.
    EXPECT_EQ(ParseScaled("0.1", 2), 10);
    EXPECT_EQ(ParseScaled("0.15", 4), 1500);
    EXPECT_EQ(ParseScaled("10000", 2), 1000000);
    for (const char* bad : {"", "-1", "1.", ".5", "1.234", "1e3", " 1", "1,5"})
        EXPECT_FALSE(ParseScaled(bad, 2)) << bad;
    EXPECT_EQ(FormatScaled(-1498, 2), "-14.98");
    EXPECT_EQ(FormatScaled(5, 4), "0.0005");
}

TEST(LedgerMath, TradeDaysCutOffAtThreeAndSkipWeekends) {
    // 2024-03-08 is a Friday.
    const std::pair<const char*, const char*> cases[] = {
        {"2024-03-07 14:59", "2024-03-07"}, {"2024-03-07 15:00", "2024-03-08"},
        {"2024-03-08 15:00", "2024-03-11"}, {"2024-03-09 10:00", "2024-03-11"},
        {"2024-03-10 23:59", "2024-03-11"}, {"2024-02-29 09:00", "2024-02-29"},
        {"2023-12-31 16:00", "2024-01-01"}, {"2023-02-29 09:00", ""},
        {"2024-03-07 24:00", ""},           {"2024-03-07", ""},
    };
    for (const auto& [placed, day] : cases) EXPECT_EQ(TradeDayOf(placed), day) << placed;
    EXPECT_EQ(Weekday(*DayNumber("2024-03-08")), 5);
    EXPECT_EQ(DayText(*DayNumber("2000-02-29") + 1), "2000-03-01");
}

// --- a holding played over its fund's days ---

NavDay Day(const char* day, Nav4 nav, int64_t dividendMicro = 0, const char* split = "") {
    return NavDay{day, nav, dividendMicro, split};
}

TradeInput Input(long long holding, TradeKind kind, const char* placed, Fen amount, Hundredths units,
                 RatePpm rate = 0) {
    TradeInput t;
    t.holding = holding;
    t.kind = kind;
    t.placed = placed;
    t.amount = amount;
    t.units = units;
    t.rate = rate;
    return t;
}

TradeRecord Trade(long long id, TradeKind kind, const char* placed, Fen amount, Hundredths units,
                  RatePpm rate = 0) {
    TradeRecord t;
    static_cast<TradeInput&>(t) = Input(1, kind, placed, amount, units, rate);
    t.id = id;
    t.code = "000001";
    return t;
}

ReplayResult Play(const std::vector<TradeRecord>& trades, const std::vector<NavDay>& navs,
                  bool reinvest = false) {
    ReplayInput in;
    in.holding = 1;
    in.code = "000001";
    in.trades = trades;
    in.navs = &navs;
    in.reinvest = reinvest;
    return Replay(in);
}

Fen IncomeOn(const ReplayResult& r, const std::string& day) {
    for (const auto& [d, fen] : r.income)
        if (d == day) return fen;
    ADD_FAILURE() << "no income on " << day;
    return 0;
}

TEST(LedgerReplay, BuysAndSalesConfirmAtTheirDaysNavWithAverageCost) {
    // 2024-10-01..07 is a market holiday: no NAV, so a buy placed on 10-01 confirms on 10-08.
    const std::vector<NavDay> navs = {Day("2024-09-27", 12000), Day("2024-09-30", 12345),
                                      Day("2024-10-08", 13000), Day("2024-10-09", 12900)};
    const auto r = Play({Trade(1, TradeKind::Buy, "2024-09-30 14:30", 1000000, 0, 1500),
                         Trade(2, TradeKind::Sell, "2024-10-01 10:00", 0, 300000, 5000),
                         Trade(3, TradeKind::Sell, "2024-10-09 15:01", 0, 100000, 5000)},
                        navs);
    ASSERT_EQ(r.trades.size(), 3u);
    EXPECT_EQ(r.trades[0].status, TradeStatus::Confirmed);
    EXPECT_EQ(r.trades[0].confirmDay, "2024-09-30");
    EXPECT_EQ(r.trades[0].confirmUnits, 808831);
    EXPECT_EQ(r.trades[0].fee, 1498);
    EXPECT_EQ(r.trades[1].tradeDay, "2024-10-01");
    EXPECT_EQ(r.trades[1].confirmDay, "2024-10-08");
    // 3,000.00 units at 1.3000: gross 3900.00, fee 19.50; cost 10,000.00 * 3000 / 8088.31 =
    // 3709.058... -> 3709.06 leaves 6290.94 on 5088.31 units.
    EXPECT_EQ(r.trades[1].confirmAmount, 388050);
    EXPECT_EQ(r.trades[1].costAfter, 629094);
    EXPECT_EQ(r.trades[1].unitsAfter, 508831);
    // Placed after 15:00 on the newest day: waits for the next NAV, its units frozen.
    EXPECT_EQ(r.trades[2].status, TradeStatus::Pending);
    EXPECT_EQ(r.trades[2].tradeDay, "2024-10-10");
    EXPECT_EQ(r.frozen, 100000);
    EXPECT_EQ(r.units, 508831);
    EXPECT_EQ(r.cost, 629094);
    // A buy costs its fee on its day: 8088.31 * 1.2345 = 9985.017... - 10,000.00 -> -14.98.
    EXPECT_EQ(IncomeOn(r, "2024-09-30"), -1498);
    // The sale's day: 5088.31 * 1.3 + 3880.50 paid out - 8088.31 * 1.2345 = 510.2843 -> 510.28.
    EXPECT_EQ(IncomeOn(r, "2024-10-08"), 51028);
    EXPECT_EQ(IncomeOn(r, "2024-10-09"), -5088);  // 5088.31 * -0.01 = -50.88
    EXPECT_EQ(r.income.front().first, "2024-09-30");
}

TEST(LedgerReplay, EventsAreTakenOnceAndCostNothingOnTheirDay) {
    const std::vector<NavDay> navs = {Day("2024-05-06", 15300), Day("2024-05-07", 15000, 30000),
                                      Day("2024-05-08", 14600, 0, "1.027437"), Day("2024-05-09", 14650)};
    const TradeRecord buy = Trade(1, TradeKind::Buy, "2024-05-06 10:00", 1530000, 0, 0);  // 10,000.00 units
    // Cash: 10,000.00 units * 0.0300 = 300.00 paid, counted as income beside the NAV's drop.
    auto cash = Play({buy}, navs);
    ASSERT_EQ(cash.added.size(), 2u);
    EXPECT_EQ(cash.added[0].kind, TradeKind::CashDividend);
    EXPECT_TRUE(cash.added[0].automatic);
    EXPECT_EQ(cash.added[0].confirmAmount, 30000);
    EXPECT_EQ(IncomeOn(cash, "2024-05-07"), 0);  // 10000 * 1.5 - 10000 * 1.53 + 300 = 0
    // Split: 10,000.00 * 1.027437 = 10274.37 units; 10274.37 * 1.46 - 10000 * 1.5 = 0.5802 -> 0.58.
    EXPECT_EQ(cash.added[1].splitRatio, "1.027437");
    EXPECT_EQ(cash.units, 1027437);
    EXPECT_EQ(cash.cost, 1530000);
    EXPECT_EQ(IncomeOn(cash, "2024-05-08"), 58);

    // Reinvested: 300.00 at 1.5000 buys 200.00 units at no cost; the day's income is the same.
    auto reinvested = Play({buy}, navs, true);
    EXPECT_EQ(reinvested.added[0].kind, TradeKind::Reinvest);
    EXPECT_EQ(reinvested.added[0].confirmUnits, 20000);
    EXPECT_EQ(IncomeOn(reinvested, "2024-05-07"), 0);
    EXPECT_EQ(reinvested.cost, 1530000);

    // Played again with what it took: nothing new. Undone: never taken again.
    std::vector<TradeRecord> taken = {buy, cash.added[0], cash.added[1]};
    taken[1].id = 2;
    taken[2].id = 3;
    EXPECT_TRUE(Play(taken, navs).added.empty());
    EXPECT_EQ(Play(taken, navs).units, 1027437);
    taken[1].status = TradeStatus::Cancelled;
    const auto undone = Play(taken, navs);
    EXPECT_TRUE(undone.added.empty());
    EXPECT_EQ(IncomeOn(undone, "2024-05-07"), -30000);
}

TEST(LedgerReplay, AHandTypedHoldingOpensItsRecordAtItsFirstEvent) {
    const std::vector<NavDay> navs = {Day("2024-05-06", 15300), Day("2024-05-07", 15000, 30000)};
    ReplayInput in;
    in.holding = 1;
    in.code = "000001";
    in.navs = &navs;
    in.typedUnits = 100000;
    in.typedCost = 150000;
    in.since = "2024-05-06";
    const auto r = Replay(in);
    ASSERT_EQ(r.added.size(), 2u);
    EXPECT_EQ(r.added[0].kind, TradeKind::Adjust);
    EXPECT_EQ(r.added[0].units, 100000);
    EXPECT_EQ(r.added[0].cost, 150000);
    EXPECT_EQ(r.added[1].confirmAmount, 3000);
    EXPECT_TRUE(r.derived);
    // Before any event it stays the typed row, earning from the day after the ledger met it.
    in.since = "2024-05-07";
    const auto quiet = Replay(in);
    EXPECT_FALSE(quiet.derived);
    EXPECT_TRUE(quiet.added.empty());
    EXPECT_TRUE(quiet.income.empty());
}

// --- the stored ledger ---

class LedgerDbTest : public testing::Test {
  protected:
    void SetUp() override {
        { CFundDb provision; }
        ASSERT_EQ(Ledger::Check(), 1);
    }
    long long Holding(const std::string& code, double cost = 0, double units = 0) {
        AddHolding(code, cost, units);
        return std::stoll(QueryOne("SELECT MAX(idc) FROM fu_count;"));
    }
    static std::vector<TradeRecord> Trades(long long holding) {
        std::vector<TradeRecord> out;
        EXPECT_EQ(Ledger::ListTrades(holding, out), 0);
        return out;
    }
    ScopedTempDir m_dir;
};

TEST_F(LedgerDbTest, ATradeWaitsForItsNavThenSetsTheHoldingAndFreezesPendingSales) {
    const long long h = Holding("000001");
    ASSERT_EQ(Ledger::StoreHistory("000001", "2024-09-27|1.2000|1.5000|\r\n2024-09-30|1.2345|1.5345|\r\n"),
              0);
    long long id = 0;
    ASSERT_EQ(Ledger::AddTrade(Input(h, TradeKind::Buy, "2024-09-30 14:30", 1000000, 0, 1500), &id), 0);
    ASSERT_EQ(Ledger::AddTrade(Input(h, TradeKind::Buy, "2024-09-30 15:30", 500000, 0, 1500)), 0);
    auto trades = Trades(h);
    ASSERT_EQ(trades.size(), 2u);
    EXPECT_EQ(trades[0].status, TradeStatus::Confirmed);
    EXPECT_EQ(trades[1].status, TradeStatus::Pending);
    EXPECT_EQ(Holdings(), (std::vector<std::string>{"000001|10000.0|8088.31|"}));

    // 5,000.00 units on sale: 3,088.31 left free; a second sale of 3,088.32 is refused.
    ASSERT_EQ(Ledger::AddTrade(Input(h, TradeKind::Sell, "2024-10-08 10:00", 0, 500000, 5000)), 0);
    Hundredths free = 0;
    ASSERT_EQ(Ledger::FreeUnits(h, free), 0);
    EXPECT_EQ(free, 308831);
    EXPECT_EQ(Ledger::AddTrade(Input(h, TradeKind::Sell, "2024-10-08 10:00", 0, 308832, 5000)), -4);
    EXPECT_EQ(Trades(h).size(), 3u);

    // The next NAV (after a holiday) confirms the second buy and the sale together.
    ASSERT_EQ(Ledger::StoreHistory("000001", "2024-10-08|1.3000|1.6000|\r\n"), 0);
    int changed = 0;
    ASSERT_EQ(Ledger::ConfirmAll("2024-10-08", &changed), 0);
    EXPECT_EQ(changed, 1);
    trades = Trades(h);
    EXPECT_EQ(trades[1].status, TradeStatus::Confirmed);
    EXPECT_EQ(trades[1].confirmDay, "2024-10-08");
    // 5,000.00 at 0.15 %: fee 7.49, units 4992.51 / 1.3 = 3840.39.
    EXPECT_EQ(trades[1].confirmUnits, 384039);
    EXPECT_EQ(trades[2].status, TradeStatus::Confirmed);
    EXPECT_EQ(QueryOne("SELECT tcount FROM fu_count WHERE idc=?", {h}), "6928.7");
    // A confirmed trade is neither edited nor cancelled.
    EXPECT_EQ(Ledger::CancelTrade(id), -3);
    EXPECT_EQ(Ledger::EditTrade(id, Input(h, TradeKind::Buy, "2024-09-30 14:30", 1, 0)), -3);
}

TEST_F(LedgerDbTest, TheFirstTradeOfAHandTypedHoldingCarriesItsUnitsOver) {
    const long long h = Holding("000001", 1500.5, 1000);
    ASSERT_EQ(Ledger::StoreHistory("000001", "2024-09-30|1.0000|1.0000|\r\n"), 0);
    ASSERT_EQ(Ledger::AddTrade(Input(h, TradeKind::Buy, "2024-09-30 10:00", 100000, 0)), 0);
    const auto trades = Trades(h);
    ASSERT_EQ(trades.size(), 2u);
    EXPECT_EQ(trades[0].kind, TradeKind::Adjust);
    EXPECT_EQ(trades[0].units, 100000);
    EXPECT_EQ(trades[0].cost, 150050);
    EXPECT_EQ(Holdings(), (std::vector<std::string>{"000001|2500.5|2000.0|"}));
    // Editing the units of a holding with trades (that evening) records a correction; its fund stays.
    ASSERT_EQ(Ledger::UpdateHolding(h, "000001", 1600.5, 1000, "x", "2024-09-30 20:00"), 0);
    EXPECT_EQ(Trades(h).back().kind, TradeKind::Adjust);
    EXPECT_EQ(Holdings(), (std::vector<std::string>{"000001|1600.5|1000.0|x"}));
    EXPECT_EQ(Ledger::UpdateHolding(h, "000011", 1600.5, 1000, "x", "2024-09-30 11:00"), -3);
    // Deleting the holding deletes its trades.
    ASSERT_EQ(Ledger::DeleteHolding(h), 0);
    EXPECT_EQ(Ledger::HasTrades(h), 0);
    EXPECT_TRUE(Holdings().empty());
}

TEST_F(LedgerDbTest, APlanCatchesUpAfterClosedDaysOnceAndAConversionBuysWithItsSale) {
    const long long h = Holding("000001");
    PlanInput plan;
    plan.holding = h;
    plan.amount = 10000;
    plan.schedule = PlanSchedule::EveryTradingDay;
    plan.start = "2024-03-04";
    ASSERT_EQ(Ledger::AddPlan(plan), 0);
    plan.schedule = PlanSchedule::Monthly;
    plan.day = 31;  // February's is its 29th
    plan.start = "2024-02-01";
    ASSERT_EQ(Ledger::AddPlan(plan), 0);
    // The program was closed for three trading days; then their NAVs and today's arrive at once.
    ASSERT_EQ(
        Ledger::StoreHistory("000001",
                             "2024-02-29|1.0000|1.0000|\r\n2024-03-01|1.0000|1.0000|\r\n2024-03-04|1.0000|"
                             "1.0000|\r\n2024-03-05|1.0000|1.0000|\r\n2024-03-06|1.0000|1.0000|\r\n"),
        0);
    for (int pass = 0; pass < 2; ++pass) ASSERT_EQ(Ledger::ConfirmAll("2024-03-06"), 0);
    auto trades = Trades(h);
    std::vector<std::string> days;
    for (const auto& t : trades) days.push_back(t.eventDay + " " + TradeStatusText(t.status));
    const std::string ok = TradeStatusText(TradeStatus::Confirmed);
    EXPECT_EQ(days, (std::vector<std::string>{"2024-02-29 " + ok, "2024-03-04 " + ok, "2024-03-05 " + ok,
                                              "2024-03-06 " + ok}));
    // A cancelled plan buy is not made again.
    ASSERT_EQ(Ledger::StoreHistory("000001", "2024-03-07|1.0000|1.0000|\r\n"), 0);
    ASSERT_EQ(Ledger::ConfirmAll("2024-03-07"), 0);
    EXPECT_EQ(Trades(h).size(), 5u);

    // A conversion of 100.00 units at 1.0000, 0.10 %: 99.90 buys 000011 at 2.0000 -> 49.95 units.
    ASSERT_EQ(Ledger::StoreHistory("000011", "2024-03-07|2.0000|2.0000|\r\n"), 0);
    TradeInput convert = Input(h, TradeKind::Convert, "2024-03-07 10:00", 0, 10000, 1000);
    convert.toCode = "000011";
    ASSERT_EQ(Ledger::AddTrade(convert), 0);
    const long long into = std::stoll(QueryOne("SELECT idc FROM fu_count WHERE codec='000011';"));
    const auto bought = Trades(into);
    ASSERT_EQ(bought.size(), 1u);
    EXPECT_EQ(bought[0].status, TradeStatus::Confirmed);
    EXPECT_EQ(bought[0].confirmAmount, 9990);
    EXPECT_EQ(bought[0].confirmUnits, 4995);
}

TEST_F(LedgerDbTest, ImportTakesGoodLinesReportsBadOnesAndExportsWhatItHolds) {
    ASSERT_EQ(Ledger::StoreHistory("000001", "2024-09-30|1.2345|1.2345|\r\n"), 0);
    const std::string text = G("基金代码,交易类型,下单时间,金额,份额,费率,转入代码,成本,备注\r\n") +
                             G("000001,买入,2024-09-30 14:30,10000.00,,0.15,,,首笔\r\n") +
                             G("000001,卖出,2024-09-30 14:40,,abc,0.5,,,\r\n") +
                             G("000001,买入,2024-09-31 10:00,1,,,,,\r\n") +
                             G("000021,买入,2024-10-08 10:00,500,,0,,,\r\n");
    WriteFileBytes("trades.csv", text);
    int added = 0, skipped = 0;
    std::vector<std::string> reasons;
    ASSERT_EQ(Ledger::ImportTrades("trades.csv", &added, &skipped, &reasons), 1);
    EXPECT_EQ(added, 2);
    EXPECT_EQ(skipped, 2);
    ASSERT_EQ(reasons.size(), 2u);
    EXPECT_EQ(reasons[0], G("第3行：份额不是数字"));
    EXPECT_EQ(reasons[1], G("第4行：下单时间不是 YYYY-MM-DD HH:MM"));
    EXPECT_EQ(Holdings(), (std::vector<std::string>{"000001|10000.0|8088.31|", "000021|0.0|0.0|"}));
    ASSERT_EQ(Ledger::ExportTrades("out.csv"), 1);
    EXPECT_EQ(ReadFileBytes("out.csv"),
              G("基金代码,交易类型,下单时间,金额,份额,费率,转入代码,成本,备注,状态,确认日期,确认净值,"
                "确认份额,确认金额\r\n") +
                  G("000001,买入,2024-09-30 "
                    "14:30,10000.00,,0.1500,,,首笔,已确认,2024-09-30,1.2345,8088.31,10000.00\r\n") +
                  G("000021,买入,2024-10-08 10:00,500.00,,0.0000,,,,待确认,,,,\r\n"));
    // The pending one is edited, then cancelled (once).
    const long long other = std::stoll(QueryOne("SELECT idc FROM fu_count WHERE codec='000021';"));
    const long long pending = Trades(other).at(0).id;
    EXPECT_EQ(Ledger::EditTrade(pending, Input(other, TradeKind::Buy, "2024-10-08 11:00", 60000, 0)), 0);
    EXPECT_EQ(Trades(other).at(0).amount, 60000);
    EXPECT_EQ(Ledger::CancelTrade(pending), 0);
    EXPECT_EQ(Trades(other).at(0).status, TradeStatus::Cancelled);
    EXPECT_EQ(Ledger::CancelTrade(pending), -3);
    // A file that is not there changes nothing.
    EXPECT_EQ(Ledger::ImportTrades("missing.csv", &added), -3);
    EXPECT_EQ(added, 0);
}

TEST_F(LedgerDbTest, ADamagedLedgerIsLeftAloneAndTheHoldingsStay) {
    const long long h = Holding("000001", 100, 10);
    const std::string junk(4096, 'x');
    WriteFileBytes(Ledger::kFileName, junk);
    EXPECT_EQ(Ledger::Check(), -5);
    EXPECT_EQ(Ledger::AddTrade(Input(h, TradeKind::Buy, "2024-09-30 10:00", 100, 0)), -5);
    std::vector<DayIncome> days;
    EXPECT_EQ(Ledger::MonthIncome(2024, 9, days), -5);
    EXPECT_EQ(Ledger::UpdateHolding(h, "000001", 200, 20, "", "2024-09-30 10:00"), 0);
    EXPECT_EQ(Holdings(), (std::vector<std::string>{"000001|200.0|20.0|"}));
    EXPECT_EQ(ReadFileBytes(Ledger::kFileName), junk);
}

TEST_F(LedgerDbTest, TheDemoTradesConfirmFromTheSampleServersHistory) {
    auto srv = StartDataServer(server::SampleDataDir());
    ASSERT_TRUE(srv);
    SetServerBaseUrlForTesting(srv->Url());
    int added = 0;
    ASSERT_EQ(
        Ledger::ImportTrades((server::SampleDataDir() / "../../resources/demo/trades.csv").string(), &added),
        1);
    EXPECT_EQ(added, 7);
    CFundDb db;
    int missing = -1;
    EXPECT_EQ(SyncLedger(db, "2008-11-17", {}, &missing), 1);
    EXPECT_EQ(missing, 0);
    ResetCoreTestHooks();

    std::vector<std::string> seen;
    for (const std::string& row : Rows("SELECT idc,codec FROM fu_count ORDER BY idc;")) {
        const long long idc = std::stoll(row.substr(0, row.find('|')));
        for (const TradeRecord& t : Trades(idc))
            seen.push_back(t.code + " " + GbkToUtf8(TradeKindText(t.kind)) + (t.automatic ? "*" : "") + " " +
                           t.confirmDay + " " + GbkToUtf8(TradeStatusText(t.status)));
    }
    EXPECT_EQ(seen,
              (std::vector<std::string>{"000001 买入 2008-07-10 已确认", "000001 买入 2008-08-18 已确认",
                                        "000001 卖出 2008-09-22 已确认", "000001 现金分红* 2008-10-20 已确认",
                                        "000011 买入 2008-07-01 已确认", "000011 份额调整* 2008-09-08 已确认",
                                        "000021 买入 2008-06-16 已确认", "000021 转换 2008-10-14 已确认",
                                        "000031 买入 2008-10-14 已确认", "000041 买入  待确认"}));
    // 000001: 10,713.54 + 5,220.65 - 2,000.00 units; the dividend pays 13,934.19 * 0.03 = 418.02.
    EXPECT_EQ(QueryOne("SELECT tcount FROM fu_count WHERE codec='000001';"), "13934.19");
    // Zeza.db keeps exactly its own tables; the ledger's are in the side file.
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM sqlite_master WHERE name IN ('trade','nav','income','plan');"),
              "0");
    std::vector<DayIncome> days;
    ASSERT_EQ(Ledger::MonthIncome(2008, 10, days), 0);
    EXPECT_GT(days.size(), 15u);
}

// Texts of what TakeDue gives at now, titles and bodies in UTF-8.
std::vector<std::string> Due(const std::string& now) {
    std::vector<AlertNotice> notices;
    EXPECT_EQ(Alerts::TakeDue(now, notices), 0);
    std::vector<std::string> out;
    for (const AlertNotice& n : notices) out.push_back(GbkToUtf8(n.title) + " / " + GbkToUtf8(n.body));
    return out;
}

TEST_F(LedgerDbTest, EachAlertFiresOnceADayAndNeverOnAWeekend) {
    // Thursday 2024-03-07: the NAVs are of the 6th, the estimates of 10:00 that day.
    AddNetValue("000001", 1, 1.0, 0.99, "2024-03-06");
    AddNetValue("000011", 2, 2.0, 2.0, "2024-03-06");
    AddNetValue("000021", 1, 1.0, 1.0, "2024-03-06");
    ASSERT_TRUE(Exec("UPDATE fu_list SET estval=1.03 WHERE codel='000001';"));
    ASSERT_TRUE(Exec("UPDATE fu_list SET estval=2.02,look=-1 WHERE codel IN ('000011');"));
    ASSERT_TRUE(Exec("UPDATE fu_list SET estval=1.01,look=-1 WHERE codel IN ('000021');"));
    ASSERT_TRUE(Exec("UPDATE fu_iniLoc SET estTime=1709776800;"));  // 2024-03-07 10:00 Beijing
    const long long h = Holding("000001", 1000, 1000);
    AlertSettings settings;
    ASSERT_EQ(Alerts::ReadSettings(settings), 0);
    EXPECT_EQ(settings.time, "14:45");
    settings.thresholds["000011"] =
        50;  // 0.50 %: 000011's +1 % crosses it, 000021's +1 % not the default 2 %
    ASSERT_EQ(Alerts::StoreSettings(settings), 0);

    EXPECT_EQ(Due("2024-03-07 10:02"),
              (std::vector<std::string>{"估值提醒 / 000001 华夏成长 +3.00%\n000011 华夏大盘 +1.00%"}));
    EXPECT_TRUE(Due("2024-03-07 10:04").empty());
    EXPECT_EQ(Due("2024-03-07 14:45"),
              (std::vector<std::string>{"今日估值 +3.00% / 预估收益 +30.00 元\n000001 华夏成长 +3.00%"}));
    EXPECT_TRUE(Due("2024-03-07 14:47").empty());
    // The evening's NAV: the day's income, once.
    ASSERT_TRUE(Exec("DELETE FROM fu_stk WHERE codes='000001';"));
    AddNetValue("000001", 1, 1.025, 1.0, "2024-03-07");
    EXPECT_EQ(Due("2024-03-07 20:00"),
              (std::vector<std::string>{"今日净值已公布 收益 +25.00 元 / 000001 华夏成长 +2.50% +25.00"}));
    EXPECT_TRUE(Due("2024-03-07 20:02").empty());
    // A Saturday with estimates stamped that day alerts nothing about them.
    ASSERT_TRUE(Exec("UPDATE fu_iniLoc SET estTime=1709949600;"));  // 2024-03-09 10:00 Beijing
    ASSERT_TRUE(Exec("UPDATE fu_stk SET gdate='2024-03-08';"));
    EXPECT_TRUE(Due("2024-03-09 15:00").empty());

    // A pending trade the refresh confirms, and a plan's buy it makes, are told once.
    ASSERT_EQ(Ledger::StoreHistory("000001", "2024-03-07|1.0250|1.0250|\r\n"), 0);
    ASSERT_EQ(Ledger::AddTrade(Input(h, TradeKind::Buy, "2024-03-08 10:00", 102500, 0)), 0);
    PlanInput plan;
    plan.holding = h;
    plan.amount = 10000;
    plan.schedule = PlanSchedule::Weekly;
    plan.day = 5;
    plan.start = "2024-03-08";
    ASSERT_EQ(Ledger::AddPlan(plan), 0);
    ASSERT_EQ(Ledger::StoreHistory("000001", "2024-03-08|1.0000|1.0000|\r\n"), 0);
    ASSERT_EQ(Ledger::ConfirmAll("2024-03-09"), 0);
    EXPECT_EQ(Due("2024-03-09 15:02"),
              (std::vector<std::string>{
                  "交易已确认 / 000001 买入 已确认：2024-03-08 净值 1.0000，份额 1025.00，金额 1025.00",
                  "定投已下单 / 000001 定投买入 100.00 元（2024-03-08）"}));
    EXPECT_TRUE(Due("2024-03-09 15:04").empty());
}

}  // namespace
