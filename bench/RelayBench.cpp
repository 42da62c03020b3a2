// The relay's work on a full day's data: a 20,000-fund catalogue and a 20,000-row net
// value page parsed and turned into feed files; and what serving a feed then costs.

#include <cstdio>
#include <string>

#include <benchmark/benchmark.h>

#include "server/relay/Snapshot.h"
#include "server/relay/Sources.h"

using namespace zeza::relay;

namespace {

constexpr int kFunds = 20000;
const char* kTypes[] = {"混合型-灵活", "股票型", "债券型-长债", "指数型-股票", "QDII-普通股票", "FOF-稳健型"};

std::string Code(int i) {
    char buf[8];
    std::snprintf(buf, sizeof(buf), "%06d", 100000 + i);
    return buf;
}

std::string CatalogueScript() {
    std::string s = "var r = [";
    for (int i = 0; i < kFunds; ++i) {
        if (i) s += ',';
        s += "[\"" + Code(i) + "\",\"HXCZHH\",\"华夏成长混合第" + std::to_string(i) + "号\",\"" +
             kTypes[i % 6] + "\",\"HUAXIACHENGZHANGHUNHE\"]";
    }
    return s + "];";
}

std::string NetValuePage() {
    std::string s = "var db={chars:[\"a\"],datas:[";
    for (int i = 0; i < kFunds; ++i) {
        if (i) s += ',';
        bool late = i % 50 == 0;  // a QDII or bond fund that has not published yet
        s += "[\"" + Code(i) + "\",\"华夏成长混合\",\"HXCZHH\",\"" + (late ? "" : "1.2050") + "\",\"" +
             (late ? "" : "3.7420") +
             "\",\"1.2010\",\"3.7380\",\"0.0040\",\"0.33\",\"开放申购\",\"开放赎回\",\"\",\"1\",\"0\",\"1\","
             "\"\","
             "\"1\",\"0.15%\",\"0.15%\",\"1\",\"1.50%\"]";
    }
    return s +
           "],count:[\"1\",\"0\",\"0\",\"0\"],record:\"20000\",pages:\"1\",curpage:\"1\","
           "showday:[\"2026-08-20\",\"2026-08-19\"]}";
}

// Parse both pages, convert, build the snapshot's feed files.
void BM_CatalogueAndNetValuesToFeeds(benchmark::State& state) {
    const std::string catalogue = CatalogueScript(), page = NetValuePage();
    size_t bytes = 0;
    for (auto _ : state) {
        std::vector<CatalogueRow> rows;
        NavPage nav;
        std::string error;
        if (!ParseCatalogue(catalogue, rows, error) || !ParseNavPage(page, nav, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        Snapshot prev, next;
        next.funds = FundsFromCatalogue(rows, prev, 1787300000);
        NetValueBuild build = NetValuesFromPage(nav);
        AddLateFunds(build, {}, prev);
        next.quoteDate = build.quoteDate;
        next.navs = std::move(build.navs);
        next.Build();
        bytes = next.ListFeed(0).size() + next.NavFeed().size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["feed_bytes"] = static_cast<double>(bytes);
    state.counters["input_bytes"] = static_cast<double>(catalogue.size() + page.size());
}
BENCHMARK(BM_CatalogueAndNetValuesToFeeds)->Unit(benchmark::kMillisecond);

// Answering a request for the net value feed: a copy of bytes already built.
void BM_ServeNetValueFeedFromSnapshot(benchmark::State& state) {
    std::vector<CatalogueRow> rows;
    NavPage nav;
    std::string error;
    ParseCatalogue(CatalogueScript(), rows, error);
    ParseNavPage(NetValuePage(), nav, error);
    Snapshot s;
    s.funds = FundsFromCatalogue(rows, s, 1);
    s.navs = NetValuesFromPage(nav).navs;
    s.Build();
    for (auto _ : state) {
        std::string body = s.NavFeed();
        benchmark::DoNotOptimize(body.data());
    }
}
BENCHMARK(BM_ServeNetValueFeedFromSnapshot)->Unit(benchmark::kMicrosecond);

}  // namespace

// Peak memory of the whole run, printed after the figures.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    while (f && std::fgets(line, sizeof(line), f))
        if (std::string(line).rfind("VmHWM:", 0) == 0) std::printf("peak resident memory %s", line + 6);
    if (f) std::fclose(f);
    return 0;
}
