// A process killed (SIGKILL) in the middle of writing the database: inside a
// feed's transaction, an import, or the rebuild of an old file. Afterwards the
// file must open, pass integrity_check and hold all of the old data or all of
// the new, never a mix.
//
// Two ways to land the kill: a child process that kills itself right before
// its n-th write, sync, truncate or delete (through a database file layer of
// its own), swept over the whole write; and a parent that kills a child from
// outside after a delay, repeated until a kill is proven to have landed inside
// the transaction (the rollback journal is still there afterwards).
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "ledger/Ledger.h"
#include "resources/TemplateDatabase.h"
#include "sync/EstimateFeed.h"
#include "sync/FundListFeed.h"
#include "sync/NetValueFeed.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"

using namespace zeza;
using namespace zeza::test;

namespace {

using Clock = std::chrono::steady_clock;

// --- a file layer that kills the process before its n-th change to a file ---

namespace killvfs {

sqlite3_vfs* g_real = nullptr;
long g_events = 0;
long g_killAt = 0;  // 0: never

// Every write, sync, truncate and delete passes here first.
void Event() {
    if (++g_events == g_killAt) raise(SIGKILL);
}

struct File {
    sqlite3_file base;
    sqlite3_file* real;  // lives right after this struct
};

sqlite3_file* Real(sqlite3_file* f) {
    return reinterpret_cast<File*>(f)->real;
}

int Close(sqlite3_file* f) {
    return Real(f)->pMethods->xClose(Real(f));
}
int Read(sqlite3_file* f, void* buf, int n, sqlite3_int64 off) {
    return Real(f)->pMethods->xRead(Real(f), buf, n, off);
}
int Write(sqlite3_file* f, const void* buf, int n, sqlite3_int64 off) {
    Event();
    return Real(f)->pMethods->xWrite(Real(f), buf, n, off);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
    Event();
    return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) {
    Event();
    return Real(f)->pMethods->xSync(Real(f), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
    return Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file* f, int l) {
    return Real(f)->pMethods->xLock(Real(f), l);
}
int Unlock(sqlite3_file* f, int l) {
    return Real(f)->pMethods->xUnlock(Real(f), l);
}
int CheckReservedLock(sqlite3_file* f, int* out) {
    return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
    return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) {
    return Real(f)->pMethods->xSectorSize(Real(f));
}
int DeviceCharacteristics(sqlite3_file* f) {
    return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}
int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
    return Real(f)->pMethods->xShmMap(Real(f), region, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) {
    Real(f)->pMethods->xShmBarrier(Real(f));
}
int ShmUnmap(sqlite3_file* f, int del) {
    return Real(f)->pMethods->xShmUnmap(Real(f), del);
}

const sqlite3_io_methods kMethods = {2,
                                     Close,
                                     Read,
                                     Write,
                                     Truncate,
                                     Sync,
                                     FileSize,
                                     Lock,
                                     Unlock,
                                     CheckReservedLock,
                                     FileControl,
                                     SectorSize,
                                     DeviceCharacteristics,
                                     ShmMap,
                                     ShmLock,
                                     ShmBarrier,
                                     ShmUnmap,
                                     nullptr,
                                     nullptr};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    File* file = reinterpret_cast<File*>(f);
    file->real = reinterpret_cast<sqlite3_file*>(file + 1);
    const int rc = g_real->xOpen(g_real, name, file->real, flags, outFlags);
    file->base.pMethods = file->real->pMethods ? &kMethods : nullptr;
    return rc;
}
int Delete(sqlite3_vfs*, const char* name, int syncDir) {
    Event();
    return g_real->xDelete(g_real, name, syncDir);
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
    return g_real->xAccess(g_real, name, flags, out);
}
int FullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
    return g_real->xFullPathname(g_real, name, n, out);
}
int Randomness(sqlite3_vfs*, int n, char* out) {
    return g_real->xRandomness(g_real, n, out);
}
int Sleep(sqlite3_vfs*, int us) {
    return g_real->xSleep(g_real, us);
}
int CurrentTime(sqlite3_vfs*, double* out) {
    return g_real->xCurrentTime(g_real, out);
}
int GetLastError(sqlite3_vfs*, int n, char* out) {
    return g_real->xGetLastError(g_real, n, out);
}
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
    return g_real->xCurrentTimeInt64(g_real, out);
}

sqlite3_vfs g_vfs;

// Becomes the default file layer of this (child) process.
void Install(long killAt) {
    g_real = sqlite3_vfs_find(nullptr);
    g_vfs = sqlite3_vfs{};
    g_vfs.iVersion = 2;
    g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g_real->szOsFile;
    g_vfs.mxPathname = g_real->mxPathname;
    g_vfs.zName = "zeza-kill";
    g_vfs.xOpen = Open;
    g_vfs.xDelete = Delete;
    g_vfs.xAccess = Access;
    g_vfs.xFullPathname = FullPathname;
    g_vfs.xRandomness = Randomness;
    g_vfs.xSleep = Sleep;
    g_vfs.xCurrentTime = CurrentTime;
    g_vfs.xGetLastError = GetLastError;
    g_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
    g_events = 0;
    g_killAt = killAt;
    sqlite3_vfs_register(&g_vfs, 1);
}

}  // namespace killvfs

// --- running the work in a child ---

struct ChildEnd {
    bool killed = false;  // ended by SIGKILL
    int exitCode = -1;    // when it exited
    long events = 0;      // changes it made (only when it exited)
    double seconds = 0;   // from its start signal to its end
};

// Runs work in a child process. With killAt > 0 the child kills itself right
// before its killAt-th change to a file; with killAfter > 0 the parent kills it
// that long after the child said it starts.
ChildEnd RunChild(const std::function<int()>& work, long killAt, std::chrono::microseconds killAfter = {}) {
    int pipefd[2];
    if (pipe(pipefd) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipefd[0]);
        killvfs::Install(killAt);
        const char go = 'g';
        if (write(pipefd[1], &go, 1) != 1) _exit(99);
        const int r = work();
        const long events = killvfs::g_events;
        if (write(pipefd[1], &events, sizeof events) != sizeof events) _exit(98);
        _exit(r == 1 ? 0 : 10 + (r < 0 ? -r : r));
    }
    close(pipefd[1]);
    ChildEnd end;
    char go = 0;
    const bool started = read(pipefd[0], &go, 1) == 1;
    const auto start = Clock::now();
    if (started && killAfter.count() > 0) {
        std::this_thread::sleep_for(killAfter);
        kill(pid, SIGKILL);
    }
    long events = 0;
    const bool reported = read(pipefd[0], &events, sizeof events) == sizeof events;
    close(pipefd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    end.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    end.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (WIFEXITED(status)) end.exitCode = WEXITSTATUS(status);
    if (reported) end.events = events;
    return end;
}

// --- what the database holds ---

// Everything the program keeps, except the installation id (made afresh on
// the first start after a rebuild).
std::string State() {
    std::string out;
    for (const char* sql : {"SELECT type,name,sql FROM sqlite_master ORDER BY name;",
                            "SELECT idl,codel,name,type,look,estval FROM fu_list ORDER BY idl;",
                            "SELECT idc,codec,tcost,tcount,remark FROM fu_count ORDER BY idc;",
                            "SELECT rowid,codes,valreal,valtd,valytd,gdate FROM fu_stk ORDER BY rowid;",
                            "SELECT dbVer,updateTime,stkTime,estTime,listTime,pwd FROM fu_iniLoc;"}) {
        out += std::string(sql) + "\n";
        for (const std::string& row : Rows(sql)) out += row + "\n";
    }
    return out;
}

bool HotJournal(const char* db = "Zeza.db") {
    std::error_code ec;
    const std::string journal = std::string(db) + "-journal";
    return std::filesystem::exists(journal, ec) && std::filesystem::file_size(journal, ec) > 0;
}

std::string IntegrityCheck() {
    return QueryOne("PRAGMA integrity_check;");
}

// The stored file back, without what a killed write left beside it.
void PutBack(const std::string& bytes) {
    std::error_code ec;
    for (const char* f : {"Zeza.db-journal", "Zeza.db.new", "Zeza.db.new-journal"})
        std::filesystem::remove(f, ec);
    WriteFileBytes("Zeza.db", bytes);
}

// --- the writes under test ---

// Feed files for the template's funds and some thousands more; "a" makes the
// stored state, the others are the writes that get killed.
void WriteFeeds(std::vector<std::string> codes, const std::string& tag, int funds) {
    for (int n = 0; n < funds; ++n) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%06d", 300000 + n);
        codes.push_back(buf);
    }
    std::string list, stk = tag == "a" ? "2008-11-14\r\n" : "2008-11-17\n", est;
    for (size_t i = 0; i < codes.size(); ++i) {
        list += codes[i] + "|" + G(tag == "a" ? "旧名" : "新名") + std::to_string(i) + "'|" +
                (i % 2 ? "gu" : "zhi") + "\r\n";
        const std::string v = std::to_string(1 + (i + tag[0]) % 5) + "." + std::to_string(1000 + i % 8999);
        stk += codes[i] + "|" + v + "|" + v + "|" + v + "\n";
        est += codes[i] + "|" + v + "\r\n";
    }
    WriteFileBytes("list-" + tag + ".tmp", list);
    WriteFileBytes("stk-" + tag + ".tmp", stk);
    WriteFileBytes("est-" + tag + ".tmp", est);
}

void WriteImportFile(int lines) {
    std::string text = G("代码,成本,份数,备注") + "\r\n";
    for (int i = 0; i < lines; ++i)
        text += "00" + std::to_string(1000 + i % 9000) + "," + std::to_string(i) + ".5," +
                std::to_string(i % 97) + ".25," + G("导入的第") + std::to_string(i) + G("笔，") + "it's\r\n";
    WriteFileBytes("import.txt", text);
}

// A file in the old layout: holdings in fu_list, flagged by take.
void WriteOldSchemaFile() {
    std::filesystem::remove("Zeza.db");
    std::string sql = OldLayoutSchema(true) + "BEGIN;";
    for (int i = 0; i < 600; ++i)
        sql += "INSERT INTO fu_list (codel,name,type,tcost,tcount,remark,take) VALUES ('" +
               std::to_string(100000 + i) + "','" + G("老基金") + "','" + G("股票型") + "'," +
               std::to_string(i) + ".5," + std::to_string(i * 2) + ",'" + G("备注") + "''s " +
               std::to_string(i) + "'," + (i % 3 ? "1" : "0") + ");";
    sql += "COMMIT;";
    ASSERT_EQ(ExecIn("Zeza.db", sql), SQLITE_OK);
}

// The three feeds, each applying its file of the set tag.
struct Feed {
    const char* name;
    std::function<int()> work;
};
std::vector<Feed> FeedWorks(const std::string& tag) {
    return {{"fund list", [tag] { return ApplyFundListFile("list-" + tag + ".tmp"); }},
            {"net values", [tag] { return ApplyNetValueFile("stk-" + tag + ".tmp"); }},
            {"estimates", [tag] { return ApplyEstimateFile("est-" + tag + ".tmp"); }}};
}

struct Outcomes {
    int runs = 0;
    int old = 0;          // the old data, whole
    int fresh = 0;        // the new data, whole
    int insideWrite = 0;  // a hot journal proved the kill landed inside the transaction
};

// Puts the stored file back, runs the write in a child that is killed, and
// checks what it left against the stored state and what a complete write leaves.
class CrashFixture : public ::testing::Test {
  protected:
    // What the killed child left: opens, is whole, and is the old state or the new.
    void Check(const std::string& oldState, const std::string& newState, Outcomes& o) {
        ++o.runs;
        const bool hot = HotJournal();
        const std::string check = IntegrityCheck();  // opening rolls a hot journal back
        EXPECT_EQ(check, "ok");
        const std::string state = State();
        const bool isOld = state == oldState, isNew = state == newState;
        EXPECT_TRUE(isOld || isNew) << "a mix of old and new data after the kill";
        if (hot) {
            ++o.insideWrite;
            EXPECT_TRUE(isOld) << "an unfinished transaction must be rolled back";
        }
        o.old += isOld;
        o.fresh += isNew;
    }

    // Kills the write before each of (up to) `points` of its changes, spread
    // over all of them, and checks every outcome.
    Outcomes Sweep(const std::function<int()>& work, int points) {
        const std::string oldBytes = ReadFileBytes("Zeza.db");
        const std::string oldState = State();
        const ChildEnd whole = RunChild(work, 0);
        EXPECT_EQ(whole.exitCode, 0) << "the write itself failed";
        EXPECT_GT(whole.events, 3);
        const std::string newState = State();
        EXPECT_NE(newState, oldState);

        Outcomes o;
        std::vector<long> at;
        for (int p = 0; p < points; ++p) at.push_back(1 + (whole.events - 1) * p / std::max(points - 1, 1));
        // The end of a transaction (journal synced, pages written, journal
        // deleted) is where a kill hurts most: every one of the last steps.
        for (long k = std::max(1L, whole.events - 12); k <= whole.events; ++k) at.push_back(k);
        for (long k : at) {
            SCOPED_TRACE("killed before change " + std::to_string(k) + " of " + std::to_string(whole.events));
            PutBack(oldBytes);
            const ChildEnd end = RunChild(work, k);
            EXPECT_TRUE(end.killed);
            Check(oldState, newState, o);
            if (HasFailure()) break;
        }
        PutBack(oldBytes);
        return o;
    }

    // Kills the child from outside after a delay, until a kill landed inside
    // the transaction three times (or 60 tries).
    Outcomes KillFromOutside(const std::function<int()>& work) {
        const std::string oldBytes = ReadFileBytes("Zeza.db");
        const std::string oldState = State();
        const ChildEnd whole = RunChild(work, 0);
        EXPECT_EQ(whole.exitCode, 0);
        const std::string newState = State();
        Outcomes o;
        for (int attempt = 0; attempt < 60 && o.insideWrite < 3 && !HasFailure(); ++attempt) {
            PutBack(oldBytes);
            // Spread over the whole run, golden-ratio steps so that no two tries repeat.
            const double frac =
                0.05 + 0.9 * (attempt * 0.6180339887 - static_cast<int>(attempt * 0.6180339887));
            const auto delay = std::chrono::microseconds(static_cast<long>(whole.seconds * frac * 1e6) + 1);
            RunChild(work, 0, delay);
            Check(oldState, newState, o);
        }
        PutBack(oldBytes);
        return o;
    }

    void Report(const char* what, const Outcomes& o) {
        std::printf("%s: %d kills, %d inside the write (rolled back), %d old, %d new\n", what, o.runs,
                    o.insideWrite, o.old, o.fresh);
    }

    void SetUp() override {
        // The installation id is made here, so that no later start writes it.
        { CFundDb first; }
        m_templateCodes = Rows("SELECT codel FROM fu_list ORDER BY idl;");
        WriteFeeds(m_templateCodes, "a", 3000);
        WriteFeeds(m_templateCodes, "b", 3000);
        ASSERT_EQ(ApplyFundListFile("list-a.tmp"), 1);
        ASSERT_EQ(ApplyNetValueFile("stk-a.tmp"), 1);
        ASSERT_EQ(ApplyEstimateFile("est-a.tmp"), 1);
        ASSERT_EQ(ExecSql("UPDATE fu_list SET look=-1 WHERE codel IN ('000001','300007');"), 0);
        AddHolding("000001", 1000, 500, "长期'持有");
    }

    ScopedTempDir m_dir;
    std::vector<std::string> m_templateCodes;
};

}  // namespace

TEST_F(CrashFixture, KilledAtAnyWriteOfAFeedLeavesOldOrNewData) {
    for (const auto& feed : FeedWorks("b")) {
        SCOPED_TRACE(feed.name);
        const Outcomes o = Sweep(feed.work, 40);
        Report(feed.name, o);
        EXPECT_GT(o.insideWrite, 10);
        if (HasFailure()) return;
    }
}

TEST_F(CrashFixture, KilledFromOutsideDuringAFeedLeavesOldOrNewData) {
    WriteFeeds(m_templateCodes, "c", 20000);
    for (const auto& feed : FeedWorks("c")) {
        SCOPED_TRACE(feed.name);
        const Outcomes o = KillFromOutside(feed.work);
        Report(feed.name, o);
        EXPECT_GE(o.insideWrite, 1) << "no kill landed inside the transaction";
        if (HasFailure()) return;
    }
}

TEST_F(CrashFixture, KilledDuringAnImportLeavesAllOrNoneOfItsHoldings) {
    WriteImportFile(20000);
    auto work = [] {
        CFundDb db;
        int added = 0;
        const int r = db.ImportHoldings("import.txt", &added);
        return r == 1 && added == 20000 ? 1 : -100;
    };
    const Outcomes swept = Sweep(work, 40);
    Report("import, at each write", swept);
    EXPECT_GT(swept.insideWrite, 10);
    const Outcomes outside = KillFromOutside(work);
    Report("import, from outside", outside);
    EXPECT_GE(outside.insideWrite, 1) << "no kill landed inside the transaction";
}

TEST_F(CrashFixture, KilledDuringTheRebuildOfAnOldFileLeavesTheOldFileOrTheNewOne) {
    WriteOldSchemaFile();
    const std::string oldBytes = ReadFileBytes("Zeza.db");
    auto rebuild = [] {
        CFundDb db;
        return db.Local().dbVer >= 0 ? 1 : -1;
    };
    // The complete rebuild, for comparison.
    const ChildEnd whole = RunChild(rebuild, 0);
    ASSERT_EQ(whole.exitCode, 0);
    const std::string newState = State();
    ASSERT_NE(newState.find("fu_count"), std::string::npos);
    ASSERT_EQ(QueryOne("SELECT COUNT(*) FROM fu_count;"), "400");
    PutBack(oldBytes);

    int staleJournals = 0;
    // After a crash that left the old file, the next start must finish the
    // rebuild, whatever the crash left beside it.
    auto checkKilled = [&](const std::string& where, int& old, int& fresh) {
        SCOPED_TRACE(where);
        EXPECT_FALSE(HotJournal()) << "the old file itself is never written";
        const bool wasOld = ReadFileBytes("Zeza.db") == oldBytes;
        // The half-built new file's own journal must not spoil the next try.
        staleJournals += HotJournal("Zeza.db.new");
        if (wasOld) {
            ++old;
            { CFundDb restart; }
        } else {
            ++fresh;
        }
        EXPECT_EQ(IntegrityCheck(), "ok");
        EXPECT_EQ(State(), newState);
        PutBack(oldBytes);
    };

    int old = 0, fresh = 0;
    for (const char* stage : {"template-written", "holdings-carried", "renamed"}) {
        const std::string target = stage;
        const ChildEnd end = RunChild(
            [target] {
                CFundDb::SetRebuildStageHookForTesting([target](const char* s) {
                    if (target == s) raise(SIGKILL);
                });
                CFundDb db;
                return 1;
            },
            0);
        EXPECT_TRUE(end.killed) << stage;
        checkKilled(std::string("at stage ") + stage, old, fresh);
    }
    EXPECT_EQ(old, 2);
    EXPECT_EQ(fresh, 1);

    // Killed before each change the rebuild makes to the new file.
    ASSERT_GT(whole.events, 3);
    int sweptOld = 0, sweptNew = 0;
    for (long k = 1; k <= whole.events && !HasFailure(); ++k) {
        const ChildEnd end = RunChild(rebuild, k);
        EXPECT_TRUE(end.killed);
        checkKilled("killed before change " + std::to_string(k), sweptOld, sweptNew);
    }
    std::printf(
        "rebuild: 3 kills at its stages, %ld kills at its writes (%d left the old file, %d the new; %d left "
        "a "
        "journal beside the unfinished new file)\n",
        whole.events, sweptOld, sweptNew, staleJournals);
    EXPECT_GT(sweptOld, 0);
}

TEST_F(CrashFixture, ADeletedDatabaseIsRemadeCleanWhateverACrashLeftBesideIt) {
    const std::string oldBytes = ReadFileBytes("Zeza.db");
    auto feed = [] { return ApplyFundListFile("list-b.tmp"); };
    const ChildEnd whole = RunChild(feed, 0);
    ASSERT_EQ(whole.exitCode, 0);
    // Killed right before it deletes its journal, the feed leaves that journal hot.
    for (long k = whole.events; k > 0 && !HotJournal(); --k) {
        WriteFileBytes("Zeza.db", oldBytes);
        RunChild(feed, k);
    }
    ASSERT_TRUE(HotJournal());
    // A file in WAL mode leaves its log and index beside it when its process dies.
    ASSERT_EQ(RunChild(
                  [] {
                      sqlite3* db = nullptr;  // left open: no checkpoint, no clean-up
                      sqlite3_open("other.db", &db);
                      sqlite3_exec(db,
                                   "PRAGMA page_size=1024; PRAGMA journal_mode=WAL; CREATE TABLE fu_list (x);"
                                   "INSERT INTO fu_list VALUES (1);",
                                   nullptr, nullptr, nullptr);
                      _exit(0);
                      return 1;
                  },
                  0)
                  .exitCode,
              0);
    std::filesystem::rename("other.db-wal", "Zeza.db-wal");
    std::filesystem::rename("other.db-shm", "Zeza.db-shm");

    // The user deletes only the database; the next start must not roll
    // another file's journal or log into the fresh template.
    std::filesystem::remove("Zeza.db");
    {
        CFundDb db;
        EXPECT_FALSE(db.TemplateWriteFailed());
    }
    EXPECT_EQ(IntegrityCheck(), "ok");
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_list;"), "281");
    const auto bytes = TemplateDatabaseBytes();
    const std::string file = ReadFileBytes("Zeza.db");
    EXPECT_TRUE(file == std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()))
        << "not the template: " << file.size() << " bytes";
    for (const char* leftover : {"Zeza.db-journal", "Zeza.db-wal", "Zeza.db-shm"})
        EXPECT_FALSE(std::filesystem::exists(leftover)) << leftover;
}

// The ledger beside Zeza.db: a confirmation writes both files in one transaction, so a kill at
// any write leaves both as they were or both as the confirmation made them.
TEST_F(CrashFixture, KilledDuringAConfirmationLeavesBothFilesOldOrBothNew) {
    const long long idc = std::stoll(QueryOne("SELECT MAX(idc) FROM fu_count;"));
    ASSERT_EQ(Ledger::StoreHistory("000001", "2024-03-06|1.0000|1.0000|\r\n"), 0);
    for (int i = 0; i < 150; ++i) {
        TradeInput buy;
        buy.holding = idc;
        buy.placed = "2024-03-07 10:" + std::string(i % 60 < 10 ? "0" : "") + std::to_string(i % 60);
        buy.amount = 10000 + i;
        ASSERT_EQ(Ledger::AddTrade(buy), 0);
    }
    ASSERT_EQ(Ledger::StoreHistory("000001", "2024-03-07|1.0123|1.0123|\r\n2024-03-08|1.0200|1.0200|\r\n"),
              0);

    auto state = [] {
        std::string out;
        for (const std::string& row : Rows("SELECT idc,codec,tcost,tcount FROM fu_count ORDER BY idc;"))
            out += row + "\n";
        sqlite3* db = nullptr;
        // Read-write: a hot journal left by the kill is rolled back (or found stale) on opening.
        sqlite3_open_v2(Ledger::kFileName, &db, SQLITE_OPEN_READWRITE, nullptr);
        auto dump = [&](const char* sql) {
            out += std::string(sql) + "\n";
            char** table = nullptr;
            int rows = 0, cols = 0;
            if (sqlite3_get_table(db, sql, &table, &rows, &cols, nullptr) != SQLITE_OK) out += "<failed>\n";
            for (int i = cols; i < (rows + 1) * cols; ++i)
                out += std::string(table[i] ? table[i] : "NULL") + "|";
            sqlite3_free_table(table);
        };
        dump("PRAGMA integrity_check;");
        dump("SELECT * FROM trade ORDER BY id;");
        dump("SELECT * FROM income ORDER BY day,holding;");
        sqlite3_close(db);
        return out;
    };
    const std::string files[] = {"Zeza.db", Ledger::kFileName};
    const std::string oldBytes[] = {ReadFileBytes(files[0]), ReadFileBytes(files[1])};
    auto putBack = [&] {
        for (const auto& entry : std::filesystem::directory_iterator("."))
            if (entry.path().filename().string().find(".db-") != std::string::npos)
                std::filesystem::remove(entry);
        for (int f = 0; f < 2; ++f) WriteFileBytes(files[f], oldBytes[f]);
    };
    const std::string oldState = state();
    auto confirm = [] { return Ledger::ConfirmAll("2024-03-08") == 0 ? 1 : -100; };
    const ChildEnd whole = RunChild(confirm, 0);
    ASSERT_EQ(whole.exitCode, 0);
    const std::string newState = state();
    ASSERT_NE(newState, oldState);
    ASSERT_GT(whole.events, 6);

    int old = 0, fresh = 0;
    for (long k = 1; k <= whole.events && !HasFailure(); k += std::max(1L, whole.events / 60)) {
        SCOPED_TRACE("killed before change " + std::to_string(k) + " of " + std::to_string(whole.events));
        putBack();
        EXPECT_TRUE(RunChild(confirm, k).killed);
        const std::string s = state();
        EXPECT_EQ(IntegrityCheck(), "ok");
        EXPECT_TRUE(s == oldState || s == newState) << "one file old and the other new";
        old += s == oldState;
        fresh += s == newState;
    }
    std::printf("confirmation, at each write: %d old, %d new\n", old, fresh);
    EXPECT_GT(old, 3);
}
