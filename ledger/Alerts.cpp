#include "ledger/Alerts.h"

#include <cmath>
#include <cstdlib>

#include "ledger/LedgerDb.h"
#include "ledger/LedgerMath.h"
#include "platform/GbkCodec.h"

namespace zeza {
namespace {

// lg.alert_sent.kind: what fired for a fund (or "" for the portfolio) on a day.
enum class Fired : int { Crossing = 1, Daily = 2, NavOut = 3 };

// A held or watched fund with its latest NAV and the day's estimate.
struct Fund {
    std::string code;
    std::string name;
    double nav = 0;       // valtd
    double previous = 0;  // valytd
    double estimate = 0;  // estval
    std::string navDay;   // gdate
    double units = 0;     // summed over its holdings; 0 for a watched fund
    bool held = false;
};

std::string Percent(double change) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%+.2f%%", change * 100);
    return buf;
}

std::string Yuan(double value) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%+.2f", value);
    return buf;
}

int ReadFunds(SqliteConnection& db, std::vector<Fund>& out) {
    QueryTable t;
    // Funds held or watched, each once, with the units of every holding of it.
    if (db.Query("SELECT "
                 "l.codel,l.name,IFNULL(s.valtd,0),IFNULL(s.valytd,0),IFNULL(l.estval,0),IFNULL(s.gdate,''),"
                 "IFNULL((SELECT SUM(tcount) FROM main.fu_count c WHERE c.codec=l.codel),0),"
                 "EXISTS (SELECT 1 FROM main.fu_count c WHERE c.codec=l.codel) FROM main.fu_list l "
                 "LEFT JOIN main.fu_stk s ON s.codes=l.codel WHERE l.look=-1 OR EXISTS (SELECT 1 FROM "
                 "main.fu_count c "
                 "WHERE c.codec=l.codel) GROUP BY l.codel ORDER BY l.codel;",
                 {}, t) != SQLITE_OK)
        return -2;
    for (int r = 0; r < t.rows; ++r) {
        Fund f;
        f.code = t.Str(r, 0);
        f.name = t.Str(r, 1);
        f.nav = std::atof(t.Str(r, 2).c_str());
        f.previous = std::atof(t.Str(r, 3).c_str());
        f.estimate = std::atof(t.Str(r, 4).c_str());
        f.navDay = t.Str(r, 5);
        f.units = std::atof(t.Str(r, 6).c_str());
        f.held = t.Str(r, 7) == "1";
        out.push_back(std::move(f));
    }
    return 0;
}

// Records what fires; false when it had already fired (or the record failed).
bool FireOnce(SqliteConnection& db, const std::string& day, Fired kind, const std::string& code) {
    if (db.Exec("INSERT OR IGNORE INTO lg.alert_sent (day,kind,code) VALUES (?,?,?);",
                {day, static_cast<long long>(kind), code}) != SQLITE_OK)
        return false;
    return sqlite3_changes(db.Handle()) > 0;
}

// "HH:MM" of a real time of day.
bool IsClock(const std::string& text) {
    return text.size() == 5 && ledger::IsPlacedTime("2000-01-01 " + text);
}

// The settings as stored on db's ledger (defaults where nothing is). 0 read; -2 failed.
int ReadSettingsFrom(SqliteConnection& db, AlertSettings& out) {
    out = AlertSettings{};
    QueryTable t;
    if (db.Query("SELECT key,value FROM lg.setting;", {}, t) != SQLITE_OK) return -2;
    for (int r = 0; r < t.rows; ++r) {
        const std::string key = t.Str(r, 0), value = t.Str(r, 1);
        if (key == "minimizeToTray") out.minimizeToTray = value == "1";
        if (key == "autostart") out.autostart = value == "1";
        if (key == "time" && IsClock(value)) out.time = value;
        if (key == "defaultThreshold" && std::atoi(value.c_str()) > 0)
            out.defaultThreshold = std::atoi(value.c_str());
    }
    QueryTable th;
    if (db.Query("SELECT code,value FROM lg.threshold;", {}, th) != SQLITE_OK) return -2;
    for (int r = 0; r < th.rows; ++r) out.thresholds[th.Str(r, 0)] = std::atoi(th.Str(r, 1).c_str());
    return 0;
}

}  // namespace

int Alerts::ReadSettings(AlertSettings& out) {
    out = AlertSettings{};
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    return ReadSettingsFrom(db, out);
}

int Alerts::StoreSettings(const AlertSettings& s) {
    if (!IsClock(s.time) || s.defaultThreshold <= 0) return -2;
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    SqlTransaction transaction(db.Handle());
    if (transaction.Begin() != SQLITE_OK) return -2;
    const std::pair<const char*, std::string> values[] = {
        {"minimizeToTray", s.minimizeToTray ? "1" : "0"},
        {"autostart", s.autostart ? "1" : "0"},
        {"time", s.time},
        {"defaultThreshold", std::to_string(s.defaultThreshold)}};
    for (const auto& [key, value] : values)
        if (db.Exec("INSERT OR REPLACE INTO lg.setting (key,value) VALUES (?,?);",
                    {std::string(key), value}) != SQLITE_OK)
            return -2;
    if (db.Exec("DELETE FROM lg.threshold;") != SQLITE_OK) return -2;
    for (const auto& [code, value] : s.thresholds)
        if (value > 0 && db.Exec("INSERT INTO lg.threshold (code,value) VALUES (?,?);",
                                 {code, static_cast<long long>(value)}) != SQLITE_OK)
            return -2;
    return transaction.Commit() == SQLITE_OK ? 0 : -2;
}

int Alerts::ListFunds(std::vector<std::pair<std::string, std::string>>& out) {
    out.clear();
    SqliteConnection db;
    if (!db.Open()) return -1;
    QueryTable t;
    if (db.Query("SELECT codel,name FROM fu_list WHERE look OR codel IN (SELECT codec FROM fu_count) GROUP "
                 "BY codel "
                 "ORDER BY codel;",
                 {}, t) != SQLITE_OK)
        return -2;
    for (int r = 0; r < t.rows; ++r) out.emplace_back(t.Str(r, 0), t.Str(r, 1));
    return 0;
}

int Alerts::TakeDue(const std::string& now, std::vector<AlertNotice>& out) {
    out.clear();
    if (!ledger::IsPlacedTime(now)) return -2;
    SqliteConnection db;
    if (int r = OpenLedger(db)) return r;
    AlertSettings settings;
    if (ReadSettingsFrom(db, settings) != 0) return -2;
    SqlTransaction transaction(db.Handle());
    // Deferred: the minute timer on the UI thread only reads unless something fires, so it does
    // not queue behind a feed's whole write for the write lock; a write that loses the lock is
    // rolled back and asked again a minute later.
    if (transaction.Begin(SqlTransaction::Lock::Deferred) != SQLITE_OK) return -2;

    const std::string day = now.substr(0, 10), clock = now.substr(11);
    const bool weekday = ledger::Weekday(*ledger::DayNumber(day)) <= 5;
    QueryTable est;
    if (db.Query("SELECT estTime FROM main.fu_iniLoc;", {}, est) != SQLITE_OK) return -2;
    const int64_t estTime = est.rows ? std::atoll(est.Str(0, 0).c_str()) : 0;
    const bool estimatesToday = weekday && estTime > 0 && ledger::BeijingTime(estTime).substr(0, 10) == day;

    std::vector<Fund> funds;
    if (ReadFunds(db, funds) != 0) return -2;
    auto threshold = [&](const std::string& code) {
        auto it = settings.thresholds.find(code);
        return (it != settings.thresholds.end() ? it->second : settings.defaultThreshold) / 10000.0;
    };
    auto line = [](const Fund& f, double change) { return f.code + " " + f.name + " " + Percent(change); };

    if (estimatesToday) {
        // Only an estimate of a day after its fund's NAV is a move still to come.
        auto change = [&](const Fund& f) {
            return f.nav > 0 && f.estimate > 0 && f.navDay < day ? f.estimate / f.nav - 1 : NAN;
        };
        std::string crossed;
        for (const Fund& f : funds) {
            const double c = change(f);
            if (std::isnan(c) || std::fabs(c) + 1e-9 < threshold(f.code)) continue;
            if (FireOnce(db, day, Fired::Crossing, f.code)) crossed += line(f, c) + "\n";
        }
        if (!crossed.empty()) {
            crossed.pop_back();
            out.push_back({Utf8ToGbk("估值提醒"), crossed});
        }
        if (clock >= settings.time && FireOnce(db, day, Fired::Daily, "")) {
            double before = 0, after = 0;
            std::string beyond;
            for (const Fund& f : funds) {
                const double c = change(f);
                if (!f.held || std::isnan(c)) continue;
                before += f.units * f.nav;
                after += f.units * f.estimate;
                if (std::fabs(c) + 1e-9 >= threshold(f.code)) beyond += "\n" + line(f, c);
            }
            const double move = before > 0 ? after / before - 1 : 0;
            out.push_back({Utf8ToGbk("今日估值 ") + Percent(move),
                           Utf8ToGbk("预估收益 ") + Yuan(after - before) + Utf8ToGbk(" 元") + beyond});
        }
    }

    // The day's NAVs of held funds: the income they made.
    std::string published;
    double income = 0;
    for (const Fund& f : funds) {
        if (!f.held || f.navDay != day || f.previous <= 0) continue;
        if (!FireOnce(db, day, Fired::NavOut, f.code)) continue;
        published += "\n" + line(f, f.nav / f.previous - 1) + " " + Yuan(f.units * (f.nav - f.previous));
        income += f.units * (f.nav - f.previous);
    }
    if (!published.empty())
        out.push_back(
            {Utf8ToGbk("今日净值已公布 收益 ") + Yuan(income) + Utf8ToGbk(" 元"), published.substr(1)});

    // What the refresh's confirmation left: trades confirmed, plans' buys made.
    QueryTable notices;
    if (db.Query("SELECT kind,text FROM lg.notice WHERE sent=0 ORDER BY id;", {}, notices) != SQLITE_OK)
        return -2;
    std::string confirmed, planned;
    for (int r = 0; r < notices.rows; ++r)
        (notices.Str(r, 0) == std::to_string(static_cast<int>(LedgerNoticeKind::PlanBuyMade)) ? planned
                                                                                              : confirmed) +=
            notices.Str(r, 1) + "\n";
    if (!confirmed.empty())
        out.push_back({Utf8ToGbk("交易已确认"), confirmed.substr(0, confirmed.size() - 1)});
    if (!planned.empty()) out.push_back({Utf8ToGbk("定投已下单"), planned.substr(0, planned.size() - 1)});
    if (notices.rows > 0 && db.Exec("UPDATE lg.notice SET sent=1 WHERE sent=0;") != SQLITE_OK) return -2;

    if (transaction.Commit() != SQLITE_OK) {
        out.clear();
        return -2;
    }
    return 0;
}

}  // namespace zeza
