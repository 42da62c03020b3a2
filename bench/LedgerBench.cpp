// The ledger at the size of a busy investor: 50 holdings, four years of daily NAVs of their
// funds with dividends and a split each, and 10,000 trades imported in one file. Measured: the
// 我的基金 view read anew (as after a confirmation changed units), one month of the calendar and
// one clicked day, the hourly confirmation pass when nothing came, and a pending buy added and
// cancelled. The bar for the view and the calendar is 16 ms each.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/BenchSupport.h"
#include "db/CFundDb.h"
#include "db/SqliteConnection.h"
#include "ledger/Ledger.h"
#include "ledger/LedgerMath.h"
#include "platform/GbkCodec.h"
#include "tables/ViewDefinition.h"
#include "tables/ViewLoader.h"

namespace {

using zeza::Ledger;

constexpr int kHoldings = 50;
constexpr int kTradesPerHolding = 200;
constexpr int kEventsPerFund = 5;                // four yearly dividends and a split, all while held
constexpr const char* kFirstDay = "2021-01-04";  // a Monday
constexpr const char* kLastDay = "2024-12-31";   // the quote date and the confirmation pass's today
constexpr int kMonthYear = 2024, kMonth = 12;    // the calendar's month
constexpr const char* kClickedDay = "2024-12-16";

std::vector<long long> g_holdings;  // idc of each holding, in fund order

// A small deterministic generator, so every run builds the same ledger.
struct Walk {
    uint64_t state;
    explicit Walk(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
};

std::string Scaled(int64_t v, int decimals) {
    return zeza::ledger::FormatScaled(v, decimals);
}

struct FundDays {
    std::vector<std::string> days;  // weekdays from kFirstDay to kLastDay
    std::vector<int64_t> nav;       // Nav4 of each day
};

// The weekdays of the four years.
std::vector<std::string> Weekdays() {
    std::vector<std::string> out;
    const int64_t last = *zeza::ledger::DayNumber(kLastDay);
    for (int64_t d = *zeza::ledger::DayNumber(kFirstDay); d <= last; ++d)
        if (zeza::ledger::Weekday(d) <= 5) out.push_back(zeza::ledger::DayText(d));
    return out;
}

// Fund f's history answer (GBK) and its NAVs: a walk of up to ±1.5 % a day, a 0.03 dividend once
// a year and one split, on days that differ from fund to fund.
std::string HistoryText(int f, const std::vector<std::string>& days, FundDays& out) {
    Walk walk(static_cast<uint64_t>(f) + 1);
    int64_t nav = 10000 + 137 * f, acc = nav;
    std::string text;
    out.days = days;
    out.nav.clear();
    for (size_t i = 0; i < days.size(); ++i) {
        const int64_t move = nav * (static_cast<int64_t>(walk.Next() % 3001) - 1490) / 100000;
        nav += move;
        acc += move;
        std::string event;
        const int index = static_cast<int>(i);
        if (index % 250 == 60 + 2 * f && index < 1000) {
            nav -= 300;
            event = "分红 0.0300";
        } else if (index == 700 + 2 * f) {
            nav = nav * 1000000 / 1027437;
            event = "拆分 1.027437";
        }
        if (nav < 3000) nav = 3000;
        out.nav.push_back(nav);
        text += days[i] + "|" + Scaled(nav, 4) + "|" + Scaled(acc, 4) + "|" + event + "\r\n";
    }
    return zeza::Utf8ToGbk(text);
}

// The trades of holding f (GBK lines): one every fifth weekday, every fifth of them a sale of
// 30 % of the units bought so far less those sold (fewer than held: splits only add units), some
// placed after the 15:00 cut-off.
std::string TradeLines(int f, const std::string& code, const FundDays& fund) {
    Walk walk(1000 + static_cast<uint64_t>(f));
    const std::string buy = zeza::Utf8ToGbk("买入"), sell = zeza::Utf8ToGbk("卖出");
    const std::string remark = zeza::Utf8ToGbk("定投");
    std::string lines;
    int64_t units = 0;  // hundredths, an underestimate of those held
    for (int j = 0; j < kTradesPerHolding; ++j) {
        const size_t day = static_cast<size_t>(j) * 5 + static_cast<size_t>(f % 5);
        const std::string placed = fund.days[day] + (j % 7 == 3 ? " 15:20" : " 10:30");
        const int64_t nav = fund.nav[std::min(day + 1, fund.days.size() - 1)];
        if (j % 5 == 4) {
            const int64_t sold = units * 3 / 10;
            units -= sold;
            lines += code + "," + sell + "," + placed + ",," + Scaled(sold, 2) + ",0.50,,,\r\n";
        } else {
            const int64_t amount = 100000 + static_cast<int64_t>(walk.Next() % 400000);  // fen
            units += amount * 9900 / nav / 100;  // the amount less a generous fee, over the NAV
            lines += code + "," + buy + "," + placed + "," + Scaled(amount, 2) + ",,0.15,,," +
                     (j % 10 == 0 ? remark : std::string()) + "\r\n";
        }
    }
    return lines;
}

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

bool Fail(const char* what) {
    std::fprintf(stderr, "ledger bench setup: %s\n", what);
    return false;
}

// Builds Zeza.db and ZezaLedger.db in the current folder, printing how long each step took.
bool BuildLedger() {
    using Clock = std::chrono::steady_clock;
    if (zeza::CFundDb::WriteTemplateDatabase() != 1) return Fail("no template database");
    std::vector<std::string> codes;
    {
        zeza::SqliteConnection db;
        zeza::QueryTable t;
        if (!db.Open() ||
            db.Query("SELECT codel FROM fu_list ORDER BY idl LIMIT ?;", {static_cast<long long>(kHoldings)},
                     t) != SQLITE_OK ||
            t.rows != kHoldings)
            return Fail("the template has fewer funds than holdings");
        for (int r = 0; r < t.rows; ++r) codes.push_back(t.Str(r, 0));
    }

    const std::vector<std::string> days = Weekdays();
    std::vector<FundDays> funds(kHoldings);
    auto start = Clock::now();
    for (int f = 0; f < kHoldings; ++f) {
        int stored = 0;
        if (Ledger::StoreHistory(codes[f], HistoryText(f, days, funds[f]), &stored) != 0 ||
            stored != static_cast<int>(days.size()))
            return Fail("history not stored");
    }
    std::fprintf(stderr, "setup: %d funds x %zu days of history stored in %.0f ms\n", kHoldings, days.size(),
                 MsSince(start));

    {
        // Empty holdings the import fills, and the day's quotes the view joins them to.
        zeza::SqliteConnection db;
        if (!db.Open() || db.Exec("BEGIN;") != SQLITE_OK) return Fail("Zeza.db not opened");
        for (int f = 0; f < kHoldings; ++f) {
            const double last = static_cast<double>(funds[f].nav.back()) / 10000.0;
            const double before = static_cast<double>(funds[f].nav[funds[f].nav.size() - 2]) / 10000.0;
            if (db.Exec("INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES (?,0,0,'');", {codes[f]}) !=
                    SQLITE_OK ||
                db.Exec("INSERT INTO fu_stk (codes,valreal,valtd,valytd,gdate) VALUES (?,?,?,?,?);",
                        {codes[f], last, last, before, std::string(kLastDay)}) != SQLITE_OK)
                return Fail("holdings not made");
        }
        zeza::QueryTable t;
        if (db.Exec("COMMIT;") != SQLITE_OK ||
            db.Query("SELECT idc FROM fu_count ORDER BY idc;", {}, t) != SQLITE_OK || t.rows != kHoldings)
            return Fail("holdings not made");
        for (int r = 0; r < t.rows; ++r) g_holdings.push_back(std::atoll(t.Text(r, 0)));
    }

    {
        std::ofstream file("trades.csv", std::ios::binary | std::ios::trunc);
        file << zeza::Utf8ToGbk("基金代码,交易类型,下单时间,金额,份额,费率,转入代码,成本,备注") << "\r\n";
        for (int f = 0; f < kHoldings; ++f) file << TradeLines(f, codes[f], funds[f]);
        if (!file) return Fail("trades file not written");
    }
    start = Clock::now();
    int added = 0, skipped = 0;
    std::vector<std::string> reasons;
    if (Ledger::ImportTrades("trades.csv", &added, &skipped, &reasons) != 1)
        return Fail("the trades file was not imported");
    std::fprintf(stderr, "setup: %d trades imported in %.0f ms\n", added, MsSince(start));
    if (added != kHoldings * kTradesPerHolding || skipped != 0) {
        if (!reasons.empty())
            std::fprintf(stderr, "first skipped: %s\n", zeza::GbkToUtf8(reasons[0]).c_str());
        return Fail("not every trade was imported");
    }

    start = Clock::now();
    int changed = 0;
    if (Ledger::ConfirmAll(kLastDay, &changed) != 0) return Fail("confirmation pass failed");
    std::fprintf(stderr, "setup: first confirmation pass in %.0f ms (%d holdings changed)\n", MsSince(start),
                 changed);

    // The user's trades must all be there and confirmed, and the events applied, or the
    // numbers below would measure an idle ledger.
    int own = 0, confirmed = 0, automatic = 0;
    for (long long idc : g_holdings) {
        std::vector<zeza::TradeRecord> trades;
        if (Ledger::ListTrades(idc, trades) != 0) return Fail("trades not listed");
        for (const zeza::TradeRecord& t : trades) {
            if (t.automatic) {
                automatic += t.status == zeza::TradeStatus::Confirmed;
                continue;
            }
            ++own;
            confirmed += t.status == zeza::TradeStatus::Confirmed;
        }
    }
    std::fprintf(stderr, "setup: %d trades listed, %d confirmed, %d events applied\n", own, confirmed,
                 automatic);
    if (own != kHoldings * kTradesPerHolding || confirmed != own)
        return Fail("trades missing or unconfirmed");
    if (automatic != kHoldings * kEventsPerFund)
        return Fail("the funds' dividends and splits were not applied");
    std::vector<zeza::DayIncome> month;
    if (Ledger::MonthIncome(kMonthYear, kMonth, month) != 0 || month.size() < 20)
        return Fail("the calendar month is empty");
    return true;
}

// The 我的基金 view as the list loads it, after another connection committed (the quote feed,
// a confirmation pass), so the rows are read anew; every cell formatted as painting does.
void BM_HoldingsView(benchmark::State& state) {
    const zeza::ViewDefinition& view = zeza::GetViewDefinition(zeza::ViewKind::Holdings);
    zeza::SqliteConnection writer;
    // Its commits need not reach the disk: only the change counter the loader watches matters.
    if (!writer.Open() || writer.Exec("PRAGMA synchronous=OFF;") != SQLITE_OK)
        state.SkipWithError("no database");
    int rows = 0;
    size_t textBytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (writer.Exec("UPDATE fu_iniLoc SET updateTime=updateTime+1;") != SQLITE_OK)
            state.SkipWithError("commit failed");
        state.ResumeTiming();
        std::shared_ptr<const zeza::ViewTable> table;
        if (zeza::LoadViewTable(view, kLastDay, table) < 0 || !table) {
            state.SkipWithError("view not loaded");
            break;
        }
        rows = table->RowCount();
        for (int r = 0; r < rows; ++r)
            for (int c = 1; c <= static_cast<int>(view.cells.size()); ++c)
                textBytes += table->CellText(r, c).size();
    }
    if (rows != kHoldings) state.SkipWithError("the view lacks holdings");
    benchmark::DoNotOptimize(textBytes);
    state.counters["rows"] = rows;
}
BENCHMARK(BM_HoldingsView)->Unit(benchmark::kMillisecond)->UseRealTime();

// A month of the calendar: each day's total and the month's and year's totals.
void BM_CalendarMonth(benchmark::State& state) {
    size_t days = 0;
    for (auto _ : state) {
        std::vector<zeza::DayIncome> month;
        zeza::Fen monthTotal = 0, yearTotal = 0;
        if (Ledger::MonthIncome(kMonthYear, kMonth, month) != 0 ||
            Ledger::PeriodTotals(kMonthYear, kMonth, monthTotal, yearTotal) != 0) {
            state.SkipWithError("calendar not read");
            break;
        }
        days = month.size();
        benchmark::DoNotOptimize(yearTotal);
    }
    state.counters["days"] = static_cast<double>(days);
}
BENCHMARK(BM_CalendarMonth)->Unit(benchmark::kMillisecond)->UseRealTime();

// A click on one day of the calendar: each holding's income that day.
void BM_CalendarDay(benchmark::State& state) {
    size_t holdings = 0;
    for (auto _ : state) {
        std::vector<zeza::DayIncome> day;
        if (Ledger::DayIncomeByHolding(kClickedDay, day) != 0) {
            state.SkipWithError("day not read");
            break;
        }
        holdings = day.size();
    }
    if (holdings != static_cast<size_t>(kHoldings)) state.SkipWithError("the day lacks holdings");
    state.counters["holdings"] = static_cast<double>(holdings);
}
BENCHMARK(BM_CalendarDay)->Unit(benchmark::kMillisecond)->UseRealTime();

// The hourly pass when no new NAV came: everything is played again and nothing written.
void BM_ConfirmAllNoChange(benchmark::State& state) {
    for (auto _ : state) {
        int changed = -1;
        if (Ledger::ConfirmAll(kLastDay, &changed) != 0 || changed != 0) {
            state.SkipWithError("the pass failed or changed a holding");
            break;
        }
    }
}
BENCHMARK(BM_ConfirmAllNoChange)->Unit(benchmark::kMillisecond)->UseRealTime();

// The user adds a buy placed now (pending: no NAV of today yet) and cancels it.
void BM_AddPendingTrade(benchmark::State& state) {
    zeza::TradeInput buy;
    buy.holding = g_holdings.front();
    buy.kind = zeza::TradeKind::Buy;
    buy.amount = 100000;
    buy.rate = 1500;
    for (auto _ : state) {
        buy.placed = Ledger::BeijingNow();
        long long id = 0;
        if (Ledger::AddTrade(buy, &id) != 0 || Ledger::CancelTrade(id) != 0) {
            state.SkipWithError("trade not added or not cancelled");
            break;
        }
    }
}
BENCHMARK(BM_AddPendingTrade)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    zeza::bench::BenchFolder folder("zeza-ledgerbench");
    if (!folder.Made()) return 1;

    int rc = 0;
    if (BuildLedger())
        benchmark::RunSpecifiedBenchmarks();
    else
        rc = 1;
    benchmark::Shutdown();
    return rc;
}
