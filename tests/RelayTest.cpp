// The relay of public fund data against a fake upstream on 127.0.0.1 that serves
// fixtures in the sources' shapes (tests/relay-fixtures) or misbehaves on request.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

#include "server/DataServer.h"
#include "server/relay/JsReader.h"
#include "server/relay/Relay.h"
#include "server/relay/Schedule.h"
#include "server/relay/Snapshot.h"
#include "tests/LocalHttpServer.h"
#include "tests/TestDataServer.h"
#include "tests/TestSupport.h"

using namespace zeza::relay;
using namespace zeza::test;

namespace {

const std::filesystem::path kFixtures = ZEZA_RELAY_FIXTURES;

enum class Mode { Good, Empty, Html, Moved, CutOff, Huge, Slow };

// The public endpoints, each answering its fixture or a fault.
class FakeUpstream {
  public:
    FakeUpstream() {
        Serve("/js/fundcode_search.js", "fundcode_search.js", "application/javascript");
        Serve("/Data/Fund_JJJZ_Data.aspx", "Fund_JJJZ_Data.aspx", "text/plain");
        Serve("/FundMNewApi/FundMNFInfo", "FundMNFInfo.json", "application/json");
        Serve("/mm/newCore/FundValuationLast", "FundValuationLast.json", "application/json");
        Serve("/pingzhongdata/000001.js", "pingzhong-navhist.js", "application/javascript");
        m_http.Start();
    }
    ~FakeUpstream() { m_http.Stop(); }

    void Set(const std::string& path, Mode mode, std::string body = "") {
        std::lock_guard lock(m_mutex);
        m_mode[path] = mode;
        if (!body.empty()) m_body[path] = std::move(body);
    }
    // Header name of the last request for path.
    std::string Header(const std::string& path, const std::string& name) {
        const auto seen = m_http.Requests();
        for (auto it = seen.rbegin(); it != seen.rend(); ++it)
            if (it->path == path) return it->Header(name);
        return "";
    }
    std::string Url(const std::string& path) const { return m_http.Base() + path.substr(1); }
    size_t Count(const std::string& path) const {
        const auto seen = m_http.Requests();
        return std::count_if(seen.begin(), seen.end(), [&](const auto& r) { return r.path == path; });
    }

  private:
    void Serve(const std::string& path, const std::string& file, const std::string& type) {
        m_body[path] = ReadFileBytes(kFixtures / file);
        m_mode[path] = Mode::Good;
        m_http.Route(path, [this, path, type](const httplib::Request&, httplib::Response& res) {
            Mode mode;
            std::string body;
            {
                std::lock_guard lock(m_mutex);
                mode = m_mode[path];
                body = m_body[path];
            }
            switch (mode) {
                case Mode::Good:
                    res.set_content(body, type);
                    break;
                case Mode::Empty:
                    res.set_content("", type);
                    break;
                case Mode::Html:
                    res.set_content("<!DOCTYPE html><html><body>404</body></html>", type);
                    break;
                case Mode::Moved:
                    res.status = 301;
                    res.set_header("Location", "/notfound.html");
                    break;
                case Mode::CutOff:
                    // Declares the whole body, sends half of it and hangs up.
                    res.set_content_provider(body.size(), type,
                                             [body](size_t, size_t, httplib::DataSink& sink) {
                                                 sink.write(body.data(), body.size() / 2);
                                                 return false;
                                             });
                    break;
                case Mode::Huge:
                    res.set_content(std::string(3u << 20, 'x'), type);
                    break;
                case Mode::Slow:
                    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
                    res.set_content(body, type);
                    break;
            }
        });
    }

    zeza::test::LocalHttpServer m_http;
    std::mutex m_mutex;
    std::map<std::string, Mode> m_mode;
    std::map<std::string, std::string> m_body;
};

const char* kCatalogue = "/js/fundcode_search.js";
const char* kNavPage = "/Data/Fund_JJJZ_Data.aspx";
const char* kFundInfo = "/FundMNewApi/FundMNFInfo";
const char* kValuation = "/mm/newCore/FundValuationLast";

class RelayTest : public ::testing::Test {
  protected:
    RelayOptions Options() {
        RelayOptions o;
        o.dataDir = m_tmp.Path() / "data";
        o.catalogueUrl = m_up.Url(kCatalogue);
        o.netValueUrl = m_up.Url(kNavPage) + "?t=1&lx=1&page=1,50000";
        o.fundInfoUrl = m_up.Url(kFundInfo);
        o.estimateUrl = m_up.Url(kValuation);
        o.positionUrl = m_up.Url("/pingzhongdata/");
        o.fetch.minIntervalMs = 0;
        o.fetch.backoffFirstMs = 0;
        o.fetch.totalTimeoutMs = 500;
        o.fetch.maxBytes = 1u << 20;
        o.clock = [this] { return m_now.load(); };
        return o;
    }
    std::unique_ptr<Relay> OpenRelay() {
        auto relay = std::make_unique<Relay>(Options());
        std::string error;
        EXPECT_TRUE(relay->Open(error)) << error;
        return relay;
    }
    void FillAll(Relay& relay) {
        std::string why;
        ASSERT_TRUE(relay.RefreshCatalogue(&why)) << why;
        ASSERT_TRUE(relay.RefreshNetValues(&why)) << why;
        ASSERT_TRUE(relay.RefreshEstimates(&why)) << why;
    }

    zeza::test::ScopedTempDir m_tmp;
    FakeUpstream m_up;
    std::atomic<int64_t> m_now{1787300000};
};

const std::string kListFeed =
    G("000001|华夏成长混合|hun\r\n012754|鹏华内地低碳联接A|zhi\r\n110022|易方达消费行业股票|gu\r\n"
      "501312|某QDII基金|gu\r\n217022|招商产业债券A|zhai\r\n159001|东方/一号|hun\r\n");
// 501312 and 217022 publish late: the page's older value and the fund information source
// complete them, the value before taken from the day's change where nothing else has it.
const std::string kNavFeed =
    "2026-08-20\r\n000001|3.7420|1.2050|1.2010\r\n110022|2.8260|2.8260|2.8431\r\n"
    "501312|2.2470|2.2470|2.2358\r\n217022|1.5130|1.1130|1.1120\r\n";
const std::string kEstFeed = "012754|1.0123\r\n";

}  // namespace

TEST_F(RelayTest, FixturesBecomeTheThreeFeedsByteForByte) {
    auto relay = OpenRelay();
    FillAll(*relay);
    auto s = relay->Current();
    EXPECT_EQ(s->ListFeed(0), kListFeed);  // money funds left out, '|' in a name replaced
    EXPECT_EQ(s->NavFeed(), kNavFeed);
    EXPECT_EQ(s->EstimateFeed(), kEstFeed);  // a null estimate is left out, never 0
    EXPECT_EQ(s->ControlFile().rfind(
                  "[FU]\r\nlistTime=1787300000\r\nstkTime=1787300000\r\nestTime=1787300000\r\n", 0),
              0u);
    EXPECT_EQ(s->FindNav("217022")->date, "2026-08-20");
    EXPECT_EQ(s->FindNav("501312")->date, "2026-08-19");
    EXPECT_NE(m_up.Header(kCatalogue, "User-Agent").find("Mozilla/5.0"), std::string::npos);
    EXPECT_EQ(m_up.Header(kNavPage, "Referer"), "http://fund.eastmoney.com/");

    // Nothing new upstream: the times stay, so the program does not fetch again.
    m_now += 1200;
    FillAll(*relay);
    EXPECT_EQ(relay->Current()->ControlFile(), s->ControlFile());
    // A fund renamed: the list time moves and only that fund is sent to a program that has the rest.
    std::string cat = ReadFileBytes(kFixtures / "fundcode_search.js");
    cat.replace(cat.find("华夏成长混合"), std::string("华夏成长混合").size(), "华夏成长混合A");
    m_up.Set(kCatalogue, Mode::Good, cat);
    ASSERT_TRUE(relay->RefreshCatalogue());
    auto t = relay->Current();
    EXPECT_EQ(t->listTime, m_now.load());
    EXPECT_EQ(t->stkTime, s->stkTime);
    EXPECT_EQ(t->ListFeed(s->listTime), G("000001|华夏成长混合A|hun\r\n"));
}

TEST_F(RelayTest, EveryFaultKeepsTheLastGoodSnapshotAndItsTimes) {
    auto relay = OpenRelay();
    FillAll(*relay);
    auto good = relay->Current();
    m_now += 3600;
    const Mode faults[] = {Mode::Empty, Mode::Html, Mode::Moved, Mode::CutOff, Mode::Huge, Mode::Slow};
    for (const char* path : {kCatalogue, kNavPage, kValuation}) {
        for (Mode mode : faults) {
            SCOPED_TRACE(std::string(path) + " mode " + std::to_string(static_cast<int>(mode)));
            m_up.Set(path, mode);
            std::string why;
            bool ok = path == kCatalogue ? relay->RefreshCatalogue(&why)
                      : path == kNavPage ? relay->RefreshNetValues(&why)
                                         : relay->RefreshEstimates(&why);
            EXPECT_FALSE(ok);
            EXPECT_FALSE(why.empty());
            auto now = relay->Current();
            EXPECT_EQ(now->ListFeed(0), kListFeed);
            EXPECT_EQ(now->NavFeed(), kNavFeed);
            EXPECT_EQ(now->EstimateFeed(), kEstFeed);
            EXPECT_EQ(now->ControlFile(), good->ControlFile());
        }
        m_up.Set(path, Mode::Good);
    }
    // A catalogue that parses but lost most of its funds is a page cut short, too.
    m_up.Set(kCatalogue, Mode::Good, R"(var r = [["000001","HXCZHH","华夏成长混合","混合型-灵活","X"]];)");
    EXPECT_FALSE(relay->RefreshCatalogue());
    EXPECT_EQ(relay->Current()->ListFeed(0), kListFeed);
    // The fallback failing still leaves the late funds in the feed, with the page's value.
    m_up.Set(kFundInfo, Mode::Html);
    ASSERT_TRUE(relay->RefreshNetValues());
    EXPECT_EQ(relay->Current()->FindNav("501312")->latest, 2.2470);
    EXPECT_EQ(relay->Current()->FindNav("217022")->latest, 1.1130);  // kept from the last snapshot
}

TEST_F(RelayTest, StateSurvivesARestart) {
    {
        auto relay = OpenRelay();
        FillAll(*relay);
    }
    auto relay = OpenRelay();
    auto s = relay->Current();
    EXPECT_EQ(s->ListFeed(0), kListFeed);
    EXPECT_EQ(s->NavFeed(), kNavFeed);
    EXPECT_EQ(s->EstimateFeed(), kEstFeed);
    EXPECT_EQ(s->listTime, 1787300000);
    EXPECT_EQ(s->FindNav("501312")->date, "2026-08-19");
    // A restart with the same data upstream moves no time.
    m_now += 600;
    FillAll(*relay);
    EXPECT_EQ(relay->Current()->ControlFile(), s->ControlFile());
}

TEST_F(RelayTest, ServerAnswersFromTheSnapshot) {
    std::shared_ptr<Relay> relay = OpenRelay();
    FillAll(*relay);
    auto srv = StartDataServer(m_tmp.Path() / "data", relay);
    ASSERT_TRUE(srv);
    httplib::Client cli("127.0.0.1", srv->Port());
    EXPECT_EQ(cli.Get("/fund/gdata.php?tp=list&dt=0")->body, kListFeed);
    EXPECT_EQ(cli.Get("/fund/gdata.php?tp=stk&dt=5")->body, kNavFeed);
    EXPECT_EQ(cli.Get("/fund/gdata.php?tp=est&dt=5")->body, kEstFeed);
    EXPECT_EQ(cli.Get("/fund/fund.php?gid=x&ver=12")->body, relay->Current()->ControlFile());
    auto page = cli.Get("/fund/fuskip.php?code=501312");
    ASSERT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("2026-08-19"), std::string::npos);
    EXPECT_EQ(cli.Get("/fund/fuskip.php?code=999999")->status, 404);
    srv->Stop();
}

// navhist.php: a fund is fetched once asked, whole, with its events as published; the answer
// survives a restart and a failed refresh.
TEST_F(RelayTest, AskedFundsGetTheirWholeHistory) {
    const char* kScript = "/pingzhongdata/000001.js";
    const std::string kHistory =
        G("2026-08-13|1.2245|3.7475|\r\n"
          "2026-08-14|1.2301|3.7531|\r\n"
          "2026-08-17|1.2188|3.7418|\r\n"
          "2026-08-18|1.2057|3.7411|分红 0.01235\r\n"
          "2026-08-19|1.1710|3.7380|拆分 1.027437\r\n");
    {
        std::shared_ptr<Relay> relay = OpenRelay();
        FillAll(*relay);
        EXPECT_EQ(relay->NavHistoryFeed("000001", "2026-01-01"), "");  // asked, not fetched yet
        EXPECT_EQ(relay->NavHistoryFeed("999999", "2026-01-01"), "");  // no such script upstream
        std::string why;
        EXPECT_FALSE(relay->RefreshAskedHistories(5, &why));
        EXPECT_NE(why.find("999999"), std::string::npos) << why;
        EXPECT_EQ(relay->NavHistoryFeed("000001", "2000-01-01"), kHistory);
        EXPECT_EQ(relay->NavHistoryFeed("000001", "2026-08-15"),
                  kHistory.substr(kHistory.find("2026-08-17")));
        EXPECT_EQ(relay->NavHistoryFeed("000001", "2026-08-20"), "");
        // Served as such, the request checked first.
        auto srv = StartDataServer(m_tmp.Path() / "data", relay);
        ASSERT_TRUE(srv);
        httplib::Client cli("127.0.0.1", srv->Port());
        auto res = cli.Get("/fund/navhist.php?code=000001&from=2026-08-19");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->body, kHistory.substr(kHistory.find("2026-08-19")));
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; charset=GBK");
        EXPECT_EQ(cli.Get("/fund/navhist.php?code=000001&from=2026-13-01")->status, 400);
        srv->Stop();
    }
    // A restart answers at once. The day's NAV (08-20) is not in the script yet: the next pass
    // asks again, later passes not within hours, and a failed refresh keeps what was good.
    const size_t asked = m_up.Count(kScript);
    auto relay = OpenRelay();
    EXPECT_EQ(relay->NavHistoryFeed("000001", "2026-08-18"), kHistory.substr(kHistory.find("2026-08-18")));
    FillAll(*relay);
    EXPECT_TRUE(relay->RefreshAskedHistories(5));
    EXPECT_TRUE(relay->RefreshAskedHistories(5));
    EXPECT_EQ(m_up.Count(kScript), asked + 1);
    m_now += 3 * 3600;
    m_up.Set(kScript, Mode::Html);
    EXPECT_FALSE(relay->RefreshAskedHistories(5));
    EXPECT_EQ(m_up.Count(kScript), asked + 2);
    EXPECT_EQ(relay->NavHistoryFeed("000001", "2000-01-01"), kHistory);
    // The script with the day: every day of it is kept, however many (the estimates keep 130).
    std::string script = "var Data_netWorthTrend = [";
    for (int64_t day = 0; day < 400; ++day)
        script += (day ? "," : "") + std::string("{\"x\":") +
                  std::to_string((1787155200 - day * 86400) * 1000) + ",\"y\":1.5,\"unitMoney\":\"\"}";
    m_up.Set(kScript, Mode::Good, script + "];");
    m_now += 3 * 3600;
    EXPECT_TRUE(relay->RefreshAskedHistories(5));
    const std::string all = relay->NavHistoryFeed("000001", "2000-01-01");
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 400);
    EXPECT_EQ(all.substr(all.size() - 27), "2026-08-20|1.5000|1.5000|\r\n");
}

TEST(RelaySchedule, BeijingTimeWhateverTheMachineZone) {
    // 2026-08-21 is a Friday. Beijing 16:05 is 08:05 UTC.
    const int64_t fri0805Utc = 1787299500;  // 2026-08-21 08:05 UTC
    ASSERT_EQ(BeijingTime(fri0805Utc), "2026-08-21 16:05");
    EXPECT_EQ(BeijingTime(LatestSlot(Feed::NetValues, fri0805Utc)), "2026-08-21 16:00");
    EXPECT_EQ(BeijingTime(LatestSlot(Feed::Estimates, fri0805Utc)), "2026-08-21 15:00");
    EXPECT_EQ(BeijingTime(LatestSlot(Feed::Catalogue, fri0805Utc)), "2026-08-21 08:30");
    // 23:50 Beijing: the last net value run was 23:20; past midnight still that one.
    EXPECT_EQ(BeijingTime(LatestSlot(Feed::NetValues, fri0805Utc + 7 * 3600 + 45 * 60)), "2026-08-21 23:20");
    EXPECT_EQ(BeijingTime(LatestSlot(Feed::NetValues, fri0805Utc + 9 * 3600)), "2026-08-21 23:20");
    // Every 2 minutes in the sessions, none at lunch, none at the weekend.
    EXPECT_EQ(BeijingTime(LatestSlot(Feed::Estimates, fri0805Utc - 5 * 3600 - 120)), "2026-08-21 11:02");
    EXPECT_EQ(BeijingTime(LatestSlot(Feed::Estimates, fri0805Utc - 4 * 3600)), "2026-08-21 11:30");
    EXPECT_EQ(BeijingTime(LatestSlot(Feed::Estimates, fri0805Utc + 2 * 86400)), "2026-08-21 15:00");
    const int64_t mon0931 = fri0805Utc + 3 * 86400 - 6 * 3600 - 34 * 60;
    EXPECT_EQ(BeijingTime(LatestSlot(Feed::Estimates, mon0931)), "2026-08-24 09:30");
    EXPECT_EQ(BeijingTime(LatestSlot(Feed::Estimates, mon0931 - 120)), "2026-08-21 15:00");
    // Due once per moment: a run at 16:01 covers 16:00 until 16:20.
    EXPECT_TRUE(IsDue(Feed::NetValues, fri0805Utc - 600, fri0805Utc));
    EXPECT_FALSE(IsDue(Feed::NetValues, fri0805Utc - 240, fri0805Utc));
    EXPECT_TRUE(IsDue(Feed::NetValues, fri0805Utc - 240, fri0805Utc + 15 * 60));
}

TEST(RelaySources, ReadersAndTypeMapping) {
    std::string error;
    auto v = ParseJs(R"(var db={a:[1,"x\u4e2d\"",null],'b':{c:true}};)", error);
    ASSERT_TRUE(v) << error;
    EXPECT_EQ(v->Get("a")->items[1].text, "x中\"");
    EXPECT_TRUE(v->Get("a")->items[2].IsNull());
    EXPECT_EQ(v->Get("b")->Get("c")->text, "true");
    EXPECT_FALSE(ParseJs("var r = [[\"000001\",\"A\"", error));                   // cut off
    EXPECT_FALSE(ParseJs(std::string(100, '[') + std::string(100, ']'), error));  // too deep
    EXPECT_FALSE(ParseJs("[1] trailing", error));

    // NAV is the latest value, ACCNAV never taken for it; fields a source adds do no harm.
    std::vector<FundInfo> info;
    ASSERT_TRUE(ParseFundInfo(
        R"({"Datas":[{"NEW":1,"FCODE":"110022","ACCNAV":"3.0000","NAV":"2.8260","PDATE":"2026-08-20"}],"Success":true})",
        info, error));
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].nav, "2.8260");
    EXPECT_FALSE(ParseFundInfo(R"({"Datas":null,"Success":false,"ErrCode":1})", info, error));
}

// Every type text of the live catalogue: (feed type, late publisher, own estimate).
TEST(RelaySources, EveryCatalogueTypeMappedOnce) {
    struct Row {
        const char* text;
        const char* type;  // "-": left out
        bool late, own;
    };
    const Row rows[] = {
        {"股票型", "gu", false, true},
        {"混合型-偏股", "hun", false, true},
        {"混合型-灵活", "hun", false, true},
        {"混合型-平衡", "hun", false, true},
        {"混合型-偏债", "hun", false, true},
        {"混合型-绝对收益", "hun", false, true},
        {"指数型-股票", "zhi", false, false},
        {"指数型-海外股票", "zhi", true, false},
        {"指数型-其他", "zhi", false, false},
        {"商品", "zhi", false, false},
        {"指数型-固收", "zhai", false, false},
        {"债券型-长债", "zhai", false, false},
        {"债券型-混合二级", "zhai", false, false},
        {"债券型-中短债", "zhai", false, false},
        {"债券型-混合一级", "zhai", false, false},
        {"FOF-稳健型", "hun", false, false},
        {"FOF-均衡型", "hun", false, false},
        {"FOF-进取型", "hun", false, false},
        {"Reits", "gu", false, false},
        {"REITs", "gu", false, false},
        {"QDII-普通股票", "gu", true, false},
        {"QDII-混合偏股", "hun", true, false},
        {"QDII-混合灵活", "hun", true, false},
        {"QDII-混合平衡", "hun", true, false},
        {"QDII-FOF", "hun", true, false},
        {"QDII-REITs", "hun", true, false},
        {"QDII-纯债", "zhai", true, false},
        {"QDII-混合债", "zhai", true, false},
        {"QDII-商品", "zhi", true, false},
        {"货币型-普通货币", "-", false, false},
        {"货币型-浮动净值", "-", false, false},
        {"理财型", "-", false, false},
        {"", "hun", false, false},
        {"新类型", "hun", false, false},
    };
    for (const Row& r : rows) {
        auto kind = KindFor(r.text);
        EXPECT_EQ(kind ? kind->typeCode : "-", r.type) << r.text;
        if (!kind) continue;
        EXPECT_EQ(kind->late, r.late) << r.text;
        EXPECT_EQ(kind->ownEstimate, r.own) << r.text;
    }
}
