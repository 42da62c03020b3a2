#include "tests/fuzz/FuzzWorkspace.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <sqlite3.h>
#include <unistd.h>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "platform/GbkCodec.h"

namespace zeza::fuzz {
namespace {

const char* const kTables[] = {"fu_count", "fu_iniLoc", "fu_list", "fu_stk"};

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteBytes(const std::string& path, const char* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) Fail("cannot write " + path);
    if (size > 0 && std::fwrite(data, 1, size, f) != size) Fail("cannot write " + path);
    if (std::fclose(f) != 0) Fail("cannot write " + path);
}

std::string Column(sqlite3_stmt* st, int c) {
    switch (sqlite3_column_type(st, c)) {
        case SQLITE_NULL:
            return "n";
        case SQLITE_INTEGER:
            return "i" + std::to_string(sqlite3_column_int64(st, c));
        case SQLITE_FLOAT: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "r%.17g", sqlite3_column_double(st, c));
            return buf;
        }
        case SQLITE_TEXT:
            return "t" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, c)),
                                     static_cast<size_t>(sqlite3_column_bytes(st, c)));
        default:
            return "b" + std::string(static_cast<const char*>(sqlite3_column_blob(st, c)),
                                     static_cast<size_t>(sqlite3_column_bytes(st, c)));
    }
}

// Runs a query and hands each row to f; aborts when the query fails.
template <typename F>
void Each(sqlite3* db, const std::string& sql, F&& f) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        Fail("cannot read the database: " + sql + ": " + sqlite3_errmsg(db));
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) f(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) Fail("cannot read the database: " + sql);
}

// Adds what a user's database holds beyond the template.
void FillStoredDatabase() {
    const std::string remark = Utf8ToGbk("长期持有，定投'每月'");
    const char* statements[] = {
        // A smaller catalogue than the template's keeps each input cheap to check.
        "DELETE FROM fu_list WHERE idl>40 AND codel NOT IN ('110003','519005');",
        "UPDATE fu_iniLoc SET stkTime=1226662200, estTime=1226673900, updateTime=1226677500;",
        "UPDATE fu_list SET look=-1 WHERE codel IN ('000001','000021','110003','519005');",
        "UPDATE fu_list SET estval=1.0623 WHERE codel='000001';",
        "UPDATE fu_list SET estval=2.5 WHERE codel='000011';",
        "INSERT INTO fu_stk VALUES "
        "('000001',3.12,1.056,1.061,'2008-11-14'),('000011',2.98,1.234,1.23,'2008-11-14'),"
        "('519005',1.5,1.01,1.02,'2008-11-14');",
    };
    for (const char* s : statements)
        if (ExecSql(s) != 0) Fail(std::string("cannot prepare the stored database: ") + s);
    const SqlParams holdings[] = {
        {std::string("000001"), 1000.0, 500.0, remark},
        {std::string("000011"), 2500.5, 1234.25, std::string("it's mine")},
        {std::string("999999"), 1.0, 1.0, Utf8ToGbk("不在列表里的基金 亅")},
    };
    for (const SqlParams& h : holdings)
        if (ExecSql("INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES (?,?,?,?);", h) != 0)
            Fail("cannot add the stored holdings");
}

}  // namespace

// The workspace changes the current directory, so libFuzzer must get every
// path as an absolute one: the corpus folders, and where it writes a crashing
// input (by default the current directory, which is removed at exit).
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::vector<std::string> args;
    static std::vector<char*> pointers;
    bool artifactPrefix = false;
    for (int i = 0; i < *argc; ++i) {
        std::string a = (*argv)[i];
        for (const char* flag : {"-artifact_prefix=", "-exact_artifact_path=", "-dict="}) {
            const std::string f = flag;
            if (a.rfind(f, 0) == 0 && a.size() > f.size()) {
                std::string path = std::filesystem::absolute(a.substr(f.size())).string();
                // A prefix that names a folder keeps its closing slash.
                if (a.back() == '/' && path.back() != '/') path += '/';
                a = f + path;
                artifactPrefix = artifactPrefix || f == "-artifact_prefix=";
            }
        }
        if (i > 0 && !a.empty() && a[0] != '-') a = std::filesystem::absolute(a).string();
        args.push_back(a);
    }
    if (!artifactPrefix) args.push_back("-artifact_prefix=" + std::filesystem::current_path().string() + "/");
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    *argc = static_cast<int>(args.size());
    *argv = pointers.data();
    FuzzWorkspace::Get();
    return 0;
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "\n*** fuzz check failed: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

FuzzWorkspace& FuzzWorkspace::Get() {
    static FuzzWorkspace* workspace = new FuzzWorkspace();
    return *workspace;
}

FuzzWorkspace::FuzzWorkspace() {
    // In memory where there is such a folder: every input commits a
    // transaction, and syncing a disk for each would slow the fuzzing tenfold.
    std::error_code ec;
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0
            ? std::filesystem::path("/dev/shm")
            : std::filesystem::temp_directory_path();
    std::string templ = (base / "zeza-fuzz-XXXXXX").string();
    if (!mkdtemp(templ.data())) Fail("mkdtemp failed");
    m_dir = templ;
    std::filesystem::current_path(m_dir);
    // The cache folder stays inside the scratch folder too.
    setenv("XDG_CACHE_HOME", m_dir.c_str(), 1);
    static std::string dirForExit;
    dirForExit = m_dir;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(dirForExit, ec);
    });

    { CFundDb first; }   // writes the template
    { CFundDb second; }  // stores the installation id
    FillStoredDatabase();
    if (ExecSql("VACUUM;") != 0) Fail("cannot compact the stored database");
    m_bytes = ReadBytes("Zeza.db");
    m_stored = Read();
    if (m_stored.objects != 4) Fail("the template does not hold exactly four tables");
    for (const char* t : kTables)
        if (m_stored.tables[t].empty()) Fail(std::string("the stored table is empty: ") + t);
}

void FuzzWorkspace::Prepare(const std::string& file, const uint8_t* data, size_t size) {
    std::error_code ec;
    std::filesystem::remove("Zeza.db-journal", ec);
    WriteBytes("Zeza.db", m_bytes.data(), m_bytes.size());
    WriteInput(file, data, size);
}

void FuzzWorkspace::WriteInput(const std::string& file, const uint8_t* data, size_t size) {
    WriteBytes(file, reinterpret_cast<const char*>(data), size);
}

DbSnapshot FuzzWorkspace::Read() const {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2("./Zeza.db", &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        Fail("cannot open the database");
    }
    DbSnapshot snap;
    Each(db, "PRAGMA quick_check;", [&](sqlite3_stmt* st) {
        if (Column(st, 0) != "tok") Fail("the database fails its check: " + Column(st, 0));
    });
    // Every object the file holds: tables, indexes, views, triggers.
    Each(db, "SELECT type,name,tbl_name,sql FROM sqlite_master ORDER BY type,name;", [&](sqlite3_stmt* st) {
        ++snap.objects;
        for (int c = 0; c < 4; ++c) snap.schema += Column(st, c) + "\x1f";
        snap.schema += "\n";
    });
    for (const char* t : kTables) {
        auto& rows = snap.tables[t];
        Each(db, std::string("SELECT rowid,* FROM ") + t + " ORDER BY rowid;", [&](sqlite3_stmt* st) {
            DbRow row;
            row.rowid = sqlite3_column_int64(st, 0);
            for (int c = 1; c < sqlite3_column_count(st); ++c) row.cols.push_back(Column(st, c));
            rows.push_back(std::move(row));
        });
    }
    sqlite3_close(db);
    return snap;
}

DbSnapshot ExpectOnlyOwnTableWritten(int result, int failed, const std::string& own) {
    if (result != 1 && result != failed) Fail("unexpected result " + std::to_string(result));
    DbSnapshot now = FuzzWorkspace::Get().Read();
    const DbSnapshot& stored = FuzzWorkspace::Get().Stored();
    if (now.objects != stored.objects || now.schema != stored.schema)
        Fail("the schema changed:\n" + now.schema + "instead of\n" + stored.schema);
    for (const auto& [name, rows] : stored.tables) {
        if (name == own && result == 1) continue;
        if (now.tables.at(name) != rows) Fail("table changed: " + name);
    }
    return now;
}

std::optional<DbSnapshot> ApplyFeed(const std::string& file, const uint8_t* data, size_t size,
                                    int (*apply)(const std::string&), int failed, const std::string& own) {
    FuzzWorkspace::Get().Prepare(file, data, size);
    const int r = apply(file);
    DbSnapshot now = ExpectOnlyOwnTableWritten(r, failed, own);
    if (r != 1) return std::nullopt;
    return now;
}

}  // namespace zeza::fuzz
