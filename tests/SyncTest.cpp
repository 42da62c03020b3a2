#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include <httplib.h>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "platform/ServerConfig.h"
#include "platform/UrlDownload.h"
#include "sync/AccuracyFeed.h"
#include "sync/MemoryFeeds.h"
#include "sync/TradingHours.h"
#include "tests/LocalHttpServer.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"

using namespace zeza;
using namespace zeza::test;

namespace {

constexpr const char* kControlPath = "/fund/fund.php";
constexpr const char* kFeedPath = "/fund/gdata.php";

std::string ControlText(int listTime, int stkTime, int estTime, const std::string& ver = "") {
    return ControlFile(listTime, stkTime, estTime).VerText(ver);
}

class Sync : public ::testing::Test {
  protected:
    void SetUp() override {
        m_server.Start();
        setenv("XDG_CACHE_HOME", m_dir.Path().c_str(), 1);
        SetServerBaseUrlForTesting(m_server.Base());
        CFundDb::SetLastControlFetchTimeForTesting(0);
        { CFundDb first; }  // writes the template
        m_db = std::make_unique<CFundDb>();
        ASSERT_EQ(m_db->Local().listTime, 1200417988);
        ASSERT_EQ(m_db->CacheFolder(), (m_dir.Path() / "zeza").string());
        // Feeds route by their tp parameter.
        m_server.Route(kFeedPath, [this](const httplib::Request& req, httplib::Response& res) {
            auto it = m_feeds.find(req.get_param_value("tp"));
            if (it == m_feeds.end()) {
                res.status = 404;
                return;
            }
            res.status = it->second.second;
            res.set_content(it->second.first, "text/plain");
        });
    }
    void TearDown() override {
        m_server.Stop();
        ResetCoreTestHooks();
        unsetenv("XDG_CACHE_HOME");
    }

    void Feed(const std::string& tp, const std::string& body, int status = 200) {
        m_feeds[tp] = {body, status};
    }
    std::string Cache(const std::string& name) const { return m_db->CacheFolder() + "/" + name; }
    std::string Url(const std::string& path) const { return m_server.Base() + path; }

    ScopedTempDir m_dir;
    LocalHttpServer m_server;
    // tp -> body and status; set before the requests, read by the server thread.
    std::map<std::string, std::pair<std::string, int>> m_feeds;
    std::unique_ptr<CFundDb> m_db;
};

}  // namespace

// --- transport ---

TEST_F(Sync, EveryDownloadReachesTheServerAndOverwritesTheFile) {
    const std::string path = Cache("x.tmp");
    m_server.Serve("/a.txt", "the first, longer answer");
    ASSERT_EQ(m_db->DownloadToFile(Url("a.txt"), path), 1);
    EXPECT_EQ(ReadFileBytes(path), "the first, longer answer");
    m_server.Serve("/a.txt", "second");
    ASSERT_EQ(m_db->DownloadToFile(Url("a.txt"), path), 1);
    EXPECT_EQ(ReadFileBytes(path), "second");
    m_server.Serve("/a.txt", "");
    ASSERT_EQ(m_db->DownloadToFile(Url("a.txt"), path), 1);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(ReadFileBytes(path), "");

    auto seen = m_server.Requests();
    ASSERT_EQ(seen.size(), 3u);
    for (const auto& s : seen) {
        EXPECT_EQ(s.target, "/a.txt");
        EXPECT_EQ(s.Header("Cache-Control"), "no-cache");
        EXPECT_EQ(s.Header("Pragma"), "no-cache");
    }
}

TEST_F(Sync, ErrorStatusOrNoServerIsAFailedDownloadWithNoFileLeft) {
    const std::string path = Cache("x.tmp");
    for (int status : {400, 403, 404, 500, 503}) {
        SCOPED_TRACE(status);
        WriteFileBytes(path, "earlier download");
        m_server.Serve("/e", "<html>error page</html>", "text/plain", status);
        EXPECT_EQ(m_db->DownloadToFile(Url("e"), path), 0);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    WriteFileBytes(path, "earlier download");
    EXPECT_EQ(m_db->DownloadToFile(Url("nothing/here"), path), 0);
    EXPECT_FALSE(std::filesystem::exists(path));

    // Nothing listens on port 1.
    EXPECT_EQ(m_db->DownloadToFile("http://127.0.0.1:1/fund/thanks.php", path), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    // Only HTTP is spoken.
    WriteFileBytes(Cache("secret"), "local file");
    EXPECT_EQ(m_db->DownloadToFile("file://" + Cache("secret"), path), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    // A file that cannot be written.
    m_server.Serve("/a", "body");
    EXPECT_EQ(m_db->DownloadToFile(Url("a"), Cache("no/such/folder/x.tmp")), 0);
}

TEST_F(Sync, RedirectsAreFollowedAtMostFiveTimes) {
    m_server.Route("/hop", [](const httplib::Request& req, httplib::Response& res) {
        int n = std::atoi(req.get_param_value("n").c_str());
        if (n == 0) {
            res.set_content("arrived", "text/plain");
        } else {
            res.set_redirect("/hop?n=" + std::to_string(n - 1));
        }
    });
    const std::string path = Cache("x.tmp");
    ASSERT_EQ(m_db->DownloadToFile(Url("hop?n=5"), path), 1);
    EXPECT_EQ(ReadFileBytes(path), "arrived");
    EXPECT_EQ(m_server.Requests().size(), 6u);
    EXPECT_EQ(m_db->DownloadToFile(Url("hop?n=6"), path), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(Sync, BodiesAboveTheSizeLimitAreRefused) {
    SetDownloadSizeLimitForTesting(1000);
    const std::string path = Cache("x.tmp");
    m_server.Serve("/fits", std::string(1000, 'a'));
    ASSERT_EQ(m_db->DownloadToFile(Url("fits"), path), 1);
    EXPECT_EQ(ReadFileBytes(path).size(), 1000u);

    m_server.Serve("/declared", std::string(1001, 'a'));
    EXPECT_EQ(m_db->DownloadToFile(Url("declared"), path), 0);
    EXPECT_FALSE(std::filesystem::exists(path));

    // Without a declared length the limit is found while writing.
    m_server.Route("/chunked", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
            if (offset >= 5000) {
                sink.done();
                return true;
            }
            std::string chunk(500, 'b');
            return sink.write(chunk.data(), chunk.size());
        });
    });
    EXPECT_EQ(m_db->DownloadToFile(Url("chunked"), path), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(Sync, ThanksIsSentAndAlwaysGivesZero) {
    m_server.Serve("/fund/thanks.php", "ok");
    EXPECT_EQ(m_db->SendThanks(), 0);
    EXPECT_EQ(m_server.Targets(), (std::vector<std::string>{"/fund/thanks.php"}));
    EXPECT_EQ(ReadFileBytes(Cache("~FUthanks.tmp")), "ok");
    m_server.Serve("/fund/thanks.php", "gone", "text/plain", 500);
    EXPECT_EQ(m_db->SendThanks(), 0);
    EXPECT_EQ(m_server.Requests().size(), 2u);
}

// --- control file ---

TEST_F(Sync, ControlFileIsRequestedWithTheIdAndReadByItsRules) {
    m_server.Serve(kControlPath,
                   "[fu]\r\nLISTTIME = 1300000000\r\nstkTime=12abc\r\nestTime=\"1300000200\"\r\n"
                   "[Ver]\r\nlastver=13\r\nUpdateVer=x\r\nUpdatePath=\"http://h/new/Zeza\"\r\n"
                   "UpdateSha256=0123abcd\r\n");
    ServerControl rec;
    rec.estTime = 5;
    rec.UpdateFu = 1;
    const int64_t before = std::time(nullptr);
    ASSERT_EQ(m_db->FetchControlFile(rec), 1);
    EXPECT_GE(CFundDb::LastControlFetchTime(), before);
    EXPECT_LE(CFundDb::LastControlFetchTime(), static_cast<int64_t>(std::time(nullptr)));
    EXPECT_EQ(rec.listTime, 1300000000);
    EXPECT_EQ(rec.stkTime, 12);
    EXPECT_EQ(rec.estTime, 1300000200) << "one pair of quotes around a value is not part of it";
    EXPECT_EQ(rec.LastVer, 13);
    EXPECT_EQ(rec.UpdateVer, 0);
    EXPECT_EQ(rec.UpdateFu, 0);
    EXPECT_EQ(rec.UpdatePath, "http://h/new/Zeza");
    EXPECT_EQ(rec.UpdateSha256, "0123abcd");
    // The object's own record is not touched by a fetch into another one.
    EXPECT_EQ(m_db->Server().listTime, 0);

    const std::string id = m_db->GetInstallId();
    ASSERT_EQ(id.size(), 36u);
    EXPECT_EQ(m_server.Targets(), (std::vector<std::string>{"/fund/fund.php?gid=" + id + "&ver=12"}));
    EXPECT_TRUE(std::filesystem::exists(Cache("~FUini.tmp")));

    // An object that could not read the settings row asks as "noguid".
    std::filesystem::remove("Zeza.db");
    CFundDb fresh;
    m_server.ForgetRequests();
    ASSERT_EQ(fresh.FetchControlFile(rec), 1);
    EXPECT_EQ(m_server.Targets(), (std::vector<std::string>{"/fund/fund.php?gid=noguid&ver=12"}));
}

TEST_F(Sync, UpdatePathThatDoesNotFitIsDroppedNotCut) {
    const std::string fits = "http://h/" + std::string(259 - 9, 'a');
    ServerControl rec;
    m_server.Serve(kControlPath, "[FU]\n[VER]\nUpdatePath=" + fits + "\n");
    ASSERT_EQ(m_db->FetchControlFile(rec), 1);
    EXPECT_EQ(rec.UpdatePath, fits);
    m_server.Serve(kControlPath, "[FU]\n[VER]\nUpdatePath=" + fits + "b\n");
    ASSERT_EQ(m_db->FetchControlFile(rec), 1);
    EXPECT_EQ(rec.UpdatePath, "");
}

TEST_F(Sync, AnswerWithoutTheFeedSectionIsNotAControlFile) {
    for (const std::string& body :
         {std::string("<html><body>Please log in to the hotel network</body></html>"),
          std::string("[VER]\nLastVer=13\nUpdateFu=1\nUpdateVer=13\n"), std::string()}) {
        SCOPED_TRACE(body);
        m_server.Serve(kControlPath, body);
        ServerControl rec;
        rec.listTime = 7;
        rec.UpdatePath = "x";
        EXPECT_EQ(m_db->FetchControlFile(rec), 0);
        EXPECT_EQ(rec.listTime, 0);
        EXPECT_EQ(rec.UpdatePath, "");
        EXPECT_EQ(m_db->CheckServer(), -1);
        EXPECT_EQ(CFundDb::LastControlFetchTime(), 0);
    }
    m_server.Serve(kControlPath, ControlText(1, 2, 3), "text/plain", 404);
    EXPECT_EQ(m_db->CheckServer(), -1);
    for (const auto& t : m_server.Targets()) EXPECT_EQ(t.rfind("/fund/fund.php?", 0), 0u) << t;
}

TEST_F(Sync, CheckServerDemandsAnUpdateOnlyWhenForcedToANewerVersion) {
    struct Case {
        const char* ver;
        int expected;
    };
    for (const Case& c : {Case{"UpdateFu=1\nUpdateVer=13\n", -2}, Case{"UpdateFu=1\nUpdateVer=12\n", 1},
                          Case{"UpdateFu=0\nUpdateVer=99\n", 1}, Case{"UpdateFu=-1\nUpdateVer=100\n", -2},
                          Case{"UpdateVer=13\n", 1}, Case{"LastVer=13\n", 1}}) {
        SCOPED_TRACE(c.ver);
        m_server.Serve(kControlPath, ControlText(1, 2, 3, c.ver));
        EXPECT_EQ(m_db->CheckServer(), c.expected);
        EXPECT_EQ(m_db->Server().estTime, 3);
    }
}

// --- sync plan ---

TEST_F(Sync, FeedRunsOnlyWhenTheServerTimeDiffersAndThenStoresIt) {
    m_server.Serve(kControlPath, ControlText(1200417988, 0, 0));
    ASSERT_EQ(m_db->CheckServer(), 1);
    EXPECT_EQ(m_db->SyncFeed(2), 1);
    EXPECT_EQ(m_db->SyncFeed(0), 1);
    EXPECT_EQ(m_db->SyncFeed(1), 1);
    EXPECT_EQ(m_server.Requests().size(), 1u) << "equal times must not download anything";

    m_server.Serve(kControlPath, ControlText(1300000000, 0, 0));
    Feed("list", G("700001|新基金|zhai\n"));
    ASSERT_EQ(m_db->CheckServer(), 1);
    m_server.ForgetRequests();
    ASSERT_EQ(m_db->SyncFeed(2), 1);
    EXPECT_EQ(m_server.Targets(), (std::vector<std::string>{"/fund/gdata.php?tp=list&dt=1200417988"}));
    EXPECT_EQ(m_db->Local().listTime, 1300000000);
    EXPECT_EQ(QueryOne("SELECT listTime FROM fu_iniLoc;"), "1300000000");
    EXPECT_EQ(QueryOne("SELECT type FROM fu_list WHERE codel='700001';"), G("债券型"));
    EXPECT_EQ(ReadFileBytes(Cache("~FUlist.tmp")), G("700001|新基金|zhai\n"));
    EXPECT_EQ(CFundDb().Local().listTime, 1300000000);

    // Stored, so the next pass asks nothing.
    EXPECT_EQ(m_db->SyncFeed(2), 1);
    EXPECT_EQ(m_server.Requests().size(), 1u);
}

TEST_F(Sync, FullPassSendsEachFeedItsLocalTime) {
    ASSERT_EQ(ExecSql("UPDATE fu_iniLoc SET stkTime=5, estTime=-7;"), 0);
    m_db = std::make_unique<CFundDb>();
    // An older server time is a change too.
    m_server.Serve(kControlPath, ControlText(1100000000, 1300000100, 1300000200));
    Feed("list", G("000001|华夏成长新|gu\n"));
    Feed("stk", "2008-11-14\r\n000001|3.1200|1.0560|1.0610\r\n000011|2.9800|1.2340|1.2300\r\n");
    Feed("est", "000001|1.0623\n000011|1.2345\n");

    ASSERT_EQ(m_db->CheckServer(), 1);
    EXPECT_EQ(m_db->SyncFeed(2), 1);
    EXPECT_EQ(m_db->SyncFeed(0), 1);
    EXPECT_EQ(m_db->SyncFeed(1), 1);
    const std::string id = m_db->GetInstallId();
    EXPECT_EQ(m_server.Targets(),
              (std::vector<std::string>{"/fund/fund.php?gid=" + id + "&ver=12",
                                        "/fund/gdata.php?tp=list&dt=1200417988",
                                        "/fund/gdata.php?tp=stk&dt=5", "/fund/gdata.php?tp=est&dt=-7"}));
    EXPECT_EQ(QueryOne("SELECT listTime||','||stkTime||','||estTime FROM fu_iniLoc;"),
              "1100000000,1300000100,1300000200");
    EXPECT_EQ(QueryOne("SELECT name||','||estval FROM fu_list WHERE codel='000001';"),
              G("华夏成长新") + ",1.0623");
    EXPECT_EQ(QueryOne("SELECT COUNT(*)||','||MAX(gdate) FROM fu_stk;"), "2,2008-11-14");
}

TEST_F(Sync, FailedFeedKeepsItsTimeAndItsData) {
    ASSERT_EQ(ExecSql("INSERT INTO fu_stk VALUES ('000001',1,1,1,'2008-11-13');"), 0);
    m_server.Serve(kControlPath, ControlText(1300000000, 1300000100, 1300000200));
    ASSERT_EQ(m_db->CheckServer(), 1);
    Feed("list", "gone", 404);
    Feed("stk", "<html>Internal error</html>\n000001|3.1200|1.0560|1.0610\n");
    Feed("est", "busy", 500);
    EXPECT_EQ(m_db->SyncFeed(2), -5);
    EXPECT_EQ(m_db->SyncFeed(0), -3);
    EXPECT_EQ(m_db->SyncFeed(1), -4);
    EXPECT_EQ(m_db->Local().listTime, 1200417988);
    EXPECT_EQ(m_db->Local().stkTime, 0);
    EXPECT_EQ(m_db->Local().estTime, 0);
    EXPECT_EQ(QueryOne("SELECT listTime||','||stkTime||','||estTime FROM fu_iniLoc;"), "1200417988,0,0");
    EXPECT_EQ(QueryOne("SELECT gdate FROM fu_stk;"), "2008-11-13");

    EXPECT_EQ(m_db->FetchFeed(*FindFeed(kFundListFeed)), -1);
    EXPECT_EQ(m_db->FetchFeed(*FindFeed(kNetValueFeed)), -7);
    EXPECT_EQ(m_db->FetchFeed(*FindFeed(kEstimateFeed)), -2);
    Feed("stk", "", 503);
    EXPECT_EQ(m_db->FetchFeed(*FindFeed(kNetValueFeed)), -2);
}

TEST_F(Sync, UnknownFeedKindIsRefusedWithoutARequest) {
    m_server.Serve(kControlPath, ControlText(1, 2, 3));
    ASSERT_EQ(m_db->CheckServer(), 1);
    m_server.ForgetRequests();
    EXPECT_EQ(m_db->SyncFeed(3), -2);
    EXPECT_EQ(m_db->SyncFeed(-1), -2);
    EXPECT_TRUE(m_server.Requests().empty());
}

TEST_F(Sync, ControlFileIsFetchedAgainWhenOlderThanAnHour) {
    m_server.Serve(kControlPath, ControlText(1200417988, 0, 0));
    ASSERT_EQ(m_db->CheckServer(), 1);
    const int64_t now = std::time(nullptr);

    // Recent enough: no refetch.
    CFundDb::SetLastControlFetchTimeForTesting(now - 3500);
    m_server.Serve(kControlPath, ControlText(1300000000, 0, 0));
    m_server.ForgetRequests();
    EXPECT_EQ(m_db->SyncFeed(2), 1);
    EXPECT_TRUE(m_server.Requests().empty());

    CFundDb::SetLastControlFetchTimeForTesting(now - 3601);
    Feed("list", "700001|abcdef|gu\n");
    EXPECT_EQ(m_db->SyncFeed(2), 1);
    const std::string id = m_db->GetInstallId();
    EXPECT_EQ(m_server.Targets(), (std::vector<std::string>{"/fund/fund.php?gid=" + id + "&ver=12",
                                                            "/fund/gdata.php?tp=list&dt=1200417988"}));
    EXPECT_GE(CFundDb::LastControlFetchTime(), now);
    EXPECT_EQ(m_db->Local().listTime, 1300000000);

    // A refetch that fails keeps the last good record: the feeds must not run
    // against cleared times (and store 0 as their time).
    CFundDb::SetLastControlFetchTimeForTesting(now - 3601);
    m_server.Serve(kControlPath, "down", "text/plain", 502);
    m_server.ForgetRequests();
    EXPECT_EQ(m_db->SyncFeed(2), 1);
    EXPECT_EQ(m_server.Targets(), (std::vector<std::string>{"/fund/fund.php?gid=" + id + "&ver=12"}));
    EXPECT_EQ(m_db->Server().listTime, 1300000000);
    EXPECT_EQ(m_db->Local().listTime, 1300000000);
    EXPECT_EQ(QueryOne("SELECT listTime FROM fu_iniLoc;"), "1300000000");
}

TEST_F(Sync, CacheFolderRemovedWhileRunningIsMadeAgain) {
    m_server.Serve(kControlPath, ControlText(1300000000, 0, 0));
    Feed("list", "700001|abcdef|gu\n");
    std::filesystem::remove_all(m_db->CacheFolder());
    ASSERT_EQ(m_db->CheckServer(), 1);
    EXPECT_EQ(m_db->Server().listTime, 1300000000);
    std::filesystem::remove_all(m_db->CacheFolder());
    EXPECT_EQ(m_db->SyncFeed(2), 1);
    EXPECT_EQ(ReadFileBytes(Cache("~FUlist.tmp")), "700001|abcdef|gu\n");
}

TEST_F(Sync, SaveUpdateTimeStoresTheValue) {
    EXPECT_EQ(m_db->SaveUpdateTime(1300003600), 1);
    EXPECT_EQ(QueryOne("SELECT updateTime FROM fu_iniLoc;"), "1300003600");
    EXPECT_EQ(m_db->Local().updateTime, 1300003600);
    EXPECT_EQ(m_db->SaveUpdateTime(-300), 1);
    EXPECT_EQ(QueryOne("SELECT updateTime FROM fu_iniLoc;"), "-300");
    std::filesystem::remove("Zeza.db");
    EXPECT_EQ(m_db->SaveUpdateTime(5), 0);
    EXPECT_FALSE(std::filesystem::exists("Zeza.db"));
}

// --- feeds kept in memory ---

// The source text of fund code in the accuracy feed's table ("-" when it has none).
std::string AccSource(const char* code) {
    const MemoryValue* v = TakeMemoryFeeds().Find("acc", code, kAccuracySource);
    return v && std::holds_alternative<std::string>(*v) ? std::get<std::string>(*v) : "-";
}

TEST_F(Sync, MemoryFeedIsAskedWholeAtTheFirstPassAndWhenItsTimeMoves) {
    const MemoryFeedDescriptor& acc = MemoryFeeds()[0];
    auto pass = [&](long long accTime) {
        m_server.Serve(kControlPath, ControlFile(1200417988, 0, 0).Fu("accTime", accTime));
        CFundDb::SetLastControlFetchTimeForTesting(0);
        EXPECT_EQ(m_db->CheckServer(), 1);
        m_server.ForgetRequests();
        return SyncMemoryFeed(*m_db, acc);
    };
    Feed("acc", G("000001|自算|0.31|20\r\n"));
    EXPECT_EQ(pass(1700000000), 1);
    EXPECT_EQ(m_server.Targets(), (std::vector<std::string>{"/fund/gdata.php?tp=acc&dt=0"}));
    EXPECT_EQ(AccSource("000001"), G("自算"));
    EXPECT_EQ(pass(1700000000), 1);
    EXPECT_TRUE(m_server.Targets().empty()) << "an unchanged time asks nothing";

    // A failed fetch keeps the values and their time, so the next pass asks again.
    for (auto [status, body, result] : {std::tuple{500, std::string("busy"), -1},
                                        std::tuple{200, std::string("<html>proxy notice</html>"), -2}}) {
        Feed("acc", body, status);
        EXPECT_EQ(pass(1700000100), result);
        EXPECT_EQ(AccSource("000001"), G("自算"));
        EXPECT_EQ(MemoryFeedTime("acc"), 1700000000);
    }
    Feed("acc", G("000001|公开|0.12|20\r\n"));
    const uint64_t generation = MemoryFeedGeneration();
    EXPECT_EQ(pass(1700000100), 1);
    EXPECT_EQ(m_server.Targets(), (std::vector<std::string>{"/fund/gdata.php?tp=acc&dt=0"}));
    EXPECT_EQ(AccSource("000001"), G("公开"));
    EXPECT_NE(MemoryFeedGeneration(), generation);
    // Nothing of it reaches Zeza.db.
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM pragma_table_info('fu_iniLoc') WHERE name='accTime';"), "0");
}

TEST_F(Sync, ServerWithoutAMemoryFeedTimeIsAskedNothing) {
    m_server.Serve(kControlPath, ControlText(1200417988, 0, 0));
    ASSERT_EQ(m_db->CheckServer(), 1);
    EXPECT_EQ(m_db->Server().accTime, 0);
    m_server.ForgetRequests();
    for (const MemoryFeedDescriptor& feed : MemoryFeeds()) EXPECT_EQ(SyncMemoryFeed(*m_db, feed), 0);
    EXPECT_TRUE(m_server.Requests().empty());
    EXPECT_EQ(AccSource("000001"), "-");
}

// --- the trading day's light pass ---

TEST(TradingHours, SessionEdgesInBeijingTimeWhateverTheMachinesZone) {
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "America/New_York", 1);
    tzset();
    // 2026-12-07 was a Monday; 00:00 Beijing is 16:00 UTC the day before.
    constexpr int64_t kMonday = 1796601600 - 8 * 3600;
    constexpr int64_t kSaturday = kMonday + 5 * 86400;
    auto at = [](int64_t day, int h, int m) { return day + h * 3600 + m * 60; };
    struct Case {
        int64_t t;
        bool inside;
        int64_t next;
    };
    for (const Case& c : {
             Case{at(kMonday, 9, 29), false, at(kMonday, 9, 30)},
             Case{at(kMonday, 9, 30), true, at(kMonday, 9, 32)},
             Case{at(kMonday, 11, 29), true, at(kMonday, 11, 30)},
             Case{at(kMonday, 11, 30), true, at(kMonday, 13, 0)},
             Case{at(kMonday, 11, 31), false, at(kMonday, 13, 0)},
             Case{at(kMonday, 12, 59), false, at(kMonday, 13, 0)},
             Case{at(kMonday, 13, 0), true, at(kMonday, 13, 2)},
             Case{at(kMonday, 15, 1) + 30, true, at(kMonday, 15, 2)},  // the close is seen
             Case{at(kMonday, 15, 2), true, at(kMonday + 86400, 9, 30)},
             Case{at(kMonday, 15, 3), false, at(kMonday + 86400, 9, 30)},
             Case{at(kSaturday, 10, 0), false, at(kSaturday + 2 * 86400, 9, 30)},
         }) {
        SCOPED_TRACE(c.t);
        EXPECT_EQ(IsTradingTime(c.t), c.inside);
        EXPECT_EQ(NextLightPass(c.t), c.next);
    }
    if (oldTz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST_F(Sync, LightPassAsksOnlyForWhatMovedAndNeverForAnUpdate) {
    Feed("est", "000001|1.2345\r\n");
    Feed("idx", G("sh000001|上证指数|3245.67|0.52|2026-12-07 14:30:00\r\n"));
    // A forced update on offer: a light pass does not ask about it.
    const std::string ver = "UpdateFu=1\nUpdateVer=99\n";
    auto pass = [&](int estTime, int idxTime) {
        m_server.Serve(kControlPath, ControlFile(1200417988, 0, estTime).Fu("idxTime", idxTime).VerText(ver));
        m_server.ForgetRequests();
        EXPECT_EQ(m_db->LightSync(), 1);
        std::vector<std::string> paths;
        for (const std::string& t : m_server.Targets())
            paths.push_back(t.starts_with(kControlPath) ? kControlPath : t.substr(0, t.find("&dt=")));
        return paths;
    };
    const std::string control = kControlPath;
    EXPECT_EQ(pass(5, 7),
              (std::vector<std::string>{control, "/fund/gdata.php?tp=est", "/fund/gdata.php?tp=idx"}));
    EXPECT_EQ(m_db->Local().estTime, 5);
    EXPECT_EQ(MemoryFeedTime("idx"), 7);
    EXPECT_EQ(pass(5, 7), std::vector<std::string>{control});
    EXPECT_EQ(pass(6, 7), (std::vector<std::string>{control, "/fund/gdata.php?tp=est"}));
    EXPECT_EQ(pass(6, 8), (std::vector<std::string>{control, "/fund/gdata.php?tp=idx"}));
    // The estimate track record waits for the hourly pass.
    m_server.Serve(kControlPath, ControlFile(1200417988, 0, 6).Fu("idxTime", 8).Fu("accTime", 9));
    m_server.ForgetRequests();
    EXPECT_EQ(m_db->LightSync(), 1);
    EXPECT_EQ(m_server.Requests().size(), 1u);

    // No control file: nothing else is asked, and the times stay.
    m_server.Serve(kControlPath, "busy", "text/plain", 503);
    m_server.ForgetRequests();
    EXPECT_EQ(m_db->LightSync(), -1);
    EXPECT_EQ(m_server.Requests().size(), 1u);
    EXPECT_EQ(m_db->Server().estTime, 6);
    // A failed estimate feed is the pass's failure; a failed index feed is not.
    m_server.Serve(kControlPath, ControlFile(1200417988, 0, 10).Fu("idxTime", 11));
    Feed("est", "busy", 500);
    Feed("idx", "busy", 500);
    EXPECT_EQ(m_db->LightSync(), -4);
    Feed("est", "000001|1.3000\r\n");
    EXPECT_EQ(m_db->LightSync(), 1);
    EXPECT_EQ(MemoryFeedTime("idx"), 8);
}
