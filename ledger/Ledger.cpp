#include "ledger/Ledger.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#include "db/SqliteConnection.h"
#include "ledger/LedgerDb.h"
#include "ledger/LedgerMath.h"
#include "ledger/LedgerReplay.h"
#include "ledger/TradesFile.h"
#include "platform/AtomicFile.h"
#include "platform/GbkCodec.h"
#include "platform/TextLines.h"
#include "platform/WholeFile.h"
#include "sync/FeedText.h"

namespace zeza {
namespace {

using ledger::NavDay;
using ledger::ReplayInput;
using ledger::ReplayResult;
using ledger::SaleOutcome;

constexpr int kSchemaVersion = 1;

// Everything the ledger keeps. Money, units, NAVs and rates are integers (see LedgerTypes.h).
constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS lg.trade (
  id INTEGER PRIMARY KEY, holding INTEGER NOT NULL, code TEXT NOT NULL, kind INTEGER NOT NULL,
  placed TEXT NOT NULL, amount INTEGER NOT NULL DEFAULT 0, units INTEGER NOT NULL DEFAULT 0,
  rate INTEGER NOT NULL DEFAULT 0, to_code TEXT NOT NULL DEFAULT '', cost INTEGER NOT NULL DEFAULT 0,
  remark TEXT NOT NULL DEFAULT '', automatic INTEGER NOT NULL DEFAULT 0, link INTEGER NOT NULL DEFAULT 0,
  plan INTEGER NOT NULL DEFAULT 0, event_day TEXT NOT NULL DEFAULT '', split TEXT NOT NULL DEFAULT '',
  status INTEGER NOT NULL DEFAULT 0, trade_day TEXT NOT NULL DEFAULT '', confirm_day TEXT NOT NULL DEFAULT '',
  confirm_nav INTEGER NOT NULL DEFAULT 0, confirm_units INTEGER NOT NULL DEFAULT 0,
  confirm_amount INTEGER NOT NULL DEFAULT 0, fee INTEGER NOT NULL DEFAULT 0,
  units_after INTEGER NOT NULL DEFAULT 0, cost_after INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS lg.trade_by_holding ON trade (holding, placed, id);
CREATE TABLE IF NOT EXISTS lg.nav (
  code TEXT NOT NULL, day TEXT NOT NULL, nav INTEGER NOT NULL, acc INTEGER NOT NULL,
  dividend INTEGER NOT NULL DEFAULT 0, split TEXT NOT NULL DEFAULT '', PRIMARY KEY (code, day)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS lg.holding (
  idc INTEGER PRIMARY KEY, reinvest INTEGER NOT NULL DEFAULT 0, since TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS lg.plan (
  id INTEGER PRIMARY KEY, holding INTEGER NOT NULL, amount INTEGER NOT NULL, rate INTEGER NOT NULL,
  schedule INTEGER NOT NULL, day INTEGER NOT NULL, start TEXT NOT NULL, end TEXT NOT NULL DEFAULT '',
  remark TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS lg.income (
  day TEXT NOT NULL, holding INTEGER NOT NULL, income INTEGER NOT NULL, PRIMARY KEY (day, holding)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS lg.income_by_holding ON income (holding, day, income);
CREATE TABLE IF NOT EXISTS lg.setting (key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS lg.threshold (code TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS lg.alert_sent (
  day TEXT NOT NULL, kind INTEGER NOT NULL, code TEXT NOT NULL, PRIMARY KEY (day, kind, code)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS lg.notice (
  id INTEGER PRIMARY KEY, day TEXT NOT NULL, kind INTEGER NOT NULL, text TEXT NOT NULL, sent INTEGER NOT NULL DEFAULT 0);
)";

constexpr const char* kTradeColumns =
    "id,holding,code,kind,placed,amount,units,rate,to_code,cost,remark,automatic,link,plan,event_day,split,"
    "status,trade_day,confirm_day,confirm_nav,confirm_units,confirm_amount,fee,units_after,cost_after";

std::string LedgerPath() {
    return std::string("./") + Ledger::kFileName;
}

}  // namespace

int OpenLedger(SqliteConnection& db) {
    if (!db.Open()) return -1;
    // The program's connection never creates files; a missing ledger is made here, empty.
    std::error_code ec;
    if (!std::filesystem::exists(LedgerPath(), ec)) {
        SqliteConnection make;
        if (!make.Open(LedgerPath(), true)) return -5;
    }
    if (db.Exec("ATTACH DATABASE ? AS lg;", {LedgerPath()}) != SQLITE_OK) return -5;
    QueryTable v;
    if (db.Query("PRAGMA lg.user_version;", {}, v) != SQLITE_OK || v.rows != 1) return -5;
    const int version = std::atoi(v.Str(0, 0).c_str());
    if (version == kSchemaVersion) return 0;
    if (version > kSchemaVersion) return -5;  // a newer program's ledger: not ours to change
    // A new (empty) ledger. Both files keep the rollback journal, so a transaction over both
    // commits atomically.
    QueryTable mode;
    if (db.Query("PRAGMA lg.journal_mode=DELETE;", {}, mode) != SQLITE_OK) return -5;
    SqlTransaction transaction(db.Handle());
    if (transaction.Begin() != SQLITE_OK) return -2;
    if (db.Exec(kSchema) != SQLITE_OK) return -5;
    if (db.Exec("PRAGMA lg.user_version=" + std::to_string(kSchemaVersion) + ";") != SQLITE_OK) return -5;
    return transaction.Commit() == SQLITE_OK ? 0 : -2;
}

namespace {

int64_t ToInt(const char* text) {
    return text ? std::strtoll(text, nullptr, 10) : 0;
}

TradeRecord ReadTrade(const QueryTable& t, int r) {
    TradeRecord x;
    int c = 0;
    x.id = ToInt(t.Text(r, c++));
    x.holding = ToInt(t.Text(r, c++));
    x.code = t.Str(r, c++);
    x.kind = static_cast<TradeKind>(ToInt(t.Text(r, c++)));
    x.placed = t.Str(r, c++);
    x.amount = ToInt(t.Text(r, c++));
    x.units = ToInt(t.Text(r, c++));
    x.rate = ToInt(t.Text(r, c++));
    x.toCode = t.Str(r, c++);
    x.cost = ToInt(t.Text(r, c++));
    x.remark = t.Str(r, c++);
    x.automatic = ToInt(t.Text(r, c++)) != 0;
    x.link = ToInt(t.Text(r, c++));
    x.plan = ToInt(t.Text(r, c++));
    x.eventDay = t.Str(r, c++);
    x.splitRatio = t.Str(r, c++);
    x.status = static_cast<TradeStatus>(ToInt(t.Text(r, c++)));
    x.tradeDay = t.Str(r, c++);
    x.confirmDay = t.Str(r, c++);
    x.confirmNav = ToInt(t.Text(r, c++));
    x.confirmUnits = ToInt(t.Text(r, c++));
    x.confirmAmount = ToInt(t.Text(r, c++));
    x.fee = ToInt(t.Text(r, c++));
    x.unitsAfter = ToInt(t.Text(r, c++));
    x.costAfter = ToInt(t.Text(r, c++));
    return x;
}

bool SameConfirmation(const TradeRecord& a, const TradeRecord& b) {
    return a.status == b.status && a.tradeDay == b.tradeDay && a.confirmDay == b.confirmDay &&
           a.confirmNav == b.confirmNav && a.confirmUnits == b.confirmUnits &&
           a.confirmAmount == b.confirmAmount && a.fee == b.fee && a.unitsAfter == b.unitsAfter &&
           a.costAfter == b.costAfter && a.amount == b.amount && a.units == b.units && a.cost == b.cost;
}

int InsertTrade(SqliteConnection& db, const TradeRecord& t, long long* id) {
    const int rc = db.Exec(
        "INSERT INTO lg.trade "
        "(holding,code,kind,placed,amount,units,rate,to_code,cost,remark,automatic,link,plan,"
        "event_day,split,status,trade_day,confirm_day,confirm_nav,confirm_units,confirm_amount,fee,units_"
        "after,"
        "cost_after) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?);",
        {t.holding,
         t.code,
         static_cast<long long>(t.kind),
         t.placed,
         t.amount,
         t.units,
         t.rate,
         t.toCode,
         t.cost,
         t.remark,
         static_cast<long long>(t.automatic),
         t.link,
         t.plan,
         t.eventDay,
         t.splitRatio,
         static_cast<long long>(t.status),
         t.tradeDay,
         t.confirmDay,
         t.confirmNav,
         t.confirmUnits,
         t.confirmAmount,
         t.fee,
         t.unitsAfter,
         t.costAfter});
    if (rc != SQLITE_OK) return -2;
    if (id) *id = sqlite3_last_insert_rowid(db.Handle());
    return 0;
}

struct Holding {
    long long idc = 0;
    std::string code;
    Hundredths units = 0;
    Fen cost = 0;
    bool reinvest = false;
    std::string since;
};

// Every holding of fu_count (or only holding `one`) with what the ledger knows of it.
int ReadHoldings(SqliteConnection& db, std::map<long long, Holding>& out, long long one = 0) {
    QueryTable t;
    if (db.Query(
            std::string("SELECT c.idc,c.codec,c.tcost,c.tcount,IFNULL(h.reinvest,0),IFNULL(h.since,'') FROM "
                        "main.fu_count c LEFT JOIN lg.holding h ON h.idc=c.idc") +
                (one ? " WHERE c.idc=?;" : ";"),
            one ? SqlParams{one} : SqlParams{}, t) != SQLITE_OK)
        return -2;
    for (int r = 0; r < t.rows; ++r) {
        Holding h;
        h.idc = ToInt(t.Text(r, 0));
        h.code = t.Str(r, 1);
        h.cost = std::llround(std::atof(t.Str(r, 2).c_str()) * 100);
        h.units = std::llround(std::atof(t.Str(r, 3).c_str()) * 100);
        h.reinvest = ToInt(t.Text(r, 4)) != 0;
        h.since = t.Str(r, 5);
        out[h.idc] = h;
    }
    return 0;
}

// One holding. 0 read; -2 failed; -3 no such holding.
int ReadHolding(SqliteConnection& db, long long idc, Holding& out) {
    std::map<long long, Holding> one;
    if (ReadHoldings(db, one, idc) != 0) return -2;
    if (one.empty()) return -3;
    out = one.begin()->second;
    return 0;
}

int ReadTrades(SqliteConnection& db, const std::string& where, const SqlParams& params,
               std::vector<TradeRecord>& out) {
    QueryTable t;
    if (db.Query(std::string("SELECT ") + kTradeColumns + " FROM lg.trade " + where + " ORDER BY placed,id;",
                 params, t) != SQLITE_OK)
        return -2;
    for (int r = 0; r < t.rows; ++r) out.push_back(ReadTrade(t, r));
    return 0;
}

int ReadNavs(SqliteConnection& db, const std::set<std::string>& codes,
             std::map<std::string, std::vector<NavDay>>& out) {
    SqlStatement q(db.Handle(), "SELECT day,nav,dividend,split FROM lg.nav WHERE code=? ORDER BY day;");
    if (!q) return -2;
    for (const std::string& code : codes) {
        std::vector<NavDay>& days = out[code];
        if (sqlite3_bind_text(q.Handle(), 1, code.data(), static_cast<int>(code.size()), SQLITE_TRANSIENT) !=
            SQLITE_OK)
            return -2;
        int rc;
        while ((rc = q.Step()) == SQLITE_ROW)
            days.push_back(NavDay{q.ColumnString(0), q.ColumnInt(1), q.ColumnInt(2), q.ColumnString(3)});
        sqlite3_reset(q.Handle());
        if (rc != SQLITE_DONE) return -2;
    }
    return 0;
}

// The due days of a plan up to today that have no buy yet.
std::vector<std::string> DueDays(const PlanRecord& p, const std::string& today,
                                 const std::vector<NavDay>& navs) {
    std::vector<std::string> due;
    const std::string last = p.end.empty() || p.end > today ? today : p.end;
    const auto from = ledger::DayNumber(p.start);
    const auto to = ledger::DayNumber(last);
    if (!from || !to || *from > *to) return due;
    switch (p.schedule) {
        case PlanSchedule::EveryTradingDay:
            // Without a holiday calendar the published NAVs say which days traded.
            for (const NavDay& d : navs)
                if (d.day >= p.start && d.day <= last) due.push_back(d.day);
            break;
        case PlanSchedule::Weekly:
            for (int64_t d = *from; d <= *to; ++d)
                if (ledger::Weekday(d) == p.day) due.push_back(ledger::DayText(d));
            break;
        case PlanSchedule::Monthly: {
            std::string month = p.start.substr(0, 7);
            while (month <= last.substr(0, 7)) {
                // A day past the month's end falls on its last day.
                int day = p.day;
                while (day > 28 && !ledger::DayNumber(month + "-" + std::to_string(day))) --day;
                char text[40];
                std::snprintf(text, sizeof text, "%s-%02d", month.c_str(), day);
                if (text >= p.start && text <= last) due.push_back(text);
                int y = std::atoi(month.substr(0, 4).c_str()), m = std::atoi(month.substr(5, 2).c_str()) + 1;
                if (m > 12) m = 1, ++y;
                std::snprintf(text, sizeof text, "%04d-%02d", y, m);
                month = text;
            }
            break;
        }
    }
    return due;
}

int ReadPlans(SqliteConnection& db, const std::string& where, const SqlParams& params,
              std::vector<PlanRecord>& out) {
    QueryTable t;
    if (db.Query("SELECT p.id,p.holding,p.amount,p.rate,p.schedule,p.day,p.start,p.end,p.remark,c.codec FROM "
                 "lg.plan p "
                 "JOIN main.fu_count c ON c.idc=p.holding " +
                     where + " ORDER BY p.id;",
                 params, t) != SQLITE_OK)
        return -2;
    for (int r = 0; r < t.rows; ++r) {
        PlanRecord p;
        p.id = ToInt(t.Text(r, 0));
        p.holding = ToInt(t.Text(r, 1));
        p.amount = ToInt(t.Text(r, 2));
        p.rate = ToInt(t.Text(r, 3));
        p.schedule = static_cast<PlanSchedule>(ToInt(t.Text(r, 4)));
        p.day = static_cast<int>(ToInt(t.Text(r, 5)));
        p.start = t.Str(r, 6);
        p.end = t.Str(r, 7);
        p.remark = t.Str(r, 8);
        p.code = t.Str(r, 9);
        out.push_back(p);
    }
    return 0;
}

// The plans' buys due by today, made once each (a cancelled one is not made again).
// With madeIds, the new buys' ids are added to it and each is left as a notice for the alerts.
int MakePlanBuys(SqliteConnection& db, const std::string& today,
                 const std::map<std::string, std::vector<NavDay>>& navs, std::set<long long>* madeIds) {
    std::vector<PlanRecord> plans;
    if (ReadPlans(db, "", {}, plans) != 0) return -2;
    static const std::string kDefaultRemark = Utf8ToGbk("定投");
    for (const PlanRecord& p : plans) {
        QueryTable made;
        if (db.Query("SELECT event_day FROM lg.trade WHERE plan=?;", {p.id}, made) != SQLITE_OK) return -2;
        std::set<std::string> done;
        for (int r = 0; r < made.rows; ++r) done.insert(made.Str(r, 0));
        static const std::vector<NavDay> kNone;
        auto found = navs.find(p.code);
        for (const std::string& day : DueDays(p, today, found == navs.end() ? kNone : found->second)) {
            if (done.count(day)) continue;
            TradeRecord t;
            t.holding = p.holding;
            t.code = p.code;
            t.kind = TradeKind::Buy;
            t.placed = day + " 10:00";
            t.amount = p.amount;
            t.rate = p.rate;
            t.plan = p.id;
            t.eventDay = day;
            t.remark = p.remark.empty() ? kDefaultRemark : p.remark;
            t.tradeDay = ledger::TradeDayOf(t.placed);
            long long id = 0;
            if (InsertTrade(db, t, &id) != 0) return -2;
            if (!madeIds) continue;
            madeIds->insert(id);
            const std::string text = p.code + Utf8ToGbk(" 定投买入 ") + ledger::FormatScaled(p.amount, 2) +
                                     Utf8ToGbk(" 元（") + day + Utf8ToGbk("）");
            if (db.Exec("INSERT INTO lg.notice (day,kind,text) VALUES (?,?,?);",
                        {today, static_cast<long long>(LedgerNoticeKind::PlanBuyMade), text}) != SQLITE_OK)
                return -2;
        }
    }
    return 0;
}

// Plays every holding forward and writes back what changed: confirmations, events taken, the
// days' income and fu_count's units and cost. Runs inside the caller's transaction.
// With `only`, just those holdings (and the other halves of their conversions) are played: a
// user's trade changes its own holding, and the hourly pass sees to the rest.
// With notify, the trades this pass confirms and the plans' buys it makes are left as notices.
int Reconcile(SqliteConnection& db, const std::string& today, int* changed,
              const std::set<long long>* only = nullptr, bool notify = false) {
    if (changed) *changed = 0;
    std::map<long long, Holding> holdings;
    if (ReadHoldings(db, holdings) != 0) return -2;
    if (only) {
        std::set<long long> keep = *only;
        for (long long idc : *only) {
            QueryTable linked;
            if (db.Query("SELECT DISTINCT b.holding FROM lg.trade a JOIN lg.trade b ON b.id=a.link WHERE "
                         "a.holding=? AND a.link<>0;",
                         {idc}, linked) != SQLITE_OK)
                return -2;
            for (int r = 0; r < linked.rows; ++r) keep.insert(ToInt(linked.Text(r, 0)));
        }
        std::erase_if(holdings, [&](const auto& entry) { return keep.count(entry.first) == 0; });
    }
    for (auto& [idc, h] : holdings) {
        if (!h.since.empty()) continue;
        h.since = today;
        if (db.Exec("INSERT INTO lg.holding (idc,since) VALUES (?,?) ON CONFLICT(idc) DO UPDATE SET "
                    "since=excluded.since WHERE since='';",
                    {idc, today}) != SQLITE_OK)
            return -2;
    }
    std::set<std::string> codes;
    for (const auto& [idc, h] : holdings) codes.insert(h.code);
    std::map<std::string, std::vector<NavDay>> navs;
    if (ReadNavs(db, codes, navs) != 0) return -2;
    std::set<long long> planMade;
    if (!only && MakePlanBuys(db, today, navs, notify ? &planMade : nullptr) != 0) return -2;

    std::vector<TradeRecord> all;
    std::string where;
    if (only) {
        where = "WHERE holding IN (";
        for (const auto& [idc, h] : holdings) where += std::to_string(idc) + ",";
        where += "0)";
    }
    if (ReadTrades(db, where, {}, all) != 0) return -2;
    std::map<long long, std::vector<TradeRecord>> byHolding;
    for (TradeRecord& t : all)
        if (holdings.count(t.holding)) byHolding[t.holding].push_back(std::move(t));

    // A conversion's purchase waits for its sale: play twice when there is one, the second time
    // with what the sales gave.
    std::map<long long, SaleOutcome> sales;
    bool conversions = false;
    for (const auto& [idc, trades] : byHolding)
        for (const TradeRecord& t : trades)
            if (t.kind == TradeKind::Convert) {
                conversions = true;
                sales[t.id] = SaleOutcome{t.status, t.confirmAmount, t.confirmDay};
            }
    std::map<long long, ReplayResult> results;
    for (int pass = 0; pass < (conversions ? 2 : 1); ++pass) {
        for (const auto& [idc, h] : holdings) {
            ReplayInput in;
            in.holding = idc;
            in.code = h.code;
            auto found = byHolding.find(idc);
            if (found != byHolding.end()) in.trades = found->second;
            in.navs = &navs[h.code];
            in.reinvest = h.reinvest;
            in.typedUnits = h.units;
            in.typedCost = h.cost;
            in.since = h.since;
            in.sales = &sales;
            results[idc] = ledger::Replay(in);
        }
        for (const auto& [idc, r] : results)
            for (const TradeRecord& t : r.trades)
                if (t.kind == TradeKind::Convert)
                    sales[t.id] = SaleOutcome{t.status, t.confirmAmount, t.confirmDay};
    }

    SqlStatement update(
        db.Handle(),
        "UPDATE lg.trade SET status=?,trade_day=?,confirm_day=?,confirm_nav=?,confirm_units=?,"
        "confirm_amount=?,fee=?,units_after=?,cost_after=?,amount=?,units=?,cost=? WHERE id=?;");
    SqlStatement readIncome(db.Handle(), "SELECT day,income FROM lg.income WHERE holding=? ORDER BY day;");
    SqlStatement dropIncome(db.Handle(), "DELETE FROM lg.income WHERE holding=?;");
    SqlStatement addIncome(db.Handle(), "INSERT INTO lg.income (day,holding,income) VALUES (?,?,?);");
    if (!update || !readIncome || !dropIncome || !addIncome) return -2;
    for (auto& [idc, r] : results) {
        const Holding& h = holdings[idc];
        const std::vector<TradeRecord>& before = byHolding[idc];
        for (size_t i = 0; i < r.trades.size(); ++i) {
            const TradeRecord& t = r.trades[i];
            if (SameConfirmation(t, before[i])) continue;
            if (notify && before[i].status == TradeStatus::Pending && t.status == TradeStatus::Confirmed &&
                !planMade.count(t.id)) {
                const std::string text = t.code + " " + TradeKindText(t.kind) + Utf8ToGbk(" 已确认：") +
                                         t.confirmDay + Utf8ToGbk(" 净值 ") +
                                         ledger::FormatScaled(t.confirmNav, 4) + Utf8ToGbk("，份额 ") +
                                         ledger::FormatScaled(t.confirmUnits, 2) + Utf8ToGbk("，金额 ") +
                                         ledger::FormatScaled(t.confirmAmount, 2);
                if (db.Exec("INSERT INTO lg.notice (day,kind,text) VALUES (?,?,?);",
                            {today, static_cast<long long>(LedgerNoticeKind::TradeConfirmed), text}) !=
                    SQLITE_OK)
                    return -2;
            }
            if (update.Run(static_cast<int>(t.status), t.tradeDay, t.confirmDay, t.confirmNav, t.confirmUnits,
                           t.confirmAmount, t.fee, t.unitsAfter, t.costAfter, t.amount, t.units, t.cost,
                           t.id) != SQLITE_OK)
                return -2;
        }
        for (const TradeRecord& t : r.added)
            if (InsertTrade(db, t, nullptr) != 0) return -2;

        std::vector<std::pair<std::string, Fen>> stored;
        if (sqlite3_bind_int64(readIncome.Handle(), 1, idc) != SQLITE_OK) return -2;
        int rc;
        while ((rc = readIncome.Step()) == SQLITE_ROW)
            stored.emplace_back(readIncome.ColumnString(0), readIncome.ColumnInt(1));
        sqlite3_reset(readIncome.Handle());
        if (rc != SQLITE_DONE) return -2;
        if (stored != r.income) {
            if (dropIncome.Run(idc) != SQLITE_OK) return -2;
            for (const auto& [day, fen] : r.income)
                if (addIncome.Run(day, idc, fen) != SQLITE_OK) return -2;
        }
        if (r.derived && (r.units != h.units || r.cost != h.cost)) {
            if (db.Exec("UPDATE main.fu_count SET tcost=?,tcount=? WHERE idc=?;",
                        {static_cast<double>(r.cost) / 100.0, static_cast<double>(r.units) / 100.0, idc}) !=
                SQLITE_OK)
                return -2;
            if (changed) ++*changed;
        }
    }
    return 0;
}

// The holding's fund, or "" when there is no such holding.
std::string HoldingCode(SqliteConnection& db, long long idc) {
    QueryTable t;
    if (db.Query("SELECT codec FROM main.fu_count WHERE idc=?;", {idc}, t) != SQLITE_OK || t.rows == 0)
        return "";
    return t.Str(0, 0);
}

bool ValidTrade(const TradeInput& in, const std::string& code) {
    if (code.empty() || !ledger::IsPlacedTime(in.placed) || in.rate < 0 || in.rate > 100000) return false;
    switch (in.kind) {
        case TradeKind::Buy:
        case TradeKind::CashDividend:
        case TradeKind::Reinvest:
            return in.amount > 0;
        case TradeKind::Sell:
            return in.units > 0;
        case TradeKind::Convert:
            return in.units > 0 && IsFundCode(in.toCode) && in.toCode != code;
        case TradeKind::Adjust:
            return in.units >= 0 && in.cost >= 0;
    }
    return false;
}

// Units held now less those frozen by pending sales (except the trade `except`).
int Free(SqliteConnection& db, long long idc, Hundredths& units, long long except = 0) {
    Holding h;
    if (int r = ReadHolding(db, idc, h)) return r;
    ReplayInput in;
    in.holding = idc;
    in.code = h.code;
    if (ReadTrades(db, "WHERE holding=? AND id<>?", {idc, except}, in.trades) != 0) return -2;
    std::map<std::string, std::vector<NavDay>> navs;
    if (ReadNavs(db, {in.code}, navs) != 0) return -2;
    in.navs = &navs[in.code];
    in.typedUnits = h.units;
    in.typedCost = h.cost;
    const ReplayResult r = ledger::Replay(in);
    units = r.units - r.frozen;
    return 0;
}

// The first holding of code, made (empty) when there is none.
int HoldingOf(SqliteConnection& db, const std::string& code, long long& idc) {
    QueryTable t;
    if (db.Query("SELECT MIN(idc) FROM main.fu_count WHERE codec=?;", {code}, t) != SQLITE_OK) return -2;
    if (t.rows == 1 && t.Text(0, 0)) {
        idc = ToInt(t.Text(0, 0));
        return 0;
    }
    if (db.Exec("INSERT INTO main.fu_count (codec,tcost,tcount,remark) VALUES (?,0,0,'');", {code}) !=
        SQLITE_OK)
        return -2;
    idc = sqlite3_last_insert_rowid(db.Handle());
    return 0;
}

// Stores a new trade of a holding: first the opening correction of a hand-typed holding, then
// the trade, and for a conversion its purchase in the fund it goes into.
int StoreNewTrade(SqliteConnection& db, const TradeInput& input, const std::string& code, long long* id) {
    QueryTable has;
    if (db.Query("SELECT COUNT(*) FROM lg.trade WHERE holding=?;", {input.holding}, has) != SQLITE_OK)
        return -2;
    if (ToInt(has.Text(0, 0)) == 0) {
        Holding h;
        if (ReadHolding(db, input.holding, h) == -2) return -2;
        if (h.units != 0 || h.cost != 0) {
            // The typed units and cost describe the holding from the day the ledger first knew it.
            TradeRecord opening;
            opening.holding = input.holding;
            opening.code = code;
            opening.kind = TradeKind::Adjust;
            const std::string since = h.since.empty() ? Ledger::BeijingToday() : h.since;
            opening.placed = std::min(since + " 00:00", input.placed);
            opening.units = h.units;
            opening.cost = h.cost;
            opening.remark = Utf8ToGbk("期初份额");
            opening.status = TradeStatus::Confirmed;
            if (InsertTrade(db, opening, nullptr) != 0) return -2;
        }
    }
    TradeRecord t;
    static_cast<TradeInput&>(t) = input;
    t.code = code;
    if (t.kind != TradeKind::Convert) t.toCode.clear();
    long long saleId = 0;
    if (InsertTrade(db, t, &saleId) != 0) return -2;
    if (id) *id = saleId;
    if (t.kind != TradeKind::Convert) return 0;
    TradeRecord buy;
    if (HoldingOf(db, t.toCode, buy.holding) != 0) return -2;
    buy.code = t.toCode;
    buy.kind = TradeKind::Buy;
    buy.placed = t.placed;
    buy.link = saleId;
    buy.remark = Utf8ToGbk("转换自 ") + code;
    long long buyId = 0;
    if (InsertTrade(db, buy, &buyId) != 0) return -2;
    return db.Exec("UPDATE lg.trade SET link=? WHERE id=?;", {buyId, saleId}) == SQLITE_OK ? 0 : -2;
}

// A decimal text with at most `places` places after its point (the rest cut off).
std::string_view CutPlaces(std::string_view v, size_t places) {
    const size_t dot = v.find('.');
    return dot != std::string_view::npos && v.size() > dot + 1 + places ? v.substr(0, dot + 1 + places) : v;
}

// Begins the write on trade id, read into out. 0 begun; -2 not begun or not read; -3 no such trade.
int BeginOnTrade(SqliteConnection& db, SqlTransaction& transaction, long long id, TradeRecord& out) {
    if (transaction.Begin() != SQLITE_OK) return -2;
    std::vector<TradeRecord> found;
    if (ReadTrades(db, "WHERE id=?", {id}, found) != 0) return -2;
    if (found.empty()) return -3;
    out = std::move(found.front());
    return 0;
}

}  // namespace

int Ledger::Check() {
    SqliteConnection db;
    const int r = OpenLedger(db);
    return r == 0 ? 1 : r;
}

int Ledger::AddTrade(const TradeInput& input, long long* id) {
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    SqlTransaction transaction(db.Handle());
    if (transaction.Begin() != SQLITE_OK) return -2;
    const std::string code = HoldingCode(db, input.holding);
    if (!ValidTrade(input, code)) return -3;
    if (input.kind == TradeKind::Sell || input.kind == TradeKind::Convert) {
        Hundredths free = 0;
        if (int r = Free(db, input.holding, free)) return r;
        if (input.units > free) return -4;
    }
    if (int r = StoreNewTrade(db, input, code, id)) return r;
    const std::set<long long> touched = {input.holding};
    if (Reconcile(db, BeijingToday(), nullptr, &touched) != 0) return -2;
    return transaction.Commit() == SQLITE_OK ? 0 : -2;
}

int Ledger::EditTrade(long long id, const TradeInput& input) {
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    SqlTransaction transaction(db.Handle());
    TradeRecord old;
    if (int r = BeginOnTrade(db, transaction, id, old)) return r;
    // Conversions are cancelled and placed again rather than edited: two holdings hang on them.
    if (old.status != TradeStatus::Pending || old.automatic || old.link != 0 ||
        input.kind == TradeKind::Convert || input.holding != old.holding)
        return -3;
    if (!ValidTrade(input, old.code)) return -3;
    if (input.kind == TradeKind::Sell) {
        Hundredths free = 0;
        if (int r = Free(db, input.holding, free, id)) return r;
        if (input.units > free) return -4;
    }
    if (db.Exec("UPDATE lg.trade SET kind=?,placed=?,amount=?,units=?,rate=?,cost=?,remark=? WHERE id=?;",
                {static_cast<long long>(input.kind), input.placed, input.amount, input.units, input.rate,
                 input.cost, input.remark, id}) != SQLITE_OK)
        return -2;
    const std::set<long long> touched = {old.holding};
    if (Reconcile(db, BeijingToday(), nullptr, &touched) != 0) return -2;
    return transaction.Commit() == SQLITE_OK ? 0 : -2;
}

int Ledger::CancelTrade(long long id) {
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    SqlTransaction transaction(db.Handle());
    TradeRecord t;
    if (int r = BeginOnTrade(db, transaction, id, t)) return r;
    const bool pending = t.status == TradeStatus::Pending && !(t.kind == TradeKind::Buy && t.link != 0);
    const bool undoable = t.automatic && t.status != TradeStatus::Cancelled;
    if (!pending && !undoable) return -3;
    // A conversion goes with its purchase.
    if (db.Exec("UPDATE lg.trade SET status=? WHERE id=? OR (?<>0 AND id=?);",
                {static_cast<long long>(TradeStatus::Cancelled), id, t.link, t.link}) != SQLITE_OK)
        return -2;
    const std::set<long long> touched = {t.holding};
    if (Reconcile(db, BeijingToday(), nullptr, &touched) != 0) return -2;
    return transaction.Commit() == SQLITE_OK ? 0 : -2;
}

int Ledger::ListTrades(long long holding, std::vector<TradeRecord>& out) {
    out.clear();
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    return ReadTrades(db, "WHERE holding=?", {holding}, out);
}

int Ledger::HasTrades(long long holding) {
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    QueryTable t;
    if (db.Query("SELECT EXISTS (SELECT 1 FROM lg.trade WHERE holding=?);", {holding}, t) != SQLITE_OK)
        return -2;
    return ToInt(t.Text(0, 0)) ? 1 : 0;
}

int Ledger::FreeUnits(long long holding, Hundredths& units) {
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    const int r = Free(db, holding, units);
    return r == -3 ? -2 : r;
}

int Ledger::SetReinvest(long long holding, bool reinvest) {
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    return db.Exec(
               "INSERT INTO lg.holding (idc,reinvest,since) VALUES (?,?,?) ON CONFLICT(idc) DO UPDATE SET "
               "reinvest=excluded.reinvest;",
               {holding, static_cast<long long>(reinvest), BeijingToday()}) == SQLITE_OK
               ? 0
               : -2;
}

int Ledger::GetReinvest(long long holding, bool& reinvest) {
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    QueryTable t;
    if (db.Query("SELECT reinvest FROM lg.holding WHERE idc=?;", {holding}, t) != SQLITE_OK) return -2;
    reinvest = t.rows > 0 && ToInt(t.Text(0, 0)) != 0;
    return 0;
}

int Ledger::UpdateHolding(long long idc, const std::string& code, double cost, double units,
                          const std::string& remark, const std::string& now) {
    SqliteConnection db;
    // Whatever the ledger's state, Zeza.db is open unless it is missing.
    const int opened = OpenLedger(db);
    if (opened == -1) return -1;
    // Without a readable ledger the holding is edited as the hand-typed row it then is.
    QueryTable has;
    const bool withTrades =
        opened == 0 && db.Query("SELECT COUNT(*) FROM lg.trade WHERE holding=?;", {idc}, has) == SQLITE_OK &&
        ToInt(has.Text(0, 0)) > 0;
    if (!withTrades)
        return db.Exec("UPDATE main.fu_count SET codec=?,tcost=?,tcount=?,remark=? WHERE idc=?;",
                       {code, cost, units, remark, idc}) == SQLITE_OK
                   ? 0
                   : -2;
    SqlTransaction transaction(db.Handle());
    if (transaction.Begin() != SQLITE_OK) return -2;
    Holding h;
    if (ReadHolding(db, idc, h) == -2) return -2;
    if (h.code != code) return -3;
    if (db.Exec("UPDATE main.fu_count SET remark=? WHERE idc=?;", {remark, idc}) != SQLITE_OK) return -2;
    const Hundredths newUnits = std::llround(units * 100);
    const Fen newCost = std::llround(cost * 100);
    if (newUnits != h.units || newCost != h.cost) {
        TradeInput adjust;
        adjust.holding = idc;
        adjust.kind = TradeKind::Adjust;
        adjust.placed = ledger::IsPlacedTime(now) ? now : BeijingNow();
        adjust.units = std::max<Hundredths>(0, newUnits);
        adjust.cost = std::max<Fen>(0, newCost);
        if (StoreNewTrade(db, adjust, code, nullptr) != 0) return -2;
    }
    const std::set<long long> touched = {idc};
    if (Reconcile(db, BeijingToday(), nullptr, &touched) != 0) return -2;
    return transaction.Commit() == SQLITE_OK ? 0 : -2;
}

int Ledger::DeleteHolding(long long idc) {
    SqliteConnection db;
    const int opened = OpenLedger(db);
    if (opened == -1) return -1;
    const bool ledger = opened == 0;
    SqlTransaction transaction(db.Handle());
    if (transaction.Begin() != SQLITE_OK) return -2;
    if (db.Exec("DELETE FROM main.fu_count WHERE idc=?;", {idc}) != SQLITE_OK) return -2;
    if (ledger) {
        // A purchase whose conversion left with the holding has nothing to wait for.
        if (db.Exec(
                "UPDATE lg.trade SET status=? WHERE link IN (SELECT id FROM lg.trade WHERE holding=?) AND "
                "holding<>? AND status=?;",
                {static_cast<long long>(TradeStatus::Cancelled), idc, idc,
                 static_cast<long long>(TradeStatus::Pending)}) != SQLITE_OK ||
            db.Exec("DELETE FROM lg.trade WHERE holding=?;", {idc}) != SQLITE_OK ||
            db.Exec("DELETE FROM lg.plan WHERE holding=?;", {idc}) != SQLITE_OK ||
            db.Exec("DELETE FROM lg.income WHERE holding=?;", {idc}) != SQLITE_OK ||
            db.Exec("DELETE FROM lg.holding WHERE idc=?;", {idc}) != SQLITE_OK)
            return -2;
    }
    return transaction.Commit() == SQLITE_OK ? 0 : -2;
}

int Ledger::AddPlan(const PlanInput& input, long long* id) {
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    const bool dayOk = input.schedule == PlanSchedule::EveryTradingDay ||
                       (input.schedule == PlanSchedule::Weekly && input.day >= 1 && input.day <= 5) ||
                       (input.schedule == PlanSchedule::Monthly && input.day >= 1 && input.day <= 31);
    if (HoldingCode(db, input.holding).empty() || input.amount <= 0 || input.rate < 0 ||
        input.rate > 100000 || !dayOk || !ledger::DayNumber(input.start) || input.start.size() != 10 ||
        (!input.end.empty() &&
         (!ledger::DayNumber(input.end) || input.end.size() != 10 || input.end < input.start)))
        return -3;
    if (db.Exec("INSERT INTO lg.plan (holding,amount,rate,schedule,day,start,end,remark) VALUES "
                "(?,?,?,?,?,?,?,?);",
                {input.holding, input.amount, input.rate, static_cast<long long>(input.schedule),
                 static_cast<long long>(input.day), input.start, input.end, input.remark}) != SQLITE_OK)
        return -2;
    if (id) *id = sqlite3_last_insert_rowid(db.Handle());
    return 0;
}

int Ledger::DeletePlan(long long id) {
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    return db.Exec("DELETE FROM lg.plan WHERE id=?;", {id}) == SQLITE_OK ? 0 : -2;
}

int Ledger::ListPlans(long long holding, std::vector<PlanRecord>& out) {
    out.clear();
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    return ReadPlans(db, "WHERE p.holding=?", {holding}, out);
}

int Ledger::HistoryRequests(const std::string& today, std::vector<std::pair<std::string, std::string>>& out) {
    out.clear();
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    // Per held fund: the days it has, and the first day a trade, a plan or the holding itself needs
    // (a few days earlier, for the NAV before it).
    QueryTable t;
    if (db.Query(
            "SELECT c.codec,(SELECT MIN(day) FROM lg.nav n WHERE n.code=c.codec),"
            "(SELECT MAX(day) FROM lg.nav n WHERE n.code=c.codec),"
            "MIN(IFNULL(h.since,?),IFNULL((SELECT MIN(trade_day) FROM lg.trade t WHERE t.holding=c.idc AND "
            "t.status<>2 AND t.trade_day<>''),?),IFNULL((SELECT MIN(start) FROM lg.plan p WHERE "
            "p.holding=c.idc),?)) FROM main.fu_count c LEFT JOIN lg.holding h ON h.idc=c.idc;",
            {today, today, today}, t) != SQLITE_OK)
        return -2;
    std::map<std::string, std::string> from;
    for (int r = 0; r < t.rows; ++r) {
        const std::string code = t.Str(r, 0);
        if (!IsFundCode(code)) continue;
        const auto need = ledger::DayNumber(t.Str(r, 3));
        const std::string first = need ? ledger::DayText(*need - 10) : today;
        const std::string have = t.Str(r, 1), last = t.Str(r, 2);
        std::string day =
            have.empty() || first < have ? first : ledger::DayText(*ledger::DayNumber(last) + 1);
        if (day > today) continue;
        auto it = from.find(code);
        if (it == from.end() || day < it->second) from[code] = day;
    }
    out.assign(from.begin(), from.end());
    return 0;
}

int Ledger::StoreHistory(const std::string& code, const std::string& text, int* days) {
    if (days) *days = 0;
    struct Line {
        std::string day;
        Nav4 nav = 0, acc = 0;
        int64_t dividend = 0;
        std::string split;
    };
    static const std::string kDividend = Utf8ToGbk("分红 "), kSplit = Utf8ToGbk("拆分 ");
    std::vector<Line> lines;
    bool other = false;
    ForEachLine(text, [&](std::string_view line) {
        if (line.find_first_not_of(" \t") == std::string_view::npos) return;
        const std::vector<std::string_view> f = SplitGbk(line, '|');
        Line l;
        std::optional<int64_t> nav, acc;
        if (f.size() >= 3) {
            nav = ledger::ParseScaled(f[1], 4);
            acc = ledger::ParseScaled(f[2], 4);
        }
        if (f.size() < 3 || f[0].size() != 10 || !ledger::DayNumber(f[0]) || !nav || *nav <= 0 || !acc) {
            other = true;
            return;
        }
        l.day = std::string(f[0]);
        l.nav = *nav;
        l.acc = *acc;
        const std::string_view event = f.size() > 3 ? f[3] : std::string_view();
        if (event.starts_with(kDividend)) {
            // Cash per unit to the millionth; a finer figure is cut there.
            l.dividend = ledger::ParseScaled(CutPlaces(event.substr(kDividend.size()), 6), 6).value_or(0);
        } else if (event.starts_with(kSplit)) {
            const std::string_view v = CutPlaces(event.substr(kSplit.size()), 9);
            if (ledger::ParseScaled(v, 9).value_or(0) > 0) l.split = std::string(v);
        }
        lines.push_back(std::move(l));
    });
    if (lines.empty() && other) return -3;
    if (lines.empty()) return 0;
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    SqlTransaction transaction(db.Handle());
    if (transaction.Begin() != SQLITE_OK) return -2;
    SqlStatement put(db.Handle(),
                     "INSERT OR REPLACE INTO lg.nav (code,day,nav,acc,dividend,split) VALUES (?,?,?,?,?,?);");
    if (!put) return -2;
    for (const Line& l : lines)
        if (put.Run(code, l.day, l.nav, l.acc, l.dividend, l.split) != SQLITE_OK) return -2;
    if (transaction.Commit() != SQLITE_OK) return -2;
    if (days) *days = static_cast<int>(lines.size());
    return 0;
}

int Ledger::ConfirmAll(const std::string& today, int* changed) {
    if (changed) *changed = 0;
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    SqlTransaction transaction(db.Handle());
    if (transaction.Begin() != SQLITE_OK) return -2;
    if (Reconcile(db, today, changed, nullptr, true) != 0) return -2;
    return transaction.Commit() == SQLITE_OK ? 0 : -2;
}

int Ledger::MonthIncome(int year, int month, std::vector<DayIncome>& out) {
    out.clear();
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    char from[16];
    std::snprintf(from, sizeof from, "%04d-%02d-", year, month);
    QueryTable t;
    if (db.Query(
            "SELECT day,SUM(income) FROM lg.income WHERE day>=? AND day<? AND holding IN (SELECT idc FROM "
            "main.fu_count) GROUP BY day ORDER BY day;",
            {std::string(from) + "00", std::string(from) + "99"}, t) != SQLITE_OK)
        return -2;
    for (int r = 0; r < t.rows; ++r) out.push_back(DayIncome{t.Str(r, 0), 0, "", ToInt(t.Text(r, 1)), ""});
    return 0;
}

int Ledger::PeriodTotals(int year, int month, Fen& monthTotal, Fen& yearTotal) {
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    char m[16], y[16];
    std::snprintf(m, sizeof m, "%04d-%02d-", year, month);
    std::snprintf(y, sizeof y, "%04d-", year);
    QueryTable t;
    if (db.Query(
            "SELECT IFNULL(SUM(CASE WHEN day>=?1 AND day<?2 THEN income END),0),IFNULL(SUM(income),0) FROM "
            "lg.income WHERE day>=?3 AND day<?4 AND holding IN (SELECT idc FROM main.fu_count);",
            {std::string(m) + "00", std::string(m) + "99", std::string(y) + "00", std::string(y) + "99"},
            t) != SQLITE_OK)
        return -2;
    monthTotal = ToInt(t.Text(0, 0));
    yearTotal = ToInt(t.Text(0, 1));
    return 0;
}

int Ledger::NewestIncomeDay(std::string& day) {
    day.clear();
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    QueryTable t;
    if (db.Query("SELECT MAX(day) FROM lg.income WHERE holding IN (SELECT idc FROM main.fu_count);", {}, t) !=
        SQLITE_OK)
        return -2;
    day = t.Str(0, 0);
    return 0;
}

int Ledger::DayIncomeByHolding(const std::string& day, std::vector<DayIncome>& out) {
    out.clear();
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    QueryTable t;
    if (db.Query(
            "SELECT i.holding,c.codec,i.income,(SELECT name FROM main.fu_list WHERE codel=c.codec LIMIT 1) "
            "FROM lg.income i JOIN main.fu_count c ON c.idc=i.holding WHERE i.day=? ORDER BY i.holding;",
            {day}, t) != SQLITE_OK)
        return -2;
    for (int r = 0; r < t.rows; ++r)
        out.push_back(DayIncome{day, ToInt(t.Text(r, 0)), t.Str(r, 1), ToInt(t.Text(r, 2)), t.Str(r, 3)});
    return 0;
}

int Ledger::ExportTrades(const std::string& path) {
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    std::vector<TradeRecord> trades;
    if (ReadTrades(db, "WHERE holding IN (SELECT idc FROM main.fu_count)", {}, trades) != 0) return -2;
    std::string text =
        ledger::TradesHeader() + Utf8ToGbk(",状态,确认日期,确认净值,确认份额,确认金额") + "\r\n";
    for (const TradeRecord& t : trades) {
        // A conversion is one line, its sale's; the purchase is made again from it.
        if (t.kind == TradeKind::Buy && t.link != 0) continue;
        text += ledger::TradeLineText(t);
    }
    return WriteFileAtomically(path, text) ? 1 : -3;
}

int Ledger::ImportTrades(const std::string& path, int* added, int* skipped,
                         std::vector<std::string>* reasons) {
    if (added) *added = 0;
    if (skipped) *skipped = 0;
    if (reasons) reasons->clear();
    std::string text;
    const WholeFileRead read = ReadWholeFile(path, text);
    if (read != WholeFileRead::Read) return read == WholeFileRead::NotOpened ? -3 : -4;
    ledger::TradesFileContent content = ledger::ParseTradesText(text);
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    SqlTransaction transaction(db.Handle());
    if (transaction.Begin() != SQLITE_OK) return -2;
    for (ledger::TradeLine& line : content.trades) {
        if (HoldingOf(db, line.code, line.trade.holding) != 0) return -2;
        if (StoreNewTrade(db, line.trade, line.code, nullptr) != 0) return -2;
    }
    if (Reconcile(db, BeijingToday(), nullptr) != 0) return -2;
    if (transaction.Commit() != SQLITE_OK) return -2;
    if (added) *added = static_cast<int>(content.trades.size());
    if (skipped) *skipped = static_cast<int>(content.skipped.size());
    if (reasons) *reasons = std::move(content.skipped);
    return 1;
}

std::string Ledger::BeijingNow() {
    return ledger::BeijingTime(std::time(nullptr));
}

std::string Ledger::BeijingToday() {
    return BeijingNow().substr(0, 10);
}

}  // namespace zeza
