// A fresh relay started at 10:00 on a trading day, with no holdings yet, at real scale: 10,000
// active funds in 5,000 pairs of A/C classes. Its schedule runs against a fake upstream on
// 127.0.0.1 in simulated time (the fetcher's turns move a virtual clock instead of sleeping;
// the requests themselves take no virtual time). Reported: minutes until 90 % of the funds
// have an own estimate in the feed, the most requests any host saw in one second, and the
// requests per source.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <filesystem>
#include <string>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "server/relay/Relay.h"
#include "server/relay/Schedule.h"
#include "tests/LocalHttpServer.h"

using namespace zeza::relay;

namespace {

constexpr int kPairs = 5000, kShares = 3000;
constexpr int64_t kStartUtc = 1796695200;     // Tuesday 2026-12-08 10:00 Beijing
constexpr int64_t kReportMs = 1790697600000;  // 2026-09-30 00:00 Beijing

std::string Code(int i) {
    char buf[8];
    std::snprintf(buf, sizeof(buf), "%06d", 100000 + i);
    return buf;
}

std::string ShareKey(int i) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%s%06d", i % 2 ? "sz" : "sh", i % 2 ? i : 600000 + i);
    return buf;
}

// Fund 2k is class A, 2k+1 class C of the same fund.
std::string Catalogue() {
    std::string s = "var r = [";
    for (int i = 0; i < 2 * kPairs; ++i)
        s += std::string(i ? "," : "") + "[\"" + Code(i) + "\",\"X\",\"测试成长混合" + std::to_string(i / 2) +
             (i % 2 ? "C" : "A") + "\",\"混合型-偏股\",\"X\"]";
    return s + "];";
}

std::string NavPage(size_t page, size_t size) {
    const size_t total = 2 * kPairs, pages = (total + size - 1) / size;
    std::string s = "var db={chars:[],datas:[";
    for (size_t i = (page - 1) * size; i < std::min(total, page * size); ++i)
        s += "[\"" + Code(static_cast<int>(i)) +
             "\",\"x\",\"X\",\"1.2000\",\"2.2000\",\"1.1900\",\"2.1900\"],";
    return s + "],record:\"" + std::to_string(total) + "\",pages:\"" + std::to_string(pages) +
           "\",curpage:\"" + std::to_string(page) + "\",showday:[\"2026-12-07\",\"2026-12-04\"]}";
}

std::string Holdings(int fund) {
    std::string s = R"({"Datas":{"fundStocks":[)";
    for (int k = 0; k < 10; ++k) {
        const int share = (fund * 7 + k * 293) % kShares;
        const std::string key = ShareKey(share);
        s += std::string(k ? "," : "") + R"({"GPDM":")" + key.substr(2) + R"(","GPJC":"s","JZBL":")" +
             std::to_string(9 - k * 0.5) + R"(","NEWTEXCH":")" + (key[1] == 'h' ? "1" : "0") + "\"}";
    }
    return s + R"(]},"Success":true,"Expansion":"2026-09-30"})";
}

std::string Script() {
    return "var Data_fundSharesPositions = [[" + std::to_string(kReportMs) +
           ",85.0]];var Data_assetAllocation = {\"series\":[{\"name\":\"股票占净比\",\"data\":[85.0]}],"
           "\"categories\":[\"2026-09-30\"]};";
}

std::string Quotes(const std::string& keys) {
    std::string out;
    for (size_t at = 0, end; at < keys.size(); at = end + 1) {
        end = std::min(keys.find(',', at), keys.size());
        const std::string key = keys.substr(at, end - at);
        const int n = std::stoi(key.substr(2)) % 37;
        out +=
            "v_" + key + "=\"1~s~" + key.substr(2) + "~" + std::to_string(10.0 + n / 10.0) + "~10.00~10.00";
        for (int i = 6; i < 30; ++i) out += "~0";
        out += "~20261208100000~0~0\";\n";
    }
    return out;
}

void BM_FirstDayOwnEstimates(benchmark::State& state) {
    // One server per upstream host, so the fetcher spaces each as it spaces the real ones.
    zeza::test::LocalHttpServer site, mobile, valuation, quote;
    std::atomic<int64_t> virtualMs{0};
    std::mutex seenMutex;
    std::map<std::string, std::deque<int64_t>> recent;  // per host: request times in the last second
    std::map<std::string, size_t> perSource;
    size_t busiestSecond = 0;
    auto count = [&](const std::string& host, const std::string& source) {
        std::lock_guard lock(seenMutex);
        ++perSource[source];
        auto& q = recent[host];
        const int64_t now = virtualMs;
        q.push_back(now);
        while (!q.empty() && q.front() <= now - 1000) q.pop_front();
        busiestSecond = std::max(busiestSecond, q.size());
    };
    const std::string catalogue = Catalogue(), script = Script();
    site.Http().Get("/js/fundcode_search.js", [&](const auto&, auto& res) {
        count("site", "catalogue");
        res.set_content(catalogue, "application/javascript");
    });
    site.Http().Get("/Data/Fund_JJJZ_Data.aspx", [&](const httplib::Request& req, httplib::Response& res) {
        count("site", "net value pages");
        const std::string p = req.get_param_value("page");
        res.set_content(NavPage(std::stoul(p), std::stoul(p.substr(p.find(',') + 1))), "text/plain");
    });
    site.Http().Get(R"(/pingzhongdata/(\d+)\.js)", [&](const auto&, auto& res) {
        count("site", "data scripts");
        res.set_content(script, "application/javascript");
    });
    valuation.Http().Get("/mm/newCore/FundValuationLast", [&](const auto&, auto& res) {
        count("valuation", "valuations");
        res.set_content(R"({"success":true,"data":[]})", "application/json");
    });
    mobile.Http().Get(
        "/FundMNewApi/FundMNInverstPosition", [&](const httplib::Request& req, httplib::Response& res) {
            count("mobile", "holdings");
            res.set_content(Holdings(std::stoi(req.get_param_value("FCODE")) - 100000), "application/json");
        });
    quote.Http().Get(R"(/q=(.*))", [&](const httplib::Request& req, httplib::Response& res) {
        count("quote", "quotes");
        res.set_content(Quotes(req.matches[1]), "text/html; charset=GBK");
    });
    for (auto* s : {&site, &mobile, &valuation, &quote}) s->Start();

    double minutes90 = -1, ownAtEnd = 0;
    size_t requests = 0;
    for (auto _ : state) {
        char dir[] = "/tmp/zeza-first-day-XXXXXX";
        if (!mkdtemp(dir)) state.SkipWithError("no temporary folder");
        RelayOptions o;
        o.dataDir = dir;
        o.catalogueUrl = site.Base() + "js/fundcode_search.js";
        o.netValueUrl = site.Base() + "Data/Fund_JJJZ_Data.aspx?t=1&lx=1";
        o.fundInfoUrl = mobile.Base() + "FundMNewApi/FundMNFInfo";
        o.estimateUrl = valuation.Base() + "mm/newCore/FundValuationLast";
        o.holdingsUrl = mobile.Base() + "FundMNewApi/FundMNInverstPosition?x=1";
        o.positionUrl = site.Base() + "pingzhongdata/";
        o.quoteUrl = quote.Base() + "q=";
        o.fetch.simulatedNow = [&] {
            return std::chrono::steady_clock::time_point(std::chrono::milliseconds(virtualMs));
        };
        o.fetch.simulatedWaitUntil = [&](std::chrono::steady_clock::time_point t) {
            const int64_t ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
            int64_t cur = virtualMs;
            while (cur < ms && !virtualMs.compare_exchange_weak(cur, ms)) {
            }
        };
        o.clock = [&] { return kStartUtc + virtualMs / 1000; };
        Relay relay(o);
        std::string error;
        if (!relay.Open(error)) state.SkipWithError(error.c_str());
        minutes90 = -1;
        bool first = true;
        // The schedule loop's own steps: what is due, then a slice of holdings; it waits only
        // when no fund is left without holdings.
        while (virtualMs < 120 * 60000) {
            relay.RunDue(first);
            first = false;
            auto snap = relay.Current();
            const size_t own = std::count_if(snap->estimates.begin(), snap->estimates.end(),
                                             [](const RelayEstimate& e) { return e.own; });
            ownAtEnd = static_cast<double>(own) / (2 * kPairs);
            if (minutes90 < 0 && ownAtEnd >= 0.9) minutes90 = virtualMs / 60000.0;
            relay.RefreshHoldings(o.holdingsPerPass);
            if (relay.HoldingsBacklog() == 0) virtualMs += o.checkSeconds * 1000;
            if (minutes90 >= 0) break;
        }
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    for (auto* s : {&site, &mobile, &valuation, &quote}) s->Stop();
    for (const auto& [source, n] : perSource) requests += n;
    state.counters["minutes_to_90pct"] = minutes90;
    state.counters["own_share_at_end"] = ownAtEnd;
    state.counters["busiest_host_requests_in_1s"] = static_cast<double>(busiestSecond);
    state.counters["requests"] = static_cast<double>(requests);
    for (const auto& [source, n] : perSource) std::printf("requests to %s: %zu\n", source.c_str(), n);
}
BENCHMARK(BM_FirstDayOwnEstimates)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
