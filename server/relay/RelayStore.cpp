#include "server/relay/RelayStore.h"

#include <cstdio>
#include <cstdlib>

#include <sqlite3.h>

namespace zeza::relay {
namespace {

// Prepared statement that finalises itself.
class Stmt {
  public:
    Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_s, nullptr); }
    ~Stmt() { sqlite3_finalize(m_s); }
    explicit operator bool() const { return m_s != nullptr; }
    Stmt& Text(int i, const std::string& v) {
        sqlite3_bind_text(m_s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Blob(int i, const std::string& v) {
        sqlite3_bind_blob(m_s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Int(int i, int64_t v) {
        sqlite3_bind_int64(m_s, i, v);
        return *this;
    }
    Stmt& Real(int i, double v) {
        sqlite3_bind_double(m_s, i, v);
        return *this;
    }
    int Step() { return sqlite3_step(m_s); }
    bool Run() {
        int rc = sqlite3_step(m_s);
        sqlite3_reset(m_s);
        sqlite3_clear_bindings(m_s);
        return rc == SQLITE_DONE;
    }
    std::string Col(int i) const {
        auto* p = static_cast<const char*>(sqlite3_column_blob(m_s, i));
        return p ? std::string(p, sqlite3_column_bytes(m_s, i)) : std::string();
    }
    int64_t ColInt(int i) const { return sqlite3_column_int64(m_s, i); }
    double ColReal(int i) const { return sqlite3_column_double(m_s, i); }

  private:
    sqlite3_stmt* m_s = nullptr;
};

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
    // name), and per fund and day the last estimate before the close, the NAV and the error in %.
    "CREATE TABLE IF NOT EXISTS holdings(code TEXT PRIMARY KEY, report TEXT NOT NULL, equity REAL NOT NULL,"
    " equity_date TEXT, fetched INTEGER NOT NULL, stocks TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS track(code TEXT NOT NULL, day TEXT NOT NULL, estimate REAL, public INTEGER,"
    " nav REAL, error REAL, PRIMARY KEY(code, day));";

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
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find('\t', t2 + 1);
        if (t3 == std::string::npos) continue;
        out.push_back({line.substr(0, t1), line.substr(t1 + 1, t2 - t1 - 1), line.substr(t3 + 1),
                       std::atof(line.substr(t2 + 1, t3 - t2 - 1).c_str())});
    }
    return out;
}

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
    return true;
}

bool RelayStore::Load(Snapshot& s, RunTimes& runs, std::string& error) {
    s = Snapshot();
    runs = RunTimes();
    {
        Stmt q(m_db, "SELECT code,name,type,changed,qdii FROM funds ORDER BY rowid;");
        while (q && q.Step() == SQLITE_ROW)
            s.funds.push_back({q.Col(0), q.Col(1), q.Col(2), q.ColInt(3), q.ColInt(4) != 0});
    }
    {
        Stmt q(m_db, "SELECT code,date,acc,latest,previous FROM navs ORDER BY rowid;");
        while (q && q.Step() == SQLITE_ROW)
            s.navs.push_back({q.Col(0), q.Col(1), q.ColReal(2), q.ColReal(3), q.ColReal(4)});
    }
    {
        Stmt q(m_db, "SELECT code,value,own FROM estimates ORDER BY rowid;");
        while (q && q.Step() == SQLITE_ROW) s.estimates.push_back({q.Col(0), q.ColReal(1), q.ColInt(2) != 0});
    }
    auto own = std::make_shared<OwnBook>();
    {
        Stmt q(m_db, "SELECT code,report,equity,equity_date,fetched,stocks FROM holdings;");
        while (q && q.Step() == SQLITE_ROW)
            own->holdings[q.Col(0)] =
                FundHoldings{q.Col(1), StocksFromText(q.Col(5)), q.ColReal(2), q.Col(3), q.ColInt(4)};
    }
    {
        Stmt q(m_db, "SELECT code,day,estimate,public,nav FROM track ORDER BY code,day;");
        std::unordered_map<std::string, std::shared_ptr<Track>> tracks;
        while (q && q.Step() == SQLITE_ROW) {
            auto& t = tracks[q.Col(0)];
            if (!t) t = std::make_shared<Track>();
            t->push_back({q.Col(1), q.ColReal(2), q.ColInt(3) != 0, q.ColReal(4)});
        }
        for (auto& [code, t] : tracks) own->tracks[code] = std::move(t);
    }
    s.own = std::move(own);
    Stmt q(m_db, "SELECT key,value FROM meta;");
    if (!q) {
        error = sqlite3_errmsg(m_db);
        return false;
    }
    while (q.Step() == SQLITE_ROW) {
        std::string key = q.Col(0), value = q.Col(1);
        int64_t n = std::atoll(value.c_str());
        if (key == "quoteDate")
            s.quoteDate = value;
        else if (key == "estimateStamp")
            s.estimateStamp = value;
        else if (key == "listTime")
            s.listTime = n;
        else if (key == "stkTime")
            s.stkTime = n;
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
    if (!Exec("BEGIN IMMEDIATE;", error)) return false;
    bool ok = true;
    Stmt meta(m_db, "INSERT OR REPLACE INTO meta(key,value) VALUES(?,?);");
    auto setMeta = [&](const char* key, const std::string& value) {
        ok = ok && meta && meta.Text(1, key).Text(2, value).Run();
    };
    if (feed == Feed::Catalogue) {
        ok = Exec("DELETE FROM funds;", error);
        Stmt ins(m_db, "INSERT INTO funds(code,name,type,changed,qdii) VALUES(?,?,?,?,?);");
        for (const RelayFund& f : s.funds)
            ok = ok && ins &&
                 ins.Text(1, f.code)
                     .Blob(2, f.name)
                     .Text(3, f.typeCode)
                     .Int(4, f.changeTime)
                     .Int(5, f.qdii ? 1 : 0)
                     .Run();
        setMeta("listTime", std::to_string(s.listTime));
        setMeta("catalogueRun", std::to_string(runs.catalogue));
    } else if (feed == Feed::NetValues) {
        ok = Exec("DELETE FROM navs;", error);
        Stmt ins(m_db, "INSERT INTO navs(code,date,acc,latest,previous) VALUES(?,?,?,?,?);");
        for (const RelayNav& n : s.navs)
            ok = ok && ins &&
                 ins.Text(1, n.code)
                     .Text(2, n.date)
                     .Real(3, n.accumulated)
                     .Real(4, n.latest)
                     .Real(5, n.previous)
                     .Run();
        setMeta("quoteDate", s.quoteDate);
        setMeta("stkTime", std::to_string(s.stkTime));
        setMeta("netValuesRun", std::to_string(runs.netValues));
    } else {
        ok = Exec("DELETE FROM estimates;", error);
        Stmt ins(m_db, "INSERT INTO estimates(code,value,own) VALUES(?,?,?);");
        for (const RelayEstimate& e : s.estimates)
            ok = ok && ins && ins.Text(1, e.code).Real(2, e.value).Int(3, e.own ? 1 : 0).Run();
        setMeta("estimateStamp", s.estimateStamp);
        setMeta("estTime", std::to_string(s.estTime));
        setMeta("estimatesRun", std::to_string(runs.estimates));
    }
    if (!ok || !Exec("COMMIT;", error)) {
        if (error.empty()) error = sqlite3_errmsg(m_db);
        std::string ignored;
        Exec("ROLLBACK;", ignored);
        return false;
    }
    return true;
}

bool RelayStore::Transaction(const std::function<bool(sqlite3*)>& work, std::string& error) {
    if (!Exec("BEGIN IMMEDIATE;", error)) return false;
    if (!work(m_db) || !Exec("COMMIT;", error)) {
        if (error.empty()) error = sqlite3_errmsg(m_db);
        std::string ignored;
        Exec("ROLLBACK;", ignored);
        return false;
    }
    return true;
}

bool RelayStore::SaveHoldings(const std::vector<std::pair<std::string, FundHoldings>>& funds,
                              std::string& error) {
    return Transaction(
        [&](sqlite3* db) {
            Stmt ins(db,
                     "INSERT OR REPLACE INTO holdings(code,report,equity,equity_date,fetched,stocks)"
                     " VALUES(?,?,?,?,?,?);");
            bool ok = static_cast<bool>(ins);
            for (const auto& [code, h] : funds)
                ok = ok && ins.Text(1, code)
                               .Text(2, h.reportDate)
                               .Real(3, h.equityPct)
                               .Text(4, h.equityDate)
                               .Int(5, h.fetchedAt)
                               .Text(6, StocksText(h.stocks))
                               .Run();
            return ok;
        },
        error);
}

bool RelayStore::SaveTrack(const std::vector<std::pair<std::string, TrackDay>>& days,
                           const std::string& before, std::string& error) {
    return Transaction(
        [&](sqlite3* db) {
            Stmt ins(db,
                     "INSERT OR REPLACE INTO track(code,day,estimate,public,nav,error) VALUES(?,?,?,?,?,?);");
            bool ok = static_cast<bool>(ins);
            for (const auto& [code, d] : days) {
                ins.Text(1, code).Text(2, d.day).Int(4, d.publicEstimate ? 1 : 0);
                if (d.estimate > 0) ins.Real(3, d.estimate);
                if (d.nav > 0) ins.Real(5, d.nav);
                if (d.HasError()) ins.Real(6, d.ErrorPct());
                ok = ok && ins.Run();
            }
            Stmt old(db, "DELETE FROM track WHERE day < ?;");
            return ok && old && old.Text(1, before).Run();
        },
        error);
}

void RelayStore::Log(int64_t at, const std::string& source, long status, size_t bytes, size_t rows, bool ok,
                     const std::string& message) {
    Stmt ins(m_db, "INSERT INTO fetch_log(at,source,status,bytes,rows,ok,message) VALUES(?,?,?,?,?,?,?);");
    if (!ins) return;
    ins.Int(1, at)
        .Text(2, source)
        .Int(3, status)
        .Int(4, static_cast<int64_t>(bytes))
        .Int(5, static_cast<int64_t>(rows))
        .Int(6, ok ? 1 : 0)
        .Text(7, message)
        .Run();
    std::string ignored;
    Exec("DELETE FROM fetch_log WHERE rowid <= (SELECT MAX(rowid) FROM fetch_log) - 2000;", ignored);
}

}  // namespace zeza::relay
