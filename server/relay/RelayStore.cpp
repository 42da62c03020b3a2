#include "server/relay/RelayStore.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <tuple>

#include <sqlite3.h>

#include "db/SqliteConnection.h"
#include "platform/TextLines.h"

namespace zeza::relay {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS funds(code TEXT PRIMARY KEY, name BLOB NOT NULL, type TEXT NOT NULL,"
    " changed INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS navs(code TEXT PRIMARY KEY, date TEXT NOT NULL, acc REAL, latest REAL,"
    " previous REAL);"
    "CREATE TABLE IF NOT EXISTS estimates(code TEXT PRIMARY KEY, value REAL NOT NULL);"
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS fetch_log(at INTEGER, source TEXT, status INTEGER, bytes INTEGER,"
    " rows INTEGER, ok INTEGER, message TEXT);"
    // The relay's own estimates: each fund's top ten (one line per stock: key, code, weight,
    // name).
    "CREATE TABLE IF NOT EXISTS holdings(code TEXT PRIMARY KEY, report TEXT NOT NULL, equity REAL NOT NULL,"
    " equity_date TEXT, fetched INTEGER NOT NULL, stocks TEXT NOT NULL);"
    // Daily history for the estimates' fit, one text per fund or index (History.h), bounded:
    // a fund keeps its latest 130 published days, an index its latest 320 closes.
    "CREATE TABLE IF NOT EXISTS fund_history(code TEXT PRIMARY KEY, data TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS index_history(code TEXT PRIMARY KEY, data TEXT NOT NULL);"
    // Whole histories of the funds people asked for (a trade years ago needs its day), kept
    // as the GBK text navhist.php sends, so the start only reads them back.
    "CREATE TABLE IF NOT EXISTS asked_history(code TEXT PRIMARY KEY, answer BLOB NOT NULL);";

// Per day and fund the last estimate before the close and the NAV. Keyed by day first, so a
// round's rows sit together (a save rewrites a few pages, the nightly trim cuts off the head)
// and the start reads only the latest days. The error in % is computed when read, not stored.
constexpr const char* kTrackTable =
    "(day TEXT NOT NULL, code TEXT NOT NULL, estimate REAL, public INTEGER NOT NULL DEFAULT 0,"
    " nav REAL, list_move REAL, list_report TEXT, error REAL GENERATED ALWAYS AS"
    " (CASE WHEN estimate > 0 AND nav > 0 THEN (estimate / nav - 1) * 100 END) VIRTUAL,"
    " PRIMARY KEY(day, code)) WITHOUT ROWID;";

// 1: the record keyed by (day, code) without its stored error.
constexpr int kLayout = 1;
constexpr int kFetchLogLines = 2000;

// Holdings as stored: "key\tcode\tweight\tname" per line.
std::string StocksText(const std::vector<HeldStock>& stocks) {
    std::string out;
    for (const HeldStock& s : stocks) {
        char w[32];
        std::snprintf(w, sizeof(w), "%.6g", s.weight);
        out += s.key + "\t" + s.code + "\t" + w + "\t" + s.name + "\n";
    }
    return out;
}

std::vector<HeldStock> StocksFromText(const std::string& text) {
    std::vector<HeldStock> out;
    // Written with LF alone, so a CR belongs to the name it ends.
    ForEachLine(
        text,
        [&](std::string_view cut) {
            const std::string line(cut);
            size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find('\t', t2 + 1);
            if (t3 == std::string::npos) return;
            out.push_back({line.substr(0, t1), line.substr(t1 + 1, t2 - t1 - 1), line.substr(t3 + 1),
                           std::atof(line.substr(t2 + 1, t3 - t2 - 1).c_str())});
        },
        LineCr::Keep);
    return out;
}

}  // namespace

namespace {
// funds.qdii holds the kind's flags: late, own estimate, and a bit that says the flags are set
// (a file of an older relay holds 1 for a QDII fund there).
constexpr int kLateFlag = 1, kOwnFlag = 2, kKindFlags = 4;
}  // namespace

RelayStore::~RelayStore() {
    if (m_db) sqlite3_close(m_db);
}

bool RelayStore::Exec(const char* sql, std::string& error) {
    char* msg = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
    error = msg ? msg : "sqlite error";
    sqlite3_free(msg);
    return false;
}

bool RelayStore::Open(const std::filesystem::path& file, std::string& error) {
    if (sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = "cannot open " + file.string() + ": " + (m_db ? sqlite3_errmsg(m_db) : "out of memory");
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    if (!Exec("PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;", error) || !Exec(kSchema, error)) {
        error = file.string() + ": " + error;
        return false;
    }
    // A file from before QDII funds were told apart gains the column (and fails harmlessly after).
    std::string ignored;
    Exec("ALTER TABLE funds ADD COLUMN qdii INTEGER NOT NULL DEFAULT 0;", ignored);
    Exec("ALTER TABLE estimates ADD COLUMN own INTEGER NOT NULL DEFAULT 0;", ignored);
    Exec("ALTER TABLE estimates ADD COLUMN day TEXT NOT NULL DEFAULT '';", ignored);
    if (!Upgrade(error)) {
        error = file.string() + ": " + error;
        return false;
    }
    // A record of the first keyed layout gains the list's daily move (and fails harmlessly after).
    Exec("ALTER TABLE track ADD COLUMN list_move REAL;", ignored);
    Exec("ALTER TABLE track ADD COLUMN list_report TEXT;", ignored);
    return true;
}

bool RelayStore::Upgrade(std::string& error) {
    long long layout = 0;
    {
        // Finished before the upgrade: a statement still reading keeps a table from being dropped.
        SqlStatement version(m_db, "PRAGMA user_version;");
        if (!version || version.Step() != SQLITE_ROW) {
            error = sqlite3_errmsg(m_db);
            return false;
        }
        layout = version.ColumnInt(0);
    }
    if (layout >= kLayout) return true;
    bool copied = false;
    const std::string setVersion = "PRAGMA user_version=" + std::to_string(kLayout) + ";";
    const bool ok = Transaction(
        [&](sqlite3* db) {
            {
                SqlStatement old(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name='track';");
                copied = old && old.Step() == SQLITE_ROW;
            }
            const std::string create =
                std::string("CREATE TABLE ") + (copied ? "track_new" : "track") + kTrackTable;
            // The record of a relay from before: copied into the new layout under the same name.
            return Exec(create.c_str(), error) &&
                   (!copied ||
                    Exec("INSERT INTO track_new(day,code,estimate,public,nav)"
                         " SELECT day,code,estimate,COALESCE(public,0),nav FROM track ORDER BY day,code;"
                         "DROP TABLE track; ALTER TABLE track_new RENAME TO track;",
                         error)) &&
                   Exec(setVersion.c_str(), error);
        },
        error);
    // Once, so the old table's pages go back to the file system rather than wait on the free list.
    std::string ignored;
    if (ok && copied) Exec("VACUUM;", ignored);
    return ok;
}

bool RelayStore::Load(Snapshot& s, RunTimes& runs, std::string& error) {
    s = Snapshot();
    runs = RunTimes();
    {
        SqlStatement q(m_db, "SELECT code,name,type,changed,qdii FROM funds ORDER BY rowid;");
        while (q && q.Step() == SQLITE_ROW) {
            RelayFund f{q.ColumnString(0), q.ColumnString(1), q.ColumnString(2), q.ColumnInt(3)};
            const int64_t kind = q.ColumnInt(4);
            if (kind & kKindFlags) {
                f.late = kind & kLateFlag;
                f.ownEstimate = kind & kOwnFlag;
            } else {  // a file of the time only QDII funds were told apart: until the next catalogue
                f.late = kind != 0;
                f.ownEstimate = !f.late && (f.typeCode == "gu" || f.typeCode == "hun");
            }
            s.funds.push_back(std::move(f));
        }
    }
    {
        SqlStatement q(m_db, "SELECT code,date,acc,latest,previous FROM navs ORDER BY rowid;");
        while (q && q.Step() == SQLITE_ROW)
            s.navs.push_back(
                {q.ColumnString(0), q.ColumnString(1), q.ColumnReal(2), q.ColumnReal(3), q.ColumnReal(4)});
    }
    {
        SqlStatement q(m_db, "SELECT code,value,own,day FROM estimates ORDER BY rowid;");
        while (q && q.Step() == SQLITE_ROW)
            s.estimates.push_back(
                {q.ColumnString(0), q.ColumnReal(1), q.ColumnInt(2) != 0, q.ColumnString(3)});
    }
    auto own = std::make_shared<OwnBook>();
    {
        SqlStatement q(m_db, "SELECT code,data FROM fund_history;");
        while (q && q.Step() == SQLITE_ROW)
            own->history[q.ColumnString(0)] =
                std::make_shared<NavHistory>(NavHistoryFromText(q.ColumnString(1)));
    }
    {
        SqlStatement q(m_db, "SELECT code,data FROM index_history;");
        while (q && q.Step() == SQLITE_ROW)
            own->indices[q.ColumnString(0)] =
                std::make_shared<IndexHistory>(IndexHistoryFromText(q.ColumnString(1)));
    }
    {
        SqlStatement q(m_db, "SELECT code,report,equity,equity_date,fetched,stocks FROM holdings;");
        while (q && q.Step() == SQLITE_ROW)
            own->holdings[q.ColumnString(0)] =
                FundHoldings{q.ColumnString(1), StocksFromText(q.ColumnString(5)), q.ColumnReal(2),
                             q.ColumnString(3), q.ColumnInt(4)};
    }
    {
        // What the record holds in memory: the latest kTrackDays days, found by a seek each.
        SqlStatement latest(m_db, "SELECT MAX(day) FROM track WHERE day < ?;");
        std::string first = "~";  // after every date
        for (size_t n = 0; latest && n < kTrackDays; ++n) {
            sqlite3_reset(latest.Handle());
            sqlite3_bind_text(latest.Handle(), 1, first.c_str(), -1, SQLITE_TRANSIENT);
            if (latest.Step() != SQLITE_ROW || latest.ColumnIsNull(0)) break;
            first = latest.ColumnString(0);
        }
        std::unordered_map<std::string, std::shared_ptr<Track>> tracks;
        SqlStatement q(m_db,
                       "SELECT day,code,estimate,public,nav,list_move,list_report FROM track WHERE day >= ?"
                       " ORDER BY day,code;");
        if (!latest || !q ||
            sqlite3_bind_text(q.Handle(), 1, first.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK) {
            error = sqlite3_errmsg(m_db);
            return false;
        }
        while (q.Step() == SQLITE_ROW) {
            auto& t = tracks[q.ColumnString(1)];
            if (!t) {
                t = std::make_shared<Track>();
                t->reserve(kTrackDays);
            }
            t->push_back({q.ColumnString(0), q.ColumnReal(2), q.ColumnInt(3) != 0, q.ColumnReal(4),
                          q.ColumnReal(5), q.ColumnString(6)});
        }
        own->tracks.reserve(tracks.size());
        for (auto& [code, t] : tracks) own->tracks[code] = std::move(t);
    }
    s.own = std::move(own);
    SqlStatement q(m_db, "SELECT key,value FROM meta;");
    if (!q) {
        error = sqlite3_errmsg(m_db);
        return false;
    }
    while (q.Step() == SQLITE_ROW) {
        std::string key = q.ColumnString(0), value = q.ColumnString(1);
        int64_t n = std::atoll(value.c_str());
        if (key == "quoteDate")
            s.quoteDate = value;
        else if (key == "estimateStamp")
            s.estimateStamp = value;
        else if (key == "listTime")
            s.listTime = n;
        else if (key == "stkTime")
            s.stkTime = n;
        else if (key == "accTime")
            s.accTime = n;
        else if (key == "estTime")
            s.estTime = n;
        else if (key == "catalogueRun")
            runs.catalogue = n;
        else if (key == "netValuesRun")
            runs.netValues = n;
        else if (key == "estimatesRun")
            runs.estimates = n;
    }
    s.Build();
    return true;
}

bool RelayStore::Save(Feed feed, const Snapshot& s, const RunTimes& runs, std::string& error) {
    SqlTransaction transaction(m_db);
    if (transaction.Begin() != SQLITE_OK) {
        error = sqlite3_errmsg(m_db);
        return false;
    }
    bool ok = true;
    SqlStatement meta(m_db, "INSERT OR REPLACE INTO meta(key,value) VALUES(?,?);");
    auto setMeta = [&](const char* key, const std::string& value) {
        ok = ok && meta && meta.Run(key, value) == SQLITE_OK;
    };
    if (feed == Feed::Catalogue) {
        ok = Exec("DELETE FROM funds;", error);
        SqlStatement ins(m_db, "INSERT INTO funds(code,name,type,changed,qdii) VALUES(?,?,?,?,?);");
        for (const RelayFund& f : s.funds)
            ok = ok && ins &&
                 ins.Run(f.code, SqlBlob{f.name}, f.typeCode, f.changeTime,
                         kKindFlags | (f.late ? kLateFlag : 0) | (f.ownEstimate ? kOwnFlag : 0)) == SQLITE_OK;
        setMeta("listTime", std::to_string(s.listTime));
        setMeta("catalogueRun", std::to_string(runs.catalogue));
    } else if (feed == Feed::NetValues) {
        ok = Exec("DELETE FROM navs;", error);
        SqlStatement ins(m_db, "INSERT INTO navs(code,date,acc,latest,previous) VALUES(?,?,?,?,?);");
        for (const RelayNav& n : s.navs)
            ok = ok && ins && ins.Run(n.code, n.date, n.accumulated, n.latest, n.previous) == SQLITE_OK;
        setMeta("quoteDate", s.quoteDate);
        setMeta("stkTime", std::to_string(s.stkTime));
        setMeta("netValuesRun", std::to_string(runs.netValues));
    } else {
        ok = Exec("DELETE FROM estimates;", error);
        SqlStatement ins(m_db, "INSERT INTO estimates(code,value,own,day) VALUES(?,?,?,?);");
        for (const RelayEstimate& e : s.estimates)
            ok = ok && ins && ins.Run(e.code, e.value, e.own ? 1 : 0, e.day) == SQLITE_OK;
        setMeta("estimateStamp", s.estimateStamp);
        setMeta("estTime", std::to_string(s.estTime));
        setMeta("estimatesRun", std::to_string(runs.estimates));
    }
    // The record's feed follows every feed's changes: its time is kept with each.
    setMeta("accTime", std::to_string(s.accTime));
    // A failure leaves the old snapshot: the transaction rolls back when it ends.
    if (!ok || transaction.Commit() != SQLITE_OK) {
        if (error.empty()) error = sqlite3_errmsg(m_db);
        return false;
    }
    return true;
}

bool RelayStore::Transaction(const std::function<bool(sqlite3*)>& work, std::string& error) {
    SqlTransaction transaction(m_db);
    if (transaction.Begin() != SQLITE_OK) {
        error = sqlite3_errmsg(m_db);
        return false;
    }
    if (!work(m_db) || transaction.Commit() != SQLITE_OK) {
        if (error.empty()) error = sqlite3_errmsg(m_db);
        return false;
    }
    return true;
}

bool RelayStore::SaveHoldings(const std::vector<std::pair<std::string, FundHoldings>>& funds,
                              std::string& error) {
    return Transaction(
        [&](sqlite3* db) {
            SqlStatement ins(db,
                             "INSERT OR REPLACE INTO holdings(code,report,equity,equity_date,fetched,stocks)"
                             " VALUES(?,?,?,?,?,?);");
            bool ok = static_cast<bool>(ins);
            for (const auto& [code, h] : funds)
                ok = ok && ins.Run(code, h.reportDate, h.equityPct, h.equityDate, h.fetchedAt,
                                   StocksText(h.stocks)) == SQLITE_OK;
            return ok;
        },
        error);
}

bool RelayStore::SaveTrack(const std::vector<std::pair<std::string, TrackDay>>& days, std::string& error) {
    // In key order, so a new day's rows are appended page after page.
    std::vector<const std::pair<std::string, TrackDay>*> rows;
    rows.reserve(days.size());
    for (const auto& d : days) rows.push_back(&d);
    std::sort(rows.begin(), rows.end(), [](const auto* a, const auto* b) {
        return std::tie(a->second.day, a->first) < std::tie(b->second.day, b->first);
    });
    return Transaction(
        [&](sqlite3* db) {
            SqlStatement ins(
                db,
                "INSERT OR REPLACE INTO track(day,code,estimate,public,nav,list_move,list_report)"
                " VALUES(?,?,?,?,?,?,?);");
            bool ok = static_cast<bool>(ins);
            for (const auto* row : rows) {
                const auto& [code, d] = *row;
                // What a day does not have yet is NULL.
                const auto known = [](double v) { return v > 0 ? std::optional<double>(v) : std::nullopt; };
                const auto report =
                    d.listReport.empty() ? std::nullopt : std::optional<std::string>(d.listReport);
                ok = ok &&
                     ins.Run(d.day, code, known(d.estimate), d.publicEstimate ? 1 : 0, known(d.nav),
                             report ? std::optional<double>(d.listMove) : std::nullopt, report) == SQLITE_OK;
            }
            return ok;
        },
        error);
}

bool RelayStore::SaveHistories(
    const std::vector<std::pair<std::string, std::shared_ptr<const NavHistory>>>& funds,
    const std::vector<std::pair<std::string, std::shared_ptr<const IndexHistory>>>& indices,
    std::string& error) {
    return Transaction(
        [&](sqlite3* db) {
            SqlStatement fund(db, "INSERT OR REPLACE INTO fund_history(code,data) VALUES(?,?);");
            SqlStatement index(db, "INSERT OR REPLACE INTO index_history(code,data) VALUES(?,?);");
            bool ok = fund && index;
            for (const auto& [code, h] : funds)
                ok = ok && h && fund.Run(code, NavHistoryText(*h)) == SQLITE_OK;
            for (const auto& [code, h] : indices)
                ok = ok && h && index.Run(code, IndexHistoryText(*h)) == SQLITE_OK;
            return ok;
        },
        error);
}

bool RelayStore::LoadAskedHistories(std::vector<std::pair<std::string, std::string>>& out,
                                    std::string& error) {
    out.clear();
    SqlStatement q(m_db, "SELECT code,answer FROM asked_history;");
    if (!q) {
        error = sqlite3_errmsg(m_db);
        return false;
    }
    while (q.Step() == SQLITE_ROW) out.emplace_back(q.ColumnString(0), q.ColumnString(1));
    return true;
}

bool RelayStore::SaveAskedHistory(const std::string& code, const std::string& answer, std::string& error) {
    return Transaction(
        [&](sqlite3* db) {
            SqlStatement ins(db, "INSERT OR REPLACE INTO asked_history(code,answer) VALUES(?,?);");
            return ins && ins.Run(code, SqlBlob{answer}) == SQLITE_OK;
        },
        error);
}

bool RelayStore::PruneTrack(const std::string& before, std::string& error) {
    if (before == m_prunedBefore) return true;
    const bool ok = Transaction(
        [&](sqlite3* db) {
            SqlStatement old(db, "DELETE FROM track WHERE day < ?;");
            SqlStatement log(db,
                             "DELETE FROM fetch_log WHERE rowid <= (SELECT MAX(rowid) FROM fetch_log) - ?;");
            return old && old.Run(before) == SQLITE_OK && log && log.Run(kFetchLogLines) == SQLITE_OK;
        },
        error);
    if (ok) m_prunedBefore = before;
    return ok;
}

void RelayStore::Log(int64_t at, const std::string& source, long status, size_t bytes, size_t rows, bool ok,
                     const std::string& message) {
    SqlStatement ins(m_db,
                     "INSERT INTO fetch_log(at,source,status,bytes,rows,ok,message) VALUES(?,?,?,?,?,?,?);");
    if (!ins) return;
    // The log is a record for the operator; a fetch it fails to note is not worth failing over.
    (void)ins.Run(at, source, status, static_cast<int64_t>(bytes), static_cast<int64_t>(rows), ok ? 1 : 0,
                  message);
}

}  // namespace zeza::relay
