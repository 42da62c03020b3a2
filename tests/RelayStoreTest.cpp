// relay.db: the record kept until the nightly trim, the latest days read at the start, and a
// file of the first layout opened with its data.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "server/relay/RelayStore.h"
#include "tests/TestSupport.h"

using namespace zeza::relay;
using namespace zeza::test;

namespace {

using Rows = std::vector<std::pair<std::string, TrackDay>>;

// The nth day of the record, yyyy-mm-dd (n < 100, all in one run of months).
std::string Day(int n) {
    static const int kMonthDays[] = {31, 28, 31, 30};
    int month = 0;
    while (n >= kMonthDays[month]) n -= kMonthDays[month++];
    char buf[16];
    std::snprintf(buf, sizeof(buf), "2026-%02d-%02d", month + 1, n + 1);
    return buf;
}

class RelayStoreTest : public ::testing::Test {
  protected:
    std::filesystem::path File() const { return m_tmp.Path() / "relay.db"; }

    void Open() {
        m_store = std::make_unique<RelayStore>();
        std::string error;
        ASSERT_TRUE(m_store->Open(File(), error)) << error;
    }
    void Save(const Rows& rows) {
        std::string error;
        ASSERT_TRUE(m_store->SaveTrack(rows, error)) << error;
    }
    Snapshot Load() {
        Snapshot s;
        RunTimes runs;
        std::string error;
        EXPECT_TRUE(m_store->Load(s, runs, error)) << error;
        return s;
    }
    static std::vector<std::string> Days(const Snapshot& s, const std::string& code) {
        std::vector<std::string> days;
        auto t = s.own->tracks.find(code);
        if (t != s.own->tracks.end())
            for (const TrackDay& d : *t->second) days.push_back(d.day);
        return days;
    }
    // A statement on the file beside the store's connection, for what the store does not show.
    void Sql(const std::string& sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(File().c_str(), &db), SQLITE_OK);
        char* msg = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg), SQLITE_OK) << (msg ? msg : "");
        sqlite3_free(msg);
        sqlite3_close(db);
    }
    double Number(const std::string& sql) {
        sqlite3* db = nullptr;
        sqlite3_stmt* q = nullptr;
        double v = -1e9;
        if (sqlite3_open(File().c_str(), &db) == SQLITE_OK &&
            sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr) == SQLITE_OK &&
            sqlite3_step(q) == SQLITE_ROW)
            v = sqlite3_column_double(q, 0);
        sqlite3_finalize(q);
        sqlite3_close(db);
        return v;
    }

    ScopedTempDir m_tmp;
    std::unique_ptr<RelayStore> m_store;
};

TEST_F(RelayStoreTest, SavesKeepOlderDaysUntilTheTrimWhichDropsExactlyTheDaysBefore) {
    Open();
    for (int n = 0; n < 5; ++n) Save({{"000001", {Day(n), 1.0 + n, false, 1.01 + n}}});
    // A later round of the same day replaces its row.
    Save({{"000001", {Day(4), 7.5, true, 0}}});
    EXPECT_EQ(Days(Load(), "000001"), (std::vector<std::string>{Day(0), Day(1), Day(2), Day(3), Day(4)}));

    std::string error;
    ASSERT_TRUE(m_store->PruneTrack(Day(2), error)) << error;
    const Snapshot s = Load();
    EXPECT_EQ(Days(s, "000001"), (std::vector<std::string>{Day(2), Day(3), Day(4)}));
    const TrackDay& last = s.own->tracks.at("000001")->back();
    EXPECT_EQ(last.estimate, 7.5);
    EXPECT_TRUE(last.publicEstimate);
    EXPECT_EQ(last.nav, 0);

    // The fetch log grows with each fetch and is cut to the latest 2,000 by the trim.
    Sql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2005)"
        " INSERT INTO fetch_log(at,source,status,bytes,rows,ok,message) SELECT i,'s',200,0,0,1,'' FROM n;");
    m_store->Log(2006, "quotes", 200, 10, 1, true, "");
    EXPECT_EQ(Number("SELECT COUNT(*) FROM fetch_log;"), 2006);
    ASSERT_TRUE(m_store->PruneTrack(Day(3), error)) << error;
    EXPECT_EQ(Number("SELECT COUNT(*) FROM fetch_log;"), 2000);
    EXPECT_EQ(Number("SELECT MIN(at) FROM fetch_log;"), 7);
    EXPECT_EQ(Days(Load(), "000001"), (std::vector<std::string>{Day(3), Day(4)}));
}

TEST_F(RelayStoreTest, TheStartReadsTheLatestSixtyDaysOfEachFundInOrder) {
    Open();
    // 000001 every day of 70; 000002 on days 5, 20 and 69 only; saved in one call, newest first.
    Rows rows;
    for (int n = 69; n >= 0; --n) {
        rows.push_back({"000001", {Day(n), 1.0 + n / 100.0, n % 2 == 0, 1.0 + n / 50.0}});
        if (n == 5 || n == 20 || n == 69) rows.push_back({"000002", {Day(n), 2.0, false, 0}});
    }
    Save(rows);
    Open();  // as at a restart
    const Snapshot s = Load();
    ASSERT_EQ(kTrackDays, 60u);
    std::vector<std::string> want;
    for (int n = 10; n < 70; ++n) want.push_back(Day(n));
    EXPECT_EQ(Days(s, "000001"), want);
    const TrackDay& d = s.own->tracks.at("000001")->front();
    EXPECT_EQ(d.estimate, 1.10);
    EXPECT_TRUE(d.publicEstimate);
    EXPECT_EQ(d.nav, 1.20);
    // A fund's days older than the record's latest 60 stay on disk only.
    EXPECT_EQ(Days(s, "000002"), (std::vector<std::string>{Day(20), Day(69)}));
    EXPECT_EQ(Number("SELECT COUNT(*) FROM track;"), 73);
}

TEST_F(RelayStoreTest, AFileOfTheFirstLayoutOpensWithItsData) {
    Sql("CREATE TABLE funds(code TEXT PRIMARY KEY, name BLOB NOT NULL, type TEXT NOT NULL,"
        " changed INTEGER NOT NULL);"
        "CREATE TABLE navs(code TEXT PRIMARY KEY, date TEXT NOT NULL, acc REAL, latest REAL, previous REAL);"
        "CREATE TABLE estimates(code TEXT PRIMARY KEY, value REAL NOT NULL);"
        "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
        "CREATE TABLE fetch_log(at INTEGER, source TEXT, status INTEGER, bytes INTEGER, rows INTEGER, ok "
        "INTEGER,"
        " message TEXT);"
        "CREATE TABLE holdings(code TEXT PRIMARY KEY, report TEXT NOT NULL, equity REAL NOT NULL,"
        " equity_date TEXT, fetched INTEGER NOT NULL, stocks TEXT NOT NULL);"
        "CREATE TABLE track(code TEXT NOT NULL, day TEXT NOT NULL, estimate REAL, public INTEGER, nav REAL,"
        " error REAL, PRIMARY KEY(code, day));"
        "INSERT INTO funds VALUES('000001','fund','hun',1787300000);"
        "INSERT INTO navs VALUES('000001','2026-03-02',3.1,1.211,1.205);"
        "INSERT INTO meta VALUES('quoteDate','2026-03-02');"
        "INSERT INTO holdings VALUES('000001','2025-12-31',90,'2025-12-31',1787000000,"
        " 'sh600519\t600519\t8.5\tshare one\n');"
        "INSERT INTO track VALUES('000001','2026-03-02',1.2134,0,1.211,0.19);"
        "INSERT INTO track VALUES('000001','2026-02-27',1.2,NULL,NULL,NULL);"
        "INSERT INTO track VALUES('000002','2026-03-02',NULL,1,2.5,NULL);");
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        Open();
        const Snapshot s = Load();
        ASSERT_NE(s.FindNav("000001"), nullptr);
        EXPECT_EQ(s.FindNav("000001")->latest, 1.211);
        EXPECT_EQ(s.quoteDate, "2026-03-02");
        ASSERT_EQ(s.own->holdings.count("000001"), 1u);
        EXPECT_EQ(s.own->holdings.at("000001").stocks.at(0).name, "share one");
        EXPECT_EQ(Days(s, "000001"), (std::vector<std::string>{"2026-02-27", "2026-03-02"}));
        EXPECT_EQ(s.own->tracks.at("000001")->back().estimate, 1.2134);
        EXPECT_TRUE(s.own->tracks.at("000002")->back().publicEstimate);
        EXPECT_EQ(s.own->tracks.at("000002")->back().nav, 2.5);
    }
    EXPECT_EQ(Number("PRAGMA user_version;"), 1);
    // The error is still there to be read, from the day's estimate and NAV.
    EXPECT_NEAR(Number("SELECT error FROM track WHERE code='000001' AND day='2026-03-02';"),
                (1.2134 / 1.211 - 1) * 100, 1e-12);
    EXPECT_EQ(Number("SELECT COUNT(error) FROM track;"), 1);
    // And the record goes on in the new layout.
    Save({{"000001", {"2026-03-02", 1.22, false, 1.211}}, {"000001", {"2026-03-03", 1.23, false, 0}}});
    EXPECT_EQ(Days(Load(), "000001"), (std::vector<std::string>{"2026-02-27", "2026-03-02", "2026-03-03"}));
    EXPECT_EQ(Load().own->tracks.at("000001")->at(1).estimate, 1.22);
}

}  // namespace
