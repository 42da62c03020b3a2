// The relay's own estimates: holdings and quotes from a fake upstream on 127.0.0.1 serving
// fixtures in the sources' shapes (tests/relay-fixtures/estimate), a trading day replayed
// with an injected clock, the record of errors and the fund page's chart.

#include <atomic>
#include <functional>
#include <cmath>
#include <map>
#include <mutex>
#include <regex>
#include <string>

#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include "server/DataServer.h"
#include "server/relay/Method.h"
#include "server/relay/OwnEstimate.h"
#include "server/relay/Relay.h"
#include "server/relay/RelayPages.h"
#include "server/relay/Snapshot.h"
#include "tests/LocalHttpServer.h"
#include "tests/TestDataServer.h"
#include "tests/TestSupport.h"

using namespace zeza::relay;
using zeza::test::ReadFileBytes;

namespace {

const std::filesystem::path kDir = std::filesystem::path(ZEZA_RELAY_FIXTURES) / "estimate";

// 2026-08-20 22:00, 2026-08-21 14:58 and 20:00 in Beijing.
constexpr int64_t kEveningBefore = 1787234400;
constexpr int64_t kAt1458 = 1787295480;
constexpr int64_t kAt2000 = 1787313600;

// Quote lines of a fixture by key, answered in the reverse of the order asked for, so a
// reader that matched by position would go wrong.
std::string QuoteAnswer(const std::string& fixture, const std::string& asked, bool sina) {
    std::map<std::string, std::string> lines;
    std::string text = ReadFileBytes(kDir / fixture);
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        size_t k = line.find(sina ? "hq_str_" : "v_") + (sina ? 7 : 2);
        lines[line.substr(k, line.find('=') - k)] = line + "\n";
    }
    std::vector<std::string> keys;
    for (size_t at = 0, end; at <= asked.size(); at = end + 1) {
        end = std::min(asked.find(',', at), asked.size());
        keys.push_back(asked.substr(at, end - at));
    }
    std::string out;
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        auto l = lines.find(*it);
        out += l != lines.end() ? l->second
               : sina           ? "var hq_str_" + *it + "=\"\";\n"
                                : "v_pv_none_match=\"1\";\n";
    }
    return out;
}

class RelayEstimateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_up.Serve("/js/fundcode_search.js", ReadFileBytes(kDir / "fundcode_search.js"));
        m_up.Serve("/mm/newCore/FundValuationLast", ReadFileBytes(kDir / "FundValuationLast.json"));
        m_up.Serve("/FundMNewApi/FundMNFInfo", R"({"Datas":[],"Success":true})", "application/json");
        m_up.Route("/Data/Fund_JJJZ_Data.aspx", [this](const httplib::Request& req, auto& res) {
            std::lock_guard lock(m_mutex);
            if (m_navPages.empty())
                return res.set_content(ReadFileBytes(kDir / ("Fund_JJJZ_Data-" + m_navDay + ".aspx")),
                                       "text/plain");
            // page=N,SIZE: the Nth of the pages set.
            const size_t n = std::stoul(req.get_param_value("page"));
            res.set_content(n >= 1 && n <= m_navPages.size() ? m_navPages[n - 1] : "",
                            "text/html; charset=utf-8");
        });
        auto& h = m_up.Http();
        h.Get("/FundMNewApi/FundMNInverstPosition", [this](const httplib::Request& req,
                                                           httplib::Response& res) {
            if (m_holdingsDown) return res.set_content("<!DOCTYPE html><p>busy</p>", "application/json");
            std::string body = ReadFileBytes(kDir / ("holdings-" + req.get_param_value("FCODE") + ".json"));
            if (body.empty()) res.status = 404;
            res.set_content(body, "application/json");
        });
        h.Get(R"(/pingzhongdata/(\d+)\.js)", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(ReadFileBytes(kDir / ("pingzhong-" + std::string(req.matches[1]) + ".js")),
                            "application/javascript");
        });
        h.Get(R"(/q=(.*))", [this](const httplib::Request& req, httplib::Response& res) {
            ++m_quoteRequests;
            if (m_tencentDown) return res.set_content("<html><body>busy</body></html>", "text/html");
            // The service labels its script as a page: the body decides.
            std::string answer = QuoteAnswer("qt.gtimg.txt", req.matches[1], false);
            std::lock_guard lock(m_mutex);
            res.set_content(m_tencentEdit ? m_tencentEdit(answer) : answer, "text/html; charset=GBK");
        });
        h.Get(R"(/list=(.*))", [this](const httplib::Request& req, httplib::Response& res) {
            if (m_sinaDown || req.get_header_value("Referer") != "https://finance.sina.com.cn/") {
                res.status = 403;
                return res.set_content("Forbidden", "text/plain");
            }
            res.set_content(QuoteAnswer("hq.sinajs.txt", req.matches[1], true), "text/plain; charset=GBK");
        });
        // Daily bars of an index: three closes, the newest of the day before the fixtures' day.
        h.Get("/kline", [](const httplib::Request& req, httplib::Response& res) {
            const std::string key =
                req.get_param_value("param").substr(0, req.get_param_value("param").find(','));
            res.set_content(
                R"({"code":0,"data":{")" + key +
                    R"(":{"day":[["2026-08-18","1","3900.00","1","1","1"],["2026-08-19","1","3910.50","1","1","1"],)"
                    R"(["2026-08-20","1","3920.00","1","1","1"],]}}})",
                "application/json");
        });
        m_up.Start();
    }
    void TearDown() override { m_up.Stop(); }

    std::string NavDay() {
        std::lock_guard lock(m_mutex);
        return m_navDay;
    }
    std::unique_ptr<Relay> OpenRelay(const std::function<void(RelayOptions&)>& tweak = {}) {
        RelayOptions o;
        o.dataDir = m_tmp.Path() / "data";
        const std::string base = m_up.Base();
        o.catalogueUrl = base + "js/fundcode_search.js";
        o.netValueUrl = base + "Data/Fund_JJJZ_Data.aspx?t=1";
        o.fundInfoUrl = base + "FundMNewApi/FundMNFInfo";
        o.estimateUrl = base + "mm/newCore/FundValuationLast";
        o.holdingsUrl = base + "FundMNewApi/FundMNInverstPosition?plat=Android";
        o.positionUrl = base + "pingzhongdata/";
        o.quoteUrl = base + "q=";
        o.quoteFallbackUrl = base + "list=";
        o.klineUrl = base + "kline?param=";
        o.fetch.minIntervalMs = 0;
        o.fetch.backoffFirstMs = 0;
        o.fetch.totalTimeoutMs = 2000;
        o.clock = [this] { return m_now.load(); };
        if (tweak) tweak(o);
        auto relay = std::make_unique<Relay>(o);
        std::string error;
        EXPECT_TRUE(relay->Open(error)) << error;
        return relay;
    }
    // Requests for a path so far, as sent.
    std::vector<std::string> Asked(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& t : m_up.Targets())
            if (t.rfind(prefix, 0) == 0) out.push_back(t);
        return out;
    }
    // The evening before: catalogue, holdings, that day's NAVs. Then the day: estimates at
    // 14:58, the day's NAVs at 20:00 (unless untilClose).
    void RunDay(Relay& relay, bool untilClose = false) {
        std::string why;
        m_now = kEveningBefore;
        ASSERT_TRUE(relay.RefreshCatalogue(&why)) << why;
        ASSERT_TRUE(relay.RefreshHoldings(100, &why)) << why;
        ASSERT_TRUE(relay.RefreshNetValues(&why)) << why;
        m_now = kAt1458;
        ASSERT_TRUE(relay.RefreshEstimates(&why)) << why;
        m_atClose = relay.Current();
        if (untilClose) return;
        m_now = kAt2000;
        {
            std::lock_guard lock(m_mutex);
            m_navDay = "0821";
        }
        ASSERT_TRUE(relay.RefreshNetValues(&why)) << why;
    }

    zeza::test::ScopedTempDir m_tmp;
    zeza::test::LocalHttpServer m_up;
    std::mutex m_mutex;
    std::string m_navDay = "0820";
    std::atomic<int64_t> m_now{kEveningBefore};
    std::atomic<int> m_quoteRequests{0};
    std::atomic<bool> m_tencentDown{false}, m_sinaDown{false}, m_holdingsDown{false};
    std::function<std::string(const std::string&)> m_tencentEdit;  // rewrites the quote answer
    std::vector<std::string> m_navPages;                           // set: the page is served in these
    std::shared_ptr<const Snapshot> m_atClose;
};

// The fund page the data server answers for code from the relay's snapshot; "" on any failure.
std::string FundPageOf(const std::filesystem::path& dataDir, const std::shared_ptr<Relay>& relay,
                       const std::string& code) {
    auto srv = zeza::test::StartDataServer(dataDir, relay);
    if (!srv) return "";
    httplib::Client cli("127.0.0.1", srv->Port());
    auto res = cli.Get(("/fund/fuskip.php?code=" + code).c_str());
    srv->Stop();
    return res && res->status == 200 ? res->body : "";
}

const TrackDay* Day(const Snapshot& s, const std::string& code, const std::string& day) {
    auto t = s.own->tracks.find(code);
    if (t == s.own->tracks.end()) return nullptr;
    for (const TrackDay& d : *t->second)
        if (d.day == day) return &d;
    return nullptr;
}

}  // namespace

TEST(OwnEstimate, FormulaOnAHandExampleAndEveryRefusal) {
    RelayFund fund{"000001", "x", "hun", 0, false, true};
    RelayNav nav{"000001", "2026-08-20", 3.0, 1.2050, 1.2};
    FundHoldings h;
    h.reportDate = "2026-06-30";
    h.equityPct = 90;
    h.equityDate = "2026-06-30";
    h.stocks = {{"sh600519", "600519", "", 8},
                {"sz000858", "000858", "", 6},
                {"hk00700", "00700", "", 4},
                {"sz300750", "300750", "", 2}};
    QuoteMap q{{"sh600519", {1530, 1500, "2026-08-21"}},
               {"sz000858", {147, 150, "2026-08-21"}},
               {"hk00700", {410, 400, "2026-08-21"}}};
    // (8 x 2% - 6 x 2% + 4 x 2.5%) / 18 x 90%: +0.7%; the unquoted 2% of weight is left out.
    FundEstimate e = EstimateFund(fund, &nav, &h, q, "2026-08-21", "2026-08-20");
    ASSERT_EQ(e.verdict, Verdict::Published);
    EXPECT_NEAR(e.value, 1.2050 * 1.007, 1e-12);
    EXPECT_NEAR(e.coverage, 0.9, 1e-12);
    EXPECT_EQ(e.day, "2026-08-21");
    // A share suspended for the day (price 0 read as its close) counts as covered, unmoved:
    // (8 x 2% - 6 x 2% + 4 x 2.5% + 2 x 0) / 20 x 90% = +0.63%.
    QuoteMap suspended = q;
    QuoteRead read;
    std::string error, line = "v_sz300750=\"51~x~300750~0.00~200.00~0.00";
    for (int i = 6; i < 30; ++i) line += "~0";
    ASSERT_TRUE(ParseTencentQuotes(line + "~20260821145800~0~0\";\n", suspended, read, error)) << error;
    e = EstimateFund(fund, &nav, &h, suspended, "2026-08-21", "2026-08-20");
    EXPECT_NEAR(e.value, 1.2050 * 1.0063, 1e-12);
    EXPECT_NEAR(e.coverage, 1.0, 1e-12);

    auto verdict = [&](const RelayFund& f, const FundHoldings& hh, const QuoteMap& qq,
                       const char* lastTradingDay = "2026-08-20") {
        return EstimateFund(f, &nav, &hh, qq, "2026-08-21", lastTradingDay).verdict;
    };
    FundHoldings low = h;
    low.stocks[0].weight = 3;
    low.stocks.push_back({"", "AAPL", "", 8});               // a market without quotes
    EXPECT_EQ(verdict(fund, low, q), Verdict::LowCoverage);  // 13 of 23 quoted: 57 %
    FundHoldings stale = h;
    stale.reportDate = stale.equityDate = "2026-04-22";  // 121 days before
    EXPECT_EQ(verdict(fund, stale, q), Verdict::StaleHoldings);
    stale.reportDate = stale.equityDate = "2026-04-24";
    EXPECT_EQ(verdict(fund, stale, q), Verdict::Published);
    // A position older than the report it scales: last year's stake on this quarter's shares.
    FundHoldings oldPosition = h;
    oldPosition.equityDate = "2025-12-31";
    EXPECT_EQ(verdict(fund, oldPosition, q), Verdict::NoHoldings);
    EXPECT_EQ(verdict({"217022", "x", "zhai", 0}, h, q), Verdict::NotStockFund);
    EXPECT_EQ(verdict({"000001", "x", "hun", 0, true, false}, h, q), Verdict::NotStockFund);
    EXPECT_EQ(verdict(fund, h, {}), Verdict::NoMove);
    // The fund's NAV is of Friday while the page is at Monday: Tuesday's move is not Monday's too.
    EXPECT_EQ(verdict(fund, h, q, "2026-08-21"), Verdict::StaleNetValue);
    // Quotes of the NAV's own day are already in it: not an estimate of the next day.
    QuoteMap old = q;
    for (auto& [k, v] : old) v.date = "2026-08-20";
    EXPECT_EQ(verdict(fund, h, old), Verdict::NoMove);
    // Quotes that cancel out would only repeat the NAV.
    QuoteMap flat{{"sh600519", {1515, 1500, "2026-08-21"}}, {"sz000858", {148, 150, "2026-08-21"}}};
    h.stocks.resize(2);
    EXPECT_EQ(verdict(fund, h, flat), Verdict::NoMove);
}

TEST(OwnEstimate, AccuracyFeedNamesEachEstimatesSourceAndRecord) {
    Snapshot prev;
    prev.Build();
    Snapshot s;
    s.estimates = {{"000001", 1.01, true, "2024-03-01"},
                   {"161725", 2.02, false, "2024-03-01"},
                   {"000011", 1.5, true, "2024-03-01"}};
    auto book = std::make_shared<OwnBook>();
    // 25 days: the record takes the last 20 with a net value; errors of 1 % and 3 % alternate.
    Track t;
    for (int d = 0; d < 25; ++d)
        t.push_back({"2024-02-" + std::to_string(10 + d), d % 2 ? 1.03 : 1.01, false, d == 24 ? 0.0 : 1.0});
    book->tracks["000001"] = std::make_shared<const Track>(t);
    book->tracks["161725"] = std::make_shared<const Track>(Track(t.end() - 4, t.end()));  // 3 days with a NAV
    s.own = book;
    s.Build();
    // The last 20 days with a net value: days 4..23, ten of each error.
    EXPECT_EQ(s.AccFeed(), zeza::test::G("000001|自算|2.00|20\r\n161725|公开||3\r\n000011|自算||0\r\n"));

    s.StampAccTime(prev, 1000);
    EXPECT_EQ(s.accTime, 1000) << "a feed never announced gets a time";
    Snapshot same = s;
    same.Build();
    same.StampAccTime(s, 2000);
    EXPECT_EQ(same.accTime, 1000);
    Snapshot moved = s;
    moved.estimates.pop_back();
    moved.Build();
    moved.StampAccTime(s, 900);  // a clock set back still moves the time on
    EXPECT_EQ(moved.accTime, 1001);
    EXPECT_NE(moved.ControlFile().find("\r\naccTime=1001\r\n"), std::string::npos);
}

TEST(OwnEstimate, ReadersOfHoldingsAndQuotes) {
    std::string error;
    FundHoldings h;
    ASSERT_TRUE(ParseHoldings(ReadFileBytes(kDir / "holdings-000001.json"), h, error)) << error;
    EXPECT_EQ(h.reportDate, "2026-06-30");
    ASSERT_EQ(h.stocks.size(), 4u);
    EXPECT_EQ(h.stocks[0].key, "sh600519");
    EXPECT_EQ(h.stocks[0].weight, 8.0);  // JZBL, not the change of weight beside it
    EXPECT_EQ(h.stocks[2].key, "hk00700");
    ASSERT_TRUE(ParseEquityPosition(ReadFileBytes(kDir / "pingzhong-000001.js"), h, error)) << error;
    EXPECT_EQ(h.equityPct, 90.0);
    EXPECT_EQ(h.equityDate, "2026-06-30");  // midnight in Beijing is the day before in UTC
    EXPECT_FALSE(ParseHoldings(R"({"Datas":null,"Success":false})", h, error));
    // A code that would end the request's list of codes never gets a quote key.
    ASSERT_TRUE(ParseHoldings(
        R"({"Datas":{"fundStocks":[{"GPDM":"000001#x","GPJC":"x","JZBL":"5","NEWTEXCH":"0"},)"
        R"({"GPDM":"600519","GPJC":"y","JZBL":"4","NEWTEXCH":"1"}]},"Success":true,"Expansion":"2026-09-30"})",
        h, error));
    ASSERT_EQ(h.stocks.size(), 2u);
    EXPECT_EQ(h.stocks[0].key, "");
    EXPECT_EQ(h.stocks[1].key, "sh600519");

    // The position of June with a report of September: the report's own stock share is taken,
    // and without one the position is unknown.
    const std::string script =
        R"(var Data_fundSharesPositions = [[1782748800000,90.00]];var Data_assetAllocation = )"
        R"({"series":[{"name":"股票占净比","type":null,"data":[88.1,76.5],"yAxis":0},)"
        R"({"name":"债券占净比","type":null,"data":[5.0,6.0],"yAxis":0}],"categories":["2026-06-30","2026-09-30"]};)";
    ASSERT_TRUE(ParseEquityPosition(script, h, error)) << error;
    EXPECT_EQ(h.reportStockPct, 76.5);
    UseCurrentPosition(h);
    EXPECT_EQ(h.equityPct, 76.5);
    EXPECT_EQ(h.equityDate, "2026-09-30");
    h.reportDate = "2026-12-31";
    ASSERT_TRUE(ParseEquityPosition(script, h, error)) << error;
    UseCurrentPosition(h);
    EXPECT_EQ(h.equityPct, -1);

    // A GBK name whose second byte is '~' does not shift the fields; unknown codes are answers too.
    QuoteMap q;
    QuoteRead read;
    std::string line = "v_sz000001=\"51~\x81\x7E\xC6\xBD~000001~11.00~10.00~10.00";
    for (int i = 6; i < 30; ++i) line += "~0";
    line += "~20260821145800~1~10\";\n";
    ASSERT_TRUE(ParseTencentQuotes(line + "v_pv_none_match=\"1\";\n", q, read, error)) << error;
    EXPECT_EQ(read.quotes, 1u);
    EXPECT_EQ(read.answered, 2u);
    EXPECT_EQ(q["sz000001"].price, 11.0);
    EXPECT_EQ(q["sz000001"].date, "2026-08-21");
    // Cut off in its last line, empty, or a page: no answer.
    for (std::string bad : {line + line.substr(0, 40), line + "v_sh600519=", std::string("\n\n\n"),
                            std::string("<html></html>")})
        EXPECT_FALSE(ParseTencentQuotes(bad, q, read, error)) << bad;
    ASSERT_TRUE(ParseSinaQuotes(ReadFileBytes(kDir / "hq.sinajs.txt"), q, read, error)) << error;
    EXPECT_EQ(q["sh600519"].prevClose, 1500.0);
    // Public clients ask for at most 60 codes a request.
    std::vector<std::string> keys(121, "sh600000");
    EXPECT_EQ(QuoteUrls("http://q/q=", keys).size(), 3u);
}

TEST_F(RelayEstimateTest, ADayOfEstimatesAndTheErrorOnceTheNavIsOut) {
    auto relay = OpenRelay();
    RunDay(*relay);
    // At the close: own estimates for the stock and mixed funds, the public one for the LOF,
    // none for low coverage, stale holdings, the bond fund, the QDII fund, the missing quote.
    EXPECT_EQ(m_atClose->EstimateFeed(),
              "000001|1.2134\r\n000006|1.5490\r\n110022|2.8349\r\n161725|1.0500\r\n519674|3.1371\r\n");
    EXPECT_FALSE(m_atClose->FindEstimate("161725")->own);
    EXPECT_TRUE(m_atClose->FindEstimate("000001")->own);
    EXPECT_EQ(m_quoteRequests.load(), 1);  // every share in one request

    // 20:00: the day's NAV beside the last estimate, the error exact.
    auto s = relay->Current();
    const TrackDay* d = Day(*s, "000001", "2026-08-21");
    ASSERT_TRUE(d && d->HasError());
    EXPECT_EQ(d->estimate, 1.2134);
    EXPECT_EQ(d->nav, 1.2110);
    EXPECT_NEAR(d->ErrorPct(), (1.2134 / 1.2110 - 1) * 100, 1e-12);
    ASSERT_TRUE(Day(*s, "161725", "2026-08-21"));
    EXPECT_TRUE(Day(*s, "161725", "2026-08-21")->publicEstimate);  // the record says whose it was

    // It is in relay.db, and a restarted relay has it.
    relay.reset();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((m_tmp.Path() / "data" / "relay.db").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, "SELECT error FROM track WHERE code='000001' AND day='2026-08-21';", -1, &q,
                       nullptr);
    ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
    EXPECT_NEAR(sqlite3_column_double(q, 0), (1.2134 / 1.2110 - 1) * 100, 1e-12);
    sqlite3_finalize(q);
    sqlite3_close(db);
    relay = OpenRelay();
    d = Day(*relay->Current(), "000001", "2026-08-21");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->nav, 1.2110);
    EXPECT_EQ(relay->Current()->own->holdings.at("000001").reportDate, "2026-06-30");
    // The day's NAV is out: its estimates are no forecast any more and left the feed.
    EXPECT_EQ(relay->Current()->FindEstimate("000001"), nullptr);
    EXPECT_EQ(relay->Current()->EstimateFeed(), "");
}

TEST_F(RelayEstimateTest, ReplayedDayReportsTheMeanAbsoluteErrorOfARecomputation) {
    auto relay = OpenRelay();
    RunDay(*relay);
    // The fixtures' numbers: last NAV, equity %, (weight, change) of each quoted share, the day's NAV.
    struct Fund {
        const char* code;
        double nav0, equity;
        std::vector<std::pair<double, double>> quoted;
        double nav1;
    };
    const double maotai = 1530.0 / 1500 - 1, wuliang = 147.0 / 150 - 1, tencent = 410.0 / 400 - 1,
                 catl = 203.6 / 200 - 1, yili = 28.28 / 28 - 1, midea = 59.4 / 60 - 1,
                 pingan = 50.75 / 50 - 1;
    const Fund funds[] = {
        {"000001", 1.2050, 90.0, {{8, maotai}, {6, wuliang}, {4, tencent}}, 1.2110},
        {"110022", 2.8260, 88.5, {{9.5, maotai}, {8, wuliang}, {5, yili}}, 2.8371},
        {"000006", 1.5430, 75.2, {{7.1, midea}, {6.4, pingan}, {3.3, yili}, {2.2, catl}}, 1.5462},
        {"519674", 3.1020, 93.1, {{9.9, catl}, {5.6, midea}, {4.8, pingan}, {4.1, tencent}}, 3.1290},
    };
    double sum = 0;
    for (const Fund& f : funds) {
        double w = 0, m = 0;
        for (auto [weight, change] : f.quoted) w += weight, m += weight * change;
        const double est = std::round(f.nav0 * (1 + f.equity / 100 * m / w) * 10000) / 10000;
        const double err = (est / f.nav1 - 1) * 100;
        sum += std::fabs(err);
        const TrackDay* d = Day(*relay->Current(), f.code, "2026-08-21");
        ASSERT_TRUE(d) << f.code;
        EXPECT_NEAR(d->ErrorPct(), err, 1e-9) << f.code;
        // The fund page's 20-day figure: one day so far.
        char shown[32];
        std::snprintf(shown, sizeof(shown), "class=\"mae\">%.2f%%", std::fabs(err));
        EXPECT_NE(FundPage(*relay->Current(), f.code).find(shown), std::string::npos) << f.code;
    }
    DayAccuracy day = LatestDayAccuracy(*relay->Current()->own);
    EXPECT_EQ(day.day, "2026-08-21");
    EXPECT_EQ(day.funds, 4);  // the public estimate of the LOF is not the relay's
    EXPECT_NEAR(day.meanAbsPct, sum / 4, 1e-9);
    char shown[32];
    std::snprintf(shown, sizeof(shown), "class=\"mae\">%.2f%%", sum / 4);
    EXPECT_NE(HomePage(*relay->Current()).find(shown), std::string::npos);
}

TEST_F(RelayEstimateTest, QuoteFaultsFallBackThenKeepTheLastEstimates) {
    auto relay = OpenRelay();
    RunDay(*relay);
    // The main quote service answers a page: the fallback (with its Referer) serves the mainland
    // shares; 000001 loses its Hong Kong share and keeps exactly 70 % of its weight.
    m_now = kAt1458 + 60;
    m_tencentDown = true;
    {
        std::lock_guard lock(m_mutex);
        m_navDay = "0820";
    }
    ASSERT_TRUE(relay->RefreshNetValues());
    ASSERT_TRUE(relay->RefreshEstimates());
    auto s = relay->Current();
    EXPECT_EQ(Value4(s->FindEstimate("110022")->value), "2.8349");
    EXPECT_EQ(Value4(s->FindEstimate("000001")->value), Value4(1.2050 * (1 + 0.9 * (0.16 - 0.12) / 14)));
    // Both down: the estimates stay as they were, the public one still comes.
    m_sinaDown = true;
    ASSERT_TRUE(relay->RefreshEstimates());
    EXPECT_EQ(relay->Current()->EstimateFeed(), s->EstimateFeed());
}

TEST_F(RelayEstimateTest, FundPageShowsTheRecordWithAServerDrawnChart) {
    auto relay = OpenRelay();
    RunDay(*relay);
    std::shared_ptr<Relay> shared = std::move(relay);
    const std::string page = FundPageOf(m_tmp.Path() / "data", shared, "000001");
    ASSERT_FALSE(page.empty());
    // A fund the last round refused says why on its page.
    ASSERT_FALSE(m_atClose->refused->empty());
    const auto& [refusedCode, verdict] = *m_atClose->refused->begin();
    EXPECT_NE(FundPageOf(m_tmp.Path() / "data", shared, refusedCode)
                  .find(std::string("本站未自算：") + VerdictText(verdict)),
              std::string::npos)
        << refusedCode;
    for (const char* part :
         {"本站自算", "并非基金公司数据", "报告期 2026-06-30", "股票仓位 90.00%", "贵州茅台",
          "<td>2026-08-21</td><td class=\"n\">1.2110</td><td class=\"n\">1.2134</td>"})
        EXPECT_NE(page.find(part), std::string::npos) << part;
    EXPECT_EQ(page.find("<script"), std::string::npos);

    // The chart: NAV line over the two days, the estimate's dot above the day's NAV, one error bar.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(page, m, std::regex("<svg[^>]*viewBox=\"0 0 640 280\"[\\s\\S]*?</svg>")));
    const std::string svg = m.str();
    ASSERT_TRUE(std::regex_search(svg, m, std::regex("<polyline class=\"nav\" points=\"([^\"]*)\"")));
    std::vector<std::pair<double, double>> pts;
    std::string points = m[1];
    const std::regex point("([\\d.]+),([\\d.]+)");
    for (std::sregex_iterator it(points.begin(), points.end(), point), end; it != end; ++it)
        pts.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_LT(pts[0].first, pts[1].first);
    EXPECT_GT(pts[0].second, pts[1].second);  // 1.2110 is above 1.2050
    for (auto [x, y] : pts) EXPECT_TRUE(x >= 0 && x <= 640 && y >= 0 && y <= 280);
    ASSERT_TRUE(
        std::regex_search(svg, m, std::regex("<circle class=\"est\" cx=\"([\\d.]+)\" cy=\"([\\d.]+)\"")));
    EXPECT_DOUBLE_EQ(std::stod(m[1]), pts[1].first);
    EXPECT_LT(std::stod(m[2]), pts[1].second);  // 1.2134 above 1.2110
    auto count = [&](const char* tag) {
        const std::regex re(tag);
        return std::distance(std::sregex_iterator(svg.begin(), svg.end(), re), std::sregex_iterator());
    };
    EXPECT_EQ(count("<circle class=\"est\""), 1);
    EXPECT_EQ(count("<rect class=\"err\""), 1);

    // Set ZEZA_FUND_PAGE_OUT to keep the page (for a look in a browser).
    if (const char* out = std::getenv("ZEZA_FUND_PAGE_OUT")) zeza::test::WriteFileBytes(out, page);
}

// Quote answers cut off or answering too few codes are failures: fallback, then the day's last
// estimates. An estimate never outlives its day, kept or not.
TEST_F(RelayEstimateTest, BadQuoteAnswersKeepTheDaysEstimatesNeverYesterdays) {
    auto relay = OpenRelay();
    RunDay(*relay, true);
    const std::string atClose = m_atClose->EstimateFeed();
    m_sinaDown = true;
    const std::function<std::string(const std::string&)> edits[] = {
        [](const std::string& a) { return a.substr(0, a.size() - 30); },             // cut in its last line
        [](const std::string&) { return std::string("v_pv_none_match=\"1\";\n"); },  // one of many
        [](const std::string&) { return std::string("\n\n\n"); },
    };
    for (const auto& edit : edits) {
        {
            std::lock_guard lock(m_mutex);
            m_tencentEdit = edit;
        }
        m_now += 120;
        relay->RefreshEstimates();
        EXPECT_EQ(relay->Current()->EstimateFeed(), atClose);
    }
    // Monday, the NAVs of Friday out, no quote anywhere: Friday's estimates are not Monday's.
    {
        std::lock_guard lock(m_mutex);
        m_navDay = "0821";
    }
    m_now = kAt1458 + 3 * 86400;
    ASSERT_TRUE(relay->RefreshNetValues());
    relay->RefreshEstimates();
    EXPECT_EQ(relay->Current()->EstimateFeed(), "");
}

// Every page of the net value list, or none of it; a bad answer rests its source, not the host.
TEST_F(RelayEstimateTest, NetValuesComeInPagesAndOnlyAWholeListIsPublished) {
    auto relay = OpenRelay([](RelayOptions& o) {
        o.netValuePageSize = 2;
        o.fetch.backoffFirstMs = 60000;
    });
    auto page = [](int n, const char* rows, int record = 5) {
        return std::string("var db={chars:[\"a\",],datas:[") + rows + "],count:[\"5\",\"0\",],record:\"" +
               std::to_string(record) + "\",pages:\"3\",curpage:\"" + std::to_string(n) +
               "\",indexsy:[-0.91,-0.80,-1.26,],showday:[\"2026-08-20\",\"2026-08-19\"]}";
    };
    auto row = [](const char* code, const char* nav) {
        return std::string("[\"") + code + "\",\"x\",\"X\",\"" + nav + "\",\"" + nav +
               "\",\"1.0000\",\"1.0000\"],";
    };
    const std::string p1 = page(1, (row("000001", "1.1000") + row("000002", "1.2000")).c_str());
    const std::string p2 = page(2, (row("000003", "1.3000") + row("000004", "1.4000")).c_str());
    const std::string p3 = page(3, row("000005", "1.5000").c_str());
    {
        std::lock_guard lock(m_mutex);
        m_navPages = {p1, "<!doctype html><p>busy</p>", p3};
    }
    std::string why;
    EXPECT_FALSE(relay->RefreshNetValues(&why));
    EXPECT_TRUE(relay->Current()->navs.empty()) << "a list without its second page";
    // The page's source rests; the fund list on the same host does not.
    m_up.ForgetRequests();
    EXPECT_FALSE(relay->RefreshNetValues(&why));
    EXPECT_TRUE(Asked("/Data/").empty()) << why;
    EXPECT_TRUE(relay->RefreshCatalogue(&why)) << why;

    auto fresh = OpenRelay([](RelayOptions& o) { o.netValuePageSize = 2; });
    {
        std::lock_guard lock(m_mutex);
        m_navPages = {p1, page(2, row("000003", "1.3000").c_str()), p3};  // 4 of 5 funds
    }
    EXPECT_FALSE(fresh->RefreshNetValues(&why));
    EXPECT_TRUE(fresh->Current()->navs.empty()) << why;
    {
        std::lock_guard lock(m_mutex);
        m_navPages = {p1, p2, p3};
    }
    m_up.ForgetRequests();
    ASSERT_TRUE(fresh->RefreshNetValues(&why)) << why;
    EXPECT_EQ(fresh->Current()->navs.size(), 5u);
    EXPECT_EQ(fresh->Current()->quoteDate, "2026-08-20");
    const auto asked = Asked("/Data/");
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_NE(asked[1].find("page=2,2"), std::string::npos) << asked[1];
}

// Requests as public clients send them, and no more of them than the answers need.
TEST_F(RelayEstimateTest, RequestsAreShapedAndCountedAsPublicClientsSendThem) {
    auto relay = OpenRelay([](RelayOptions& o) { o.quoteBatch = 3; });
    RunDay(*relay, true);
    for (const std::string& q : Asked("/q=")) {
        const auto commas = std::count(q.begin(), q.end(), ',');
        EXPECT_LE(commas, 2) << q;
    }
    const auto valuations = Asked("/mm/");
    ASSERT_FALSE(valuations.empty());
    EXPECT_NE(valuations[0].find("FIELDS=FCODE,SHORTNAME,GSZZL,GZTIME,GSZ,NAV,PDATE"), std::string::npos);
    // 161725 had a valuation and is asked every round; a fund without one waits an hour.
    m_up.ForgetRequests();
    m_now += 120;
    ASSERT_TRUE(relay->RefreshEstimates());
    auto again = Asked("/mm/");
    ASSERT_EQ(again.size(), 1u);
    EXPECT_NE(again[0].find("FCODES=161725"), std::string::npos) << again[0];
    // All eight sources, one active fund with holdings among them, the indices and their bars.
    auto lines = relay->Probe();
    ASSERT_EQ(lines.size(), 10u);
    for (const ProbeLine& l : lines)
        EXPECT_TRUE(l.ok && (l.rows > 0 || l.source == "fund information")) << l.source << ": " << l.error;
}

// A fresh relay in trading hours: holdings for the funds that have none, the share classes of
// one fund asked once, a fund someone looks at first, a resting source ends the pass.
TEST_F(RelayEstimateTest, FirstDayHoldingsInTradingHours) {
    std::string catalogue = ReadFileBytes(kDir / "fundcode_search.js");
    catalogue.replace(catalogue.find("]];"), 3,
                      R"(],["000007","HXCZHC","华夏成长混合C","混合型-灵活","X"]];)");
    m_up.Serve("/js/fundcode_search.js", catalogue);
    auto relay = OpenRelay([](RelayOptions& o) { o.fetch.backoffFirstMs = 300; });
    m_now = kAt1458 - 3 * 3600;  // 11:58
    ASSERT_TRUE(relay->RefreshCatalogue());
    ASSERT_TRUE(relay->RefreshNetValues());
    relay->Prioritize("519674");
    // The holdings service answers a page: the pass ends at once, the others never marked as tried.
    m_holdingsDown = true;
    EXPECT_FALSE(relay->RefreshHoldings(100));
    ASSERT_EQ(Asked("/FundMNewApi/FundMNInverstPosition").size(), 1u);
    EXPECT_NE(Asked("/FundMNewApi/FundMNInverstPosition")[0].find("FCODE=519674"), std::string::npos);
    m_holdingsDown = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    m_up.ForgetRequests();
    relay->Prioritize("000006");
    ASSERT_TRUE(relay->RefreshHoldings(2));
    auto asked = Asked("/FundMNewApi/FundMNInverstPosition");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[0].find("FCODE=000006"), std::string::npos) << asked[0];
    EXPECT_GT(relay->HoldingsBacklog(), 0u);
    ASSERT_TRUE(relay->RefreshHoldings(100));
    EXPECT_EQ(relay->HoldingsBacklog(), 0u);
    // 000007 is 000001's class C: same holdings, never asked for itself.
    for (const std::string& t : Asked("/FundMNewApi/FundMNInverstPosition"))
        EXPECT_EQ(t.find("FCODE=000007"), std::string::npos);
    auto s = relay->Current();
    ASSERT_TRUE(s->own->holdings.count("000007"));
    EXPECT_EQ(s->own->holdings.at("000007").stocks.size(), s->own->holdings.at("000001").stocks.size());
    // In trading hours the funds that have holdings wait for the evening.
    m_up.ForgetRequests();
    m_now += 7 * 86400;  // a week later, a Friday: all due, none asked
    ASSERT_TRUE(relay->RefreshHoldings(100));
    EXPECT_TRUE(Asked("/FundMNewApi/").empty()) << Asked("/FundMNewApi/")[0];
}

TEST(RelayHistory, ScriptsAndDailyBarsAreRead) {
    // Beijing midnights of 2026-08-19 and 2026-08-20; a dividend, then a split.
    const std::string script =
        R"(var Data_netWorthTrend = [{"x":1787068800000,"y":1.2,"equityReturn":0,"unitMoney":"分红：每份派现金0.0300元"},)"
        R"({"x":1787155200000,"y":1.1,"equityReturn":-8.33,"unitMoney":"拆分：每份基金份额折算1.027437份"}];)"
        R"(var Data_ACWorthTrend = [[1787068800000,2.5],[1787155200000,2.43]];)";
    NavHistory h;
    std::string error;
    ASSERT_TRUE(ParseNavHistory(script, h, error)) << error;
    ASSERT_EQ(h.size(), 2u);
    EXPECT_EQ(h[0].day, "2026-08-19");
    EXPECT_EQ(h[0].dividend, 0.03);
    EXPECT_EQ(h[1].split, 1.027437);
    EXPECT_EQ(h[1].acc, 2.43);
    EXPECT_EQ(NavHistoryText(NavHistoryFromText(NavHistoryText(h))), NavHistoryText(h));
    EXPECT_FALSE(ParseNavHistory("var Data_fundSharesPositions = [];", h, error));

    IndexHistory bars;
    const std::string answer = R"({"data":{"hkHSI":{"day":[["2026-08-19","1","19800.5","1","1","1"]]}}})";
    ASSERT_TRUE(ParseDailyBars(answer, "hkHSI", bars, error)) << error;
    EXPECT_EQ(bars.back().close, 19800.5);
    EXPECT_FALSE(ParseDailyBars(answer, "sh000300", bars, error));
    // The fit's days: a dividend added back, a split taken out, Hong Kong compounded over its own
    // sessions, an index that does not reach the day unknown.
    const NavHistory fund = {{"2026-08-17", 1.0},
                             {"2026-08-18", 1.01},
                             {"2026-08-19", 0.99, 0, 0.03},
                             {"2026-08-20", 0.5, 0, 0, 2.0}};
    std::map<std::string, std::shared_ptr<const IndexHistory>> indices;
    indices["sh000300"] = std::make_shared<IndexHistory>(
        IndexHistory{{"2026-08-17", 100}, {"2026-08-18", 101}, {"2026-08-19", 100}, {"2026-08-20", 102}});
    indices["hkHSI"] = std::make_shared<IndexHistory>(IndexHistory{{"2026-08-17", 200}, {"2026-08-19", 210}});
    const auto fit = FitDaysOf(fund, indices);
    ASSERT_EQ(fit.size(), 3u);
    EXPECT_NEAR(fit[0].navChange, 0.01, 1e-12);
    EXPECT_NEAR(fit[1].navChange, (0.99 + 0.03) / 1.01 - 1, 1e-12);
    EXPECT_NEAR(fit[2].navChange, 0.5 * 2 / 0.99 - 1, 1e-12);
    EXPECT_NEAR(fit[0].index[kCsi300], 0.01, 1e-12);
    EXPECT_EQ(fit[0].index[kHangSeng], 0.0);  // Hong Kong closed that day
    EXPECT_NEAR(fit[1].index[kHangSeng], 0.05, 1e-12);
    EXPECT_TRUE(std::isnan(fit[2].index[kHangSeng]));
    EXPECT_TRUE(std::isnan(fit[0].index[kCsi500]));
    // The record under the current report gives the list's move; another report's does not.
    const std::vector<TrackDay> record = {{"2026-08-18", 1.0, false, 0, 0.012, "2026-06-30"},
                                          {"2026-08-19", 1.0, false, 0, -0.02, "2026-03-31"}};
    const auto withRecord = FitDaysOf(fund, indices, &record, "2026-06-30");
    EXPECT_EQ(withRecord[0].topTen, 0.012);
    EXPECT_TRUE(std::isnan(withRecord[1].topTen));

    RecordClose(bars, "2026-08-18", 19700, 2);
    RecordClose(bars, "2026-08-20", 19900, 2);  // the oldest leaves
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_EQ(bars.front().day, "2026-08-19");
}

// The live inputs of the fit: index bars seeded once, each round's index levels, each fund's
// published days; today's curve and the method's inputs on the fund page; all kept over a restart.
TEST_F(RelayEstimateTest, IndicesFundHistoryAndTheDaysCurve) {
    auto relay = OpenRelay();
    ASSERT_TRUE(relay->RefreshIndexHistory());
    EXPECT_EQ(relay->Current()->own->indices.at("hkHSI")->size(), 3u);
    std::string why;
    m_now = kEveningBefore;
    ASSERT_TRUE(relay->RefreshCatalogue(&why)) << why;
    ASSERT_TRUE(relay->RefreshHoldings(100, &why)) << why;
    ASSERT_TRUE(relay->RefreshNetValues(&why)) << why;
    // Rounds through the day (minutes before 14:58), the price of one share moving round by round.
    const std::pair<int, const char*> rounds[] = {{-328, "1500.00"}, {-268, "1512.00"}, {-208, "1527.00"},
                                                  {-118, "1519.00"}, {-58, "1545.00"},  {0, "1530.00"}};
    for (auto [minutes, price] : rounds) {
        {
            std::lock_guard lock(m_mutex);
            m_tencentEdit = [price = std::string(price)](std::string answer) {
                if (size_t at = answer.find("~1530.00~"); at != std::string::npos)
                    answer.replace(at + 1, 7, price);
                return answer;
            };
        }
        m_now = kAt1458 + minutes * 60;
        ASSERT_TRUE(relay->RefreshEstimates(&why)) << why;
    }
    auto s = relay->Current();
    const auto& hs300 = *s->own->indices.at("sh000300");
    ASSERT_EQ(hs300.size(), 4u);
    EXPECT_EQ(hs300.back().day, "2026-08-21");
    EXPECT_EQ(hs300.back().close, 3950.0);
    EXPECT_EQ(s->indexQuotes.at("sh000300").prevClose, 3920.0);
    const auto points = s->intraday->Points("000001");
    ASSERT_EQ(points.size(), 6u);
    EXPECT_EQ(points.front().minute, 9 * 60 + 30);
    EXPECT_LT(points[0].value, points[4].value);  // the price's path, not a flat line
    ASSERT_TRUE(s->own->history.count("000001"));

    std::shared_ptr<Relay> shared = std::move(relay);
    const std::string page = FundPageOf(m_tmp.Path() / "data", shared, "000001");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(page, m, std::regex("<polyline class=\"intraday\" points=\"([^\"]*)\"")));
    std::vector<double> xs;
    const std::string line = m[1];
    const std::regex point("([\\d.]+),[\\d.]+");
    for (std::sregex_iterator it(line.begin(), line.end(), point), end; it != end; ++it)
        xs.push_back(std::stod((*it)[1]));
    ASSERT_EQ(xs.size(), 6u);
    EXPECT_TRUE(std::is_sorted(xs.begin(), xs.end()));
    // 11:30 and 13:00 meet, the lunch break takes no room: 11:30 (the third round) is mid-way.
    EXPECT_NEAR(xs[2], 64 + 560.0 / 2, 1.0);
    EXPECT_NE(page.find("报告期 2026-06-30 的前十大持仓"), std::string::npos);
    if (const char* out = std::getenv("ZEZA_FUND_PAGE_OUT")) zeza::test::WriteFileBytes(out, page);

    // The day's NAV joins the fund's history; everything is there after a restart.
    {
        std::lock_guard lock(m_mutex);
        m_navDay = "0821";
    }
    m_now = kAt2000;
    ASSERT_TRUE(shared->RefreshNetValues());
    shared.reset();
    auto again = OpenRelay();
    EXPECT_EQ(again->Current()->own->history.at("000001")->back().day, "2026-08-21");
    EXPECT_EQ(again->Current()->own->indices.at("sh000300")->size(), 4u);
    // The day's record keeps the top ten's move under its report, for the fit.
    const TrackDay* day = Day(*again->Current(), "000001", "2026-08-21");
    ASSERT_TRUE(day);
    EXPECT_EQ(day->listReport, "2026-06-30");
    EXPECT_NE(day->listMove, 0.0);
}

// The market line from each round's index quotes, in the program's order with the day's change;
// idxTime moves only with the text, and a round without quotes keeps the lines and the time.
TEST_F(RelayEstimateTest, IndexFeedFollowsTheRoundsQuotes) {
    // A quote service line of an index (the fixture has 沪深300 only).
    auto quote = [](std::string key, std::string code, std::string price, std::string prev,
                    std::string time) {
        std::string l = "v_" + key + "=\"1~x~" + code + "~" + price + "~" + prev;
        for (int i = 5; i < 30; ++i) l += "~0";
        return l + "~" + time + "~0~0\";\n";
    };
    const std::string others = quote("sz399001", "399001", "11020.35", "10950.10", "20260821145800") +
                               quote("sz399006", "399006", "2305.12", "2312.40", "20260821145800") +
                               quote("sh000905", "000905", "6100.50", "6080.20", "20260821145800");
    auto answerWith = [this](std::string extra) {
        std::lock_guard lock(m_mutex);
        m_tencentEdit = [extra](const std::string& answer) { return answer + extra; };
    };
    std::shared_ptr<Relay> relay = OpenRelay();
    std::string why;
    m_now = kEveningBefore;
    ASSERT_TRUE(relay->RefreshCatalogue(&why)) << why;
    ASSERT_TRUE(relay->RefreshNetValues(&why)) << why;
    EXPECT_EQ(relay->Current()->IdxFeed(), "");
    EXPECT_EQ(relay->Current()->ControlFile().find("idxTime"), std::string::npos);  // no feed yet

    answerWith(quote("sh000001", "000001", "3245.67", "3228.88", "20260821145800") + others +
               quote("hkHSI", "HSI", "19870.12", "19931.91", "2026/08/21 14:58:00"));
    m_now = kAt1458;
    ASSERT_TRUE(relay->RefreshEstimates(&why)) << why;
    const std::string lines = zeza::test::G(
        "sh000001|上证指数|3245.67|0.52|2026-08-21 14:58:00\r\n"
        "sz399001|深证成指|11020.35|0.64|2026-08-21 14:58:00\r\n"
        "sz399006|创业板指|2305.12|-0.31|2026-08-21 14:58:00\r\n"
        "sh000300|沪深300|3950.00|0.77|2026-08-21 14:58:00\r\n");
    const std::string hangSeng = zeza::test::G("hkHSI|恒生指数|19870.12|-0.31|2026-08-21 14:58:00\r\n");
    const std::string csi500 = zeza::test::G("sh000905|中证500|6100.50|0.33|2026-08-21 14:58:00\r\n");
    auto first = relay->Current();
    EXPECT_EQ(first->IdxFeed(), lines + hangSeng + csi500);  // 中证1000 had no quote: no line
    EXPECT_EQ(first->idxTime, kAt1458);
    EXPECT_NE(first->ControlFile().find("\r\nidxTime=" + std::to_string(kAt1458) + "\r\n"),
              std::string::npos);
    {
        auto srv = zeza::test::StartDataServer(m_tmp.Path() / "data", relay);
        ASSERT_TRUE(srv);
        auto res = httplib::Client("127.0.0.1", srv->Port()).Get("/fund/gdata.php?tp=idx&dt=0");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->body, first->IdxFeed());
    }

    // Both quote services down: a new snapshot, the same lines and time.
    m_tencentDown = m_sinaDown = true;
    m_now = kAt1458 + 120;
    ASSERT_TRUE(relay->RefreshEstimates(&why)) << why;
    ASSERT_NE(relay->Current(), first);
    EXPECT_EQ(relay->Current()->IdxFeed(), first->IdxFeed());
    EXPECT_EQ(relay->Current()->idxTime, kAt1458);

    // Back, without the Hang Seng: it keeps its last line, the moved index gets its new one.
    m_tencentDown = m_sinaDown = false;
    answerWith(quote("sh000001", "000001", "3260.00", "3228.88", "20260821150200") + others);
    m_now = kAt1458 + 240;
    ASSERT_TRUE(relay->RefreshEstimates(&why)) << why;
    const std::string moved = zeza::test::G("sh000001|上证指数|3260.00|0.96|2026-08-21 15:02:00\r\n");
    EXPECT_EQ(relay->Current()->IdxFeed(), moved + lines.substr(lines.find("\r\n") + 2) + hangSeng + csi500);
    EXPECT_EQ(relay->Current()->idxTime, kAt1458 + 240);
}
