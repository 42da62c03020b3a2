#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <sqlite3.h>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "resources/TemplateDatabase.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"

using namespace zeza;
using namespace zeza::test;

namespace {

std::string TemplateBytes() {
    auto b = TemplateDatabaseBytes();
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

int OpenFdCount() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

// A file in the old layout: holdings live in fu_list, flagged by take.
void MakeOldSchemaFile(bool withTake) {
    std::string sql = OldLayoutSchema(withTake, "secret");
    if (withTake) {
        sql +=
            "INSERT INTO fu_list (codel,name,type,tcost,tcount,remark,take) VALUES "
            "('000001','a','b',1000.5,800,'first',1),"
            "('000011','a','b',0,0,NULL,0),"
            "('110003','a','b',2000,1500.25,'it''s mine',-1);";
    } else {
        sql += "INSERT INTO fu_list (codel,name,type,tcost,tcount,remark) VALUES ('000001','a','b',1,1,'x');";
    }
    ASSERT_EQ(ExecIn("Zeza.db", sql), SQLITE_OK);
}

}  // namespace

TEST(FundDbProvisioning, FirstStartWritesTheTemplateAndSecondCreatesTheId) {
    ScopedTempDir dir;
    {
        CFundDb db;
        EXPECT_FALSE(db.TemplateWriteFailed());
        // The object that created the file did not read it: its id is still the default.
        EXPECT_EQ(db.GetInstallId(), "noguid");
    }
    EXPECT_EQ(ReadFileBytes("Zeza.db"), TemplateBytes());

    CFundDb second;
    EXPECT_EQ(second.Local().dbVer, 3);
    EXPECT_EQ(second.Local().listTime, 1200417988);
    const std::string id = second.GetInstallId();
    ASSERT_EQ(id.size(), 36u);
    for (char c : id) EXPECT_TRUE(c == '-' || std::isdigit(c) || (c >= 'A' && c <= 'F')) << id;
    EXPECT_EQ(QueryOne("SELECT guid FROM fu_iniLoc;"), id);

    // Stable from then on.
    CFundDb third;
    EXPECT_EQ(third.GetInstallId(), id);
    // No temporary files left beside the database.
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path())) files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

TEST(FundDbProvisioning, ShortIdsAreReplacedTenCharactersKept) {
    ScopedTempDir dir;
    ASSERT_EQ(CFundDb::WriteTemplateDatabase(), 1);
    ASSERT_EQ(ExecSql("UPDATE fu_iniLoc SET guid=?;", {std::string("123456789")}), 0);
    CFundDb a;
    EXPECT_EQ(a.GetInstallId().size(), 36u);

    ASSERT_EQ(ExecSql("UPDATE fu_iniLoc SET guid=?;", {std::string("0123456789")}), 0);
    CFundDb b;
    EXPECT_EQ(b.GetInstallId(), "0123456789");

    ASSERT_EQ(ExecSql("UPDATE fu_iniLoc SET guid=NULL;"), 0);
    CFundDb c;
    EXPECT_EQ(c.GetInstallId().size(), 36u);
}

TEST(FundDbProvisioning, EmptyFileIsReplacedByTheTemplate) {
    ScopedTempDir dir;
    zeza::test::WriteFileBytes("Zeza.db", "");
    CFundDb db;
    EXPECT_EQ(ReadFileBytes("Zeza.db"), TemplateBytes());
}

TEST(FundDbProvisioning, UnwritableFolderIsReportedNotHalfWritten) {
    if (geteuid() == 0) GTEST_SKIP() << "root can write anywhere";
    ScopedTempDir dir;
    chmod(dir.Path().c_str(), 0555);
    CFundDb db;
    chmod(dir.Path().c_str(), 0755);
    EXPECT_TRUE(db.TemplateWriteFailed());
    EXPECT_FALSE(std::filesystem::exists("Zeza.db"));
}

TEST(FundDbProvisioning, TemplateThatCannotBeRenamedIntoPlaceFails) {
    // A folder named Zeza.db makes the final rename fail even for root.
    ScopedTempDir dir;
    std::filesystem::create_directory("Zeza.db");
    EXPECT_EQ(CFundDb::WriteTemplateDatabase(), 0);
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path())) files += e.is_regular_file();
    EXPECT_EQ(files, 0) << "a temporary file was left behind";
}

TEST(FundDbRebuild, OldFileKeepsExactlyItsFlaggedHoldings) {
    ScopedTempDir dir;
    MakeOldSchemaFile(true);
    CFundDb db;
    // The object that rebuilt read the old row, whose layout lacks the newer
    // columns, so its in-memory state stayed at the defaults.
    EXPECT_EQ(db.Local().dbVer, 0);

    EXPECT_EQ(
        Rows("SELECT codec,tcost,tcount,remark,typeof(tcost) FROM fu_count ORDER BY idc;"),
        (std::vector<std::string>{"000001|1000.5|800.0|first|real", "110003|2000.0|1500.25|it's mine|real"}));

    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_list;"), "281");
    EXPECT_EQ(QueryOne("SELECT pwd FROM fu_iniLoc;"), "");
    EXPECT_EQ(QueryOne("SELECT dbVer FROM fu_iniLoc;"), "3");
    EXPECT_FALSE(std::filesystem::exists("Zeza.db.new"));

    CFundDb next;
    EXPECT_EQ(next.Local().dbVer, 3);
    EXPECT_EQ(next.GetInstallId().size(), 36u);
}

TEST(FundDbRebuild, OldFileWithoutTakeColumnIsLeftUntouched) {
    ScopedTempDir dir;
    MakeOldSchemaFile(false);
    const std::string before = ReadFileBytes("Zeza.db");
    CFundDb db;
    EXPECT_EQ(db.EnsureDatabase(), 0);
    EXPECT_EQ(ReadFileBytes("Zeza.db"), before);
}

TEST(FundDbRebuild, AHoldingThatCannotBeCarriedOverKeepsTheOldFile) {
    ScopedTempDir dir;
    MakeOldSchemaFile(true);
    const std::string before = ReadFileBytes("Zeza.db");
    // The half-built new file refuses the second holding.
    CFundDb::SetRebuildStageHookForTesting([](const char* stage) {
        if (std::string(stage) != "template-written") return;
        ExecIn("Zeza.db.new",
               "CREATE TRIGGER refuse BEFORE INSERT ON fu_count WHEN NEW.codec='110003'"
               " BEGIN SELECT RAISE(ABORT,'refused'); END;");
    });
    CFundDb db;
    const int again = db.EnsureDatabase();
    CFundDb::SetRebuildStageHookForTesting(nullptr);
    EXPECT_EQ(again, 0);
    EXPECT_EQ(ReadFileBytes("Zeza.db"), before);
    EXPECT_FALSE(std::filesystem::exists("Zeza.db.new"));

    // Without the fault the next start carries both holdings over.
    CFundDb next;
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_count;"), "2");
}

TEST(FundDbAccess, ExecSqlResultsAndNoLeakedHandles) {
    ScopedTempDir dir;
    // No database: -1, and no empty file is created by the attempt.
    EXPECT_EQ(ExecSql("UPDATE fu_iniLoc SET pwd='';"), -1);
    EXPECT_FALSE(std::filesystem::exists("Zeza.db"));

    ASSERT_EQ(CFundDb::WriteTemplateDatabase(), 1);
    const int fds = OpenFdCount();
    EXPECT_EQ(ExecSql("DELETE FROM no_such_table;"), -2);
    EXPECT_EQ(OpenFdCount(), fds);
    EXPECT_EQ(ExecSql("UPDATE fu_iniLoc SET pwd=?;", {std::string("a'b")}), 0);
    EXPECT_EQ(OpenFdCount(), fds);
    QueryTable t;
    EXPECT_EQ(QuerySql("SELECT nothing FROM nowhere;", {}, t), -2);
    EXPECT_EQ(OpenFdCount(), fds);
}

TEST(FundDbAccess, WriteWaitsForTheOtherThreadsTransaction) {
    ScopedTempDir dir;
    ASSERT_EQ(CFundDb::WriteTemplateDatabase(), 1);
    SqliteConnection feed;
    ASSERT_TRUE(feed.Open());
    ASSERT_EQ(feed.Exec("BEGIN IMMEDIATE;"), SQLITE_OK);
    ASSERT_EQ(feed.Exec("DELETE FROM fu_stk;"), SQLITE_OK);
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(feed.Exec("COMMIT;"), SQLITE_OK);
    });
    // Without a busy timeout this would fail at once with "database is locked".
    EXPECT_EQ(ExecSql("UPDATE fu_list SET look=? WHERE codel=?;", {-1LL, std::string("000001")}), 0);
    releaser.join();
    EXPECT_EQ(QueryOne("SELECT look FROM fu_list WHERE codel='000001';"), "-1");
}

TEST(FundDbPassword, StoredExactlyAndReadBack) {
    ScopedTempDir dir;
    CFundDb db;
    EXPECT_EQ(db.ReadPassword(), "");
    const std::string pwd = G("密码'; DROP TABLE fu_count;--");
    ASSERT_EQ(ExecSql("UPDATE fu_iniLoc SET pwd=?", {pwd}), 0);
    EXPECT_EQ(db.ReadPassword(), pwd);
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_count;"), "0");
    ASSERT_EQ(ExecSql("UPDATE fu_iniLoc SET pwd=NULL"), 0);
    EXPECT_EQ(db.ReadPassword(), "");
    std::filesystem::remove("Zeza.db");
    EXPECT_EQ(db.ReadPassword(), "");
}

TEST(FundDbDates, TodayWhenEmptyAndNewestFirstOtherwise) {
    ScopedTempDir dir;
    CFundDb db;
    std::vector<std::string> dates;
    ASSERT_EQ(db.GetQuoteDates(dates), 1);
    ASSERT_EQ(dates.size(), 1u);
    std::time_t now = std::time(nullptr);
    std::tm lt{};
    localtime_r(&now, &lt);
    char today[32];
    std::snprintf(today, sizeof today, "%d-%02d-%d", lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday);
    EXPECT_EQ(dates[0], today);

    ASSERT_EQ(
        ExecSql("INSERT INTO fu_stk VALUES ('000001',1,1,1,'2008-11-14'),('000011',1,1,1,'2008-11-14');"), 0);
    dates = {"2008-11-13"};
    ASSERT_EQ(db.GetQuoteDates(dates), 1);
    EXPECT_EQ(dates, (std::vector<std::string>{"2008-11-14", "2008-11-13"}));

    ASSERT_EQ(ExecSql("INSERT INTO fu_stk VALUES ('000021',1,1,1,'2008-11-12');"), 0);
    dates.clear();
    ASSERT_EQ(db.GetQuoteDates(dates), 1);
    EXPECT_EQ(dates, (std::vector<std::string>{"2008-11-14", "2008-11-12"}));

    std::filesystem::remove("Zeza.db");
    dates = {"x"};
    EXPECT_EQ(db.GetQuoteDates(dates), 0);
    EXPECT_EQ(dates, (std::vector<std::string>{"x"}));
}

TEST(FundDbTotals, SumsOverHoldingsWithNetValues) {
    ScopedTempDir dir;
    CFundDb db;
    double v = -1, p = -1, e = -1, c = -1;
    ASSERT_EQ(db.GetPortfolioTotals(v, p, e, c), 1);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(c, 0);

    ASSERT_EQ(
        ExecSql(
            "INSERT INTO fu_stk VALUES ('000001',3.0,1.2,1.0,'2008-11-14'),('000011',2,2.0,2.5,'2008-11-14');"
            "UPDATE fu_list SET estval=1.5 WHERE codel='000001';"
            "INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES ('000001',100,100,''),"
            "('000001',60,50,''),('000011',10,10,''),"
            "('999999',1000,1000,'no catalogue row'),('000021',500,5,'no net value');"),
        0);
    ASSERT_EQ(db.GetPortfolioTotals(v, p, e, c), 1);
    EXPECT_DOUBLE_EQ(v, 150 * 1.2 + 10 * 2.0);
    EXPECT_DOUBLE_EQ(p, 150 * 1.0 + 10 * 2.5);
    EXPECT_DOUBLE_EQ(e, 150 * 1.5);  // the fund without an estimate adds 0
    EXPECT_DOUBLE_EQ(c, 170);        // holdings without a net value or catalogue row do not count

    std::filesystem::remove("Zeza.db");
    v = 7;
    EXPECT_EQ(db.GetPortfolioTotals(v, p, e, c), 0);
    EXPECT_EQ(v, 7);
}

TEST(FundDbHoldings, ReadHoldingGivesTheFieldsAsStored) {
    ScopedTempDir dir;
    { CFundDb provision; }
    AddHolding(7, "000001", 1000.123456789, 900.5, "定投 it's");
    Exec("INSERT INTO fu_count (idc,codec,tcost,tcount,remark) VALUES (8,'000011',NULL,NULL,NULL)");
    struct Case {
        long long idc;
        int result;
        std::string code;
        double cost, units;
        std::string remark;
    };
    const std::string untouched = "before";
    for (const Case& c : {Case{7, 1, "000001", 1000.123456789, 900.5, G("定投 it's")},
                          Case{8, 1, "000011", 0, 0, ""}, Case{9, 0, untouched, -1, -1, untouched}}) {
        std::string code = untouched;
        std::string remark = untouched;
        double cost = -1;
        double units = -1;
        EXPECT_EQ(CFundDb::ReadHolding(c.idc, code, cost, units, remark), c.result) << c.idc;
        EXPECT_EQ(code, c.code) << c.idc;
        EXPECT_EQ(cost, c.cost) << c.idc;
        EXPECT_EQ(units, c.units) << c.idc;
        EXPECT_EQ(remark, c.remark) << c.idc;
    }

    std::string code;
    std::string remark;
    double cost = 0;
    double units = 0;
    ASSERT_TRUE(Exec("ALTER TABLE fu_count RENAME TO gone"));
    EXPECT_EQ(CFundDb::ReadHolding(7, code, cost, units, remark), -2);
    std::filesystem::remove("Zeza.db");
    EXPECT_EQ(CFundDb::ReadHolding(7, code, cost, units, remark), -1);
    EXPECT_EQ(code, "");
}

TEST(FundDbTimes, EstimateTimeTextInLocalTime) {
    ScopedTempDir dir;
    ASSERT_EQ(CFundDb::WriteTemplateDatabase(), 1);
    // 2008-11-17 14:30:05 in China (UTC+8) is 06:30:05 UTC.
    ASSERT_EQ(ExecSql("UPDATE fu_iniLoc SET estTime=1226903405;"), 0);
    const char* oldTz = std::getenv("TZ");
    std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "CST-8", 1);
    tzset();
    CFundDb db;
    EXPECT_EQ(db.GetEstimateTimeText(), G("预估净值更新时间：2008-11-17 14:30:05"));
    // No estimates yet: no time at all rather than the first second of 1970.
    ASSERT_EQ(ExecSql("UPDATE fu_iniLoc SET estTime=0;"), 0);
    EXPECT_EQ(CFundDb().GetEstimateTimeText(), G("预估净值更新时间：暂无"));
    if (oldTz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
