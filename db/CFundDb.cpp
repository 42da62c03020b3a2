#include "db/CFundDb.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "db/SqlAccess.h"
#include "exchange/DecimalText.h"
#include "platform/AtomicFile.h"
#include "platform/CacheFolder.h"
#include "platform/GbkCodec.h"
#include "platform/LocalTime.h"
#include "platform/SystemGuid.h"
#include "resources/TemplateDatabase.h"

namespace zeza {
namespace {

constexpr const char* kDatabaseFile = "Zeza.db";
// The rebuilt file is made complete under this name before it replaces the old one.
constexpr const char* kRebuildFile = "Zeza.db.new";
constexpr int kCurrentSchema = 3;

std::function<void(const char*)>& RebuildStageHook() {
    static std::function<void(const char*)> hook;
    return hook;
}

void RebuildStage(const char* stage) {
    if (RebuildStageHook()) RebuildStageHook()(stage);
}

int32_t ToInt32(const char* text) {
    return text ? static_cast<int32_t>(std::strtoll(text, nullptr, 10)) : 0;
}

bool WriteTemplateTo(const std::string& path) {
    // A journal, log or index left beside a missing or dead file by a crash
    // belongs to that file: SQLite would roll it into the fresh template at
    // the first open. SQLite keeps them beside a link's target.
    std::error_code ec;
    const std::string real = ResolveFileLinks(path);
    for (const char* companion : {"-journal", "-wal", "-shm"}) {
        std::filesystem::remove(path + companion, ec);
        if (!real.empty()) std::filesystem::remove(real + companion, ec);
    }
    std::span<const unsigned char> bytes = TemplateDatabaseBytes();
    return WriteFileAtomically(path,
                               std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// An old-schema file kept its holdings in fu_list with a take flag. The new
// file is built completely beside it and only then renamed over it, so a crash
// at any moment leaves either the old file or the finished new one.
int RebuildOldDatabase() {
    QueryTable held;
    if (QuerySql("SELECT codel,tcost,tcount,remark FROM fu_list WHERE take;", {}, held) != 0) return 0;

    std::error_code ec;
    // A crash during an earlier rebuild can leave that half-built file's
    // journal; writing the template removes it.
    if (!WriteTemplateTo(kRebuildFile)) {
        std::filesystem::remove(kRebuildFile, ec);
        return 0;
    }
    RebuildStage("template-written");
    bool carried = false;
    {
        SqliteConnection db;
        if (db.Open(std::string("./") + kRebuildFile)) {
            SqlTransaction transaction(db.Handle());
            carried = transaction.Begin(SqlTransaction::Lock::Deferred) == SQLITE_OK;
            for (int r = 0; r < held.rows && carried; ++r) {
                carried =
                    db.Exec("INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES (?,?,?,?);",
                            {held.Str(r, 0), held.Str(r, 1), held.Str(r, 2), held.Str(r, 3)}) == SQLITE_OK;
            }
            carried = carried && transaction.Commit() == SQLITE_OK;
        }
    }
    // A holding that did not go in would be lost with the old file: keep
    // the old file and try again at the next start.
    if (!carried) {
        std::filesystem::remove(kRebuildFile, ec);
        return 0;
    }
    RebuildStage("holdings-carried");
    if (std::rename(kRebuildFile, kDatabaseFile) != 0) {
        // The old file stays as it was; the next start tries again.
        std::filesystem::remove(kRebuildFile, ec);
        return 1;
    }
    RebuildStage("renamed");
    return 1;
}

}  // namespace

CFundDb::CFundDb() {
    // A constructor has no result to give: TemplateWriteFailed() tells the
    // failure the window acts on, and with an unreadable file every later
    // operation reports its own.
    (void)EnsureDatabase();
    m_server.Clear();
    m_strCacheFolder = GetCacheFolder();
}

CFundDb::~CFundDb() = default;

void CFundDb::SetRebuildStageHookForTesting(std::function<void(const char*)> hook) {
    RebuildStageHook() = std::move(hook);
}

int CFundDb::EnsureDatabase() {
    std::error_code ec;
    // An empty file is no database at all (SQLite would take it for an empty
    // one, and the program would never recover); treat it as missing.
    bool present = std::filesystem::exists(kDatabaseFile, ec);
    if (present && std::filesystem::is_regular_file(kDatabaseFile, ec) &&
        std::filesystem::file_size(kDatabaseFile, ec) == 0)
        present = false;
    if (!present) {
        if (!WriteTemplateDatabase()) {
            m_bTemplateWriteFailed = true;
            return 0;
        }
        return 1;
    }
    // A file it cannot read keeps dbVer 0 and goes to the rebuild, which reports it.
    (void)ReadLocalState(m_local);
    if (m_local.dbVer >= kCurrentSchema) return 1;
    return RebuildOldDatabase();
}

int CFundDb::WriteTemplateDatabase() {
    return WriteTemplateTo(kDatabaseFile) ? 1 : 0;
}

int CFundDb::ReadLocalState(LocalState& state) {
    state = LocalState{};
    QueryTable t;
    if (QuerySql("SELECT dbVer,updateTime,stkTime,estTime,listTime,guid FROM fu_iniLoc;", {}, t) != 0)
        return 0;
    if (t.rows == 0) return 0;
    state.dbVer = ToInt32(t.Text(0, 0));
    state.updateTime = ToInt32(t.Text(0, 1));
    state.stkTime = ToInt32(t.Text(0, 2));
    state.estTime = ToInt32(t.Text(0, 3));
    state.listTime = ToInt32(t.Text(0, 4));
    state.guid = t.Str(0, 5);
    if (state.guid.size() < 10) {
        std::string id;
        // Without a new id the text is "noGuid", sent like any id.
        (void)CreateInstallGuid(id);
        state.guid = id;
        // Not stored, the next start makes another; this run goes on with it.
        (void)ExecSql("UPDATE fu_iniLoc SET guid=?;", {id});
    }
    return 1;
}

int CFundDb::CreateInstallGuid(std::string& text) {
    if (!CreateGuidText(text)) {
        text = "noGuid";
        return 0;
    }
    return 1;
}

std::string CFundDb::GetCacheFolder() {
    return FindCacheFolder();
}

std::string CFundDb::ReadPassword() {
    QueryTable t;
    if (QuerySql("SELECT pwd FROM fu_iniLoc;", {}, t) != 0 || t.rows == 0) return std::string();
    return t.Str(0, 0);
}

int CFundDb::ReadHolding(long long idc, std::string& code, double& cost, double& units, std::string& remark) {
    QueryTable t;
    const int r = QuerySql("SELECT codec,tcost,tcount,remark FROM fu_count WHERE idc=?", {idc}, t);
    if (r != 0) return r;
    if (t.rows == 0) return 0;
    code = t.Str(0, 0);
    // Read as the text SQLite keeps, not through a rounded view cell, so an
    // unchanged field is saved back exactly; a NULL or unreadable number is 0.
    cost = 0;
    units = 0;
    (void)ParseDecimal(t.Str(0, 1), cost);
    (void)ParseDecimal(t.Str(0, 2), units);
    remark = t.Str(0, 3);
    return 1;
}

int CFundDb::AddHolding(const std::string& code, double cost, double units, const std::string& remark) {
    return ExecSql("INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES (?,?,?,?);",
                   {code, cost, units, remark});
}

int CFundDb::UpdateHolding(long long idc, const std::string& code, double cost, double units,
                           const std::string& remark) {
    return ExecSql("UPDATE fu_count SET codec=?,tcost=?,tcount=?,remark=? WHERE idc=?;",
                   {code, cost, units, remark, idc});
}

int CFundDb::DeleteHolding(long long idc) {
    return ExecSql("DELETE FROM fu_count WHERE idc=?", {idc});
}

int CFundDb::SetWatchFlag(const std::string& code, bool watched) {
    // -1 marks a watched fund.
    return ExecSql("UPDATE fu_list SET look=? WHERE codel=?", {watched ? -1LL : 0LL, code});
}

int CFundDb::StorePassword(const std::string& password) {
    return ExecSql("UPDATE fu_iniLoc SET pwd=?", {password});
}

int CFundDb::GetQuoteDates(std::vector<std::string>& list) {
    QueryTable t;
    if (QuerySql("SELECT gdate FROM fu_stk GROUP BY gdate ORDER BY gdate;", {}, t) != 0) return 0;
    if (t.rows > 0) {
        // Ascending from the query, each put in front: newest ends up first.
        for (int r = 0; r < t.rows; ++r) list.insert(list.begin(), t.Str(r, 0));
    } else {
        const std::tm local = LocalTimeOf(std::time(nullptr));
        char buf[32];
        std::snprintf(buf, sizeof buf, "%d-%02d-%d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
        list.insert(list.begin(), buf);
    }
    return 1;
}

int CFundDb::GetPortfolioTotals(double& value, double& previousValue, double& estimatedValue, double& cost) {
    QueryTable t;
    if (QuerySql(
            "SELECT IFNULL(SUM(valtd*tcount),0),IFNULL(SUM(valytd*tcount),0),IFNULL(SUM(estval*tcount),0) "
            ",IFNULL(SUM(tcost),0) FROM fu_stk,fu_list,fu_count WHERE codel=codes AND codel=codec;",
            {}, t) != 0)
        return 0;
    if (t.rows > 0) {
        auto num = [&](int c) { return std::atof(t.Str(0, c).c_str()); };
        value = num(0);
        previousValue = num(1);
        estimatedValue = num(2);
        cost = num(3);
    }
    return 1;
}

std::string CFundDb::GetEstimateTimeText() const {
    static const std::string prefix = Utf8ToGbk("预估净值更新时间：");
    // Time 0 is no estimate at all, not the first second of 1970.
    if (m_local.estTime == 0) return prefix + Utf8ToGbk("暂无");
    const std::tm local = LocalTimeOf(m_local.estTime);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return prefix + buf;
}

}  // namespace zeza
