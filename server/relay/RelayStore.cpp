#include "server/relay/RelayStore.h"

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
    " rows INTEGER, ok INTEGER, message TEXT);";

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
    return true;
}

bool RelayStore::Load(Snapshot& s, RunTimes& runs, std::string& error) {
    s = Snapshot();
    runs = RunTimes();
    {
        Stmt q(m_db, "SELECT code,name,type,changed FROM funds ORDER BY rowid;");
        while (q && q.Step() == SQLITE_ROW) s.funds.push_back({q.Col(0), q.Col(1), q.Col(2), q.ColInt(3)});
    }
    {
        Stmt q(m_db, "SELECT code,date,acc,latest,previous FROM navs ORDER BY rowid;");
        while (q && q.Step() == SQLITE_ROW)
            s.navs.push_back({q.Col(0), q.Col(1), q.ColReal(2), q.ColReal(3), q.ColReal(4)});
    }
    {
        Stmt q(m_db, "SELECT code,value FROM estimates ORDER BY rowid;");
        while (q && q.Step() == SQLITE_ROW) s.estimates.push_back({q.Col(0), q.ColReal(1)});
    }
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
        Stmt ins(m_db, "INSERT INTO funds(code,name,type,changed) VALUES(?,?,?,?);");
        for (const RelayFund& f : s.funds)
            ok = ok && ins &&
                 ins.Text(1, f.code).Blob(2, f.name).Text(3, f.typeCode).Int(4, f.changeTime).Run();
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
        Stmt ins(m_db, "INSERT INTO estimates(code,value) VALUES(?,?);");
        for (const RelayEstimate& e : s.estimates)
            ok = ok && ins && ins.Text(1, e.code).Real(2, e.value).Run();
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
