// The relay's work on a full day's data: a 20,000-fund catalogue and a 20,000-row net
// value page parsed and turned into feed files; and what serving a feed then costs.
// Its own estimates: one round over 10,000 funds from 5,000 quotes (plain and with every fund
// fitted), the nightly refit of 10,000 funds, and the quote requests.
// relay.db with 15,000 funds and 120 days of their record: a round saved, the start, the
// nightly trim (medians: --benchmark_filter=RelayStore --benchmark_repetitions=5).

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "server/relay/Method.h"
#include "server/relay/OwnEstimate.h"
#include "server/relay/RelayStore.h"
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

// The relay's own estimates: 10,000 funds with ten shares each out of 5,000 listed shares.
constexpr int kEstimatedFunds = 10000, kShares = 5000;

std::string ShareKey(int i) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%s%06d", i % 2 ? "sz" : "sh", i % 2 ? i : 600000 + i);
    return buf;
}

Snapshot EstimatedFunds() {
    Snapshot s;
    auto book = std::make_shared<OwnBook>();
    for (int i = 0; i < kEstimatedFunds; ++i) {
        const std::string code = Code(i);
        s.funds.push_back({code, "fund", i % 2 ? "gu" : "hun", 1, false, true});
        s.navs.push_back({code, "2026-08-20", 2.0, 1.0 + i % 100 / 100.0, 1.0});
        FundHoldings h;
        h.reportDate = h.equityDate = "2026-06-30";
        h.equityPct = 85;
        for (int k = 0; k < 10; ++k) {
            const int share = (i * 7 + k * 491) % kShares;
            h.stocks.push_back({ShareKey(share), ShareKey(share).substr(2), "share", 9.5 - k * 0.6});
        }
        book->holdings[code] = std::move(h);
    }
    s.own = book;
    s.quoteDate = "2026-08-20";
    s.Build();
    return s;
}

QuoteMap Quotes() {
    QuoteMap q;
    for (int i = 0; i < kShares; ++i) q[ShareKey(i)] = {10.0 + i % 37 / 10.0, 10.0, "2026-08-21"};
    return q;
}

// One round over every fund from quotes already fetched: what each 2-minute run computes.
void BM_OwnEstimateRound(benchmark::State& state) {
    const Snapshot s = EstimatedFunds();
    const QuoteMap q = Quotes();
    size_t published = 0;
    for (auto _ : state) {
        auto round = EstimateRound(s, q, "2026-08-21");
        published = round.size();
        benchmark::DoNotOptimize(round.data());
    }
    state.counters["funds_estimated"] = static_cast<double>(published);
    state.counters["quote_requests"] = static_cast<double>(QuoteUrls("", QuoteKeys(s, "2026-08-21")).size());
}
BENCHMARK(BM_OwnEstimateRound)->Unit(benchmark::kMillisecond);

// 120 past days of a fund (index moves and NAV changes), the last 20 under its current list.
double Noise(int a, int b) {
    double h = std::sin(a * 12.9898 + b * 78.233) * 43758.5453;
    return h - std::floor(h) - 0.5;
}

std::vector<FitDay> FundHistory(int fund) {
    std::vector<FitDay> days(120);
    for (int d = 0; d < 120; ++d) {
        FitDay& day = days[d];
        double nav = 0;
        for (int k = 0; k < kIndexCount; ++k) {
            day.index[k] = 0.04 * Noise(d, k);
            nav += (0.1 + 0.05 * k) * day.index[k];
        }
        if (d >= 100) day.topTen = 0.04 * Noise(d + fund, 7);
        day.navChange = nav + 0.3 * (std::isnan(day.topTen) ? 0 : day.topTen) + 0.004 * Noise(d, fund + 9);
    }
    return days;
}

// The nightly refit of every estimated fund from its history (one core).
void BM_FitFunds(benchmark::State& state) {
    std::vector<std::vector<FitDay>> histories;
    for (int i = 0; i < kEstimatedFunds; ++i) histories.push_back(FundHistory(i));
    size_t fitted = 0;
    for (auto _ : state) {
        fitted = 0;
        for (int i = 0; i < kEstimatedFunds; ++i) {
            FundFit fit = FitFund(histories[i], i % 10 == 0);
            fitted += fit.days > 0;
            benchmark::DoNotOptimize(fit);
        }
    }
    state.counters["funds_fitted"] = static_cast<double>(fitted);
}
BENCHMARK(BM_FitFunds)->Unit(benchmark::kMillisecond);

// One round with every fund fitted: the shares outside the top ten follow the indices' quotes.
void BM_OwnEstimateRoundFitted(benchmark::State& state) {
    const Snapshot s = EstimatedFunds();
    QuoteMap q = Quotes();
    for (int k = 0; k < kIndexCount; ++k)
        q[std::string(kIndexKeys[k])] = {1000.0 + 3 * k, 1000.0, "2026-08-21"};
    std::unordered_map<std::string, FundFit> fits;
    for (int i = 0; i < kEstimatedFunds; ++i) fits[Code(i)] = FitFund(FundHistory(i), false);
    size_t published = 0;
    for (auto _ : state) {
        published = 0;
        for (const auto& [code, h] : s.own->holdings) {
            auto fit = fits.find(code);
            FundEstimate e = EstimateFund(*s.FindFund(code), s.FindNav(code), &h, q, "2026-08-21",
                                          s.quoteDate, fit == fits.end() ? nullptr : &fit->second);
            published += e.verdict == Verdict::Published;
            benchmark::DoNotOptimize(e);
        }
    }
    state.counters["funds_estimated"] = static_cast<double>(published);
}
BENCHMARK(BM_OwnEstimateRoundFitted)->Unit(benchmark::kMillisecond);

// The shares the round needs and their request URLs, 500 a request.
void BM_QuoteKeysAndRequests(benchmark::State& state) {
    const Snapshot s = EstimatedFunds();
    size_t requests = 0, keys = 0;
    for (auto _ : state) {
        auto k = QuoteKeys(s, "2026-08-21");
        keys = k.size();
        requests = QuoteUrls("http://qt.gtimg.cn/q=", k).size();
        benchmark::DoNotOptimize(requests);
    }
    state.counters["shares"] = static_cast<double>(keys);
    state.counters["requests"] = static_cast<double>(requests);
}
BENCHMARK(BM_QuoteKeysAndRequests)->Unit(benchmark::kMillisecond);

// Reading the ten answers for 5,000 shares.
void BM_ParseQuoteAnswers(benchmark::State& state) {
    std::string body;
    for (int i = 0; i < kShares; ++i) {
        const std::string key = ShareKey(i);
        body += "v_" + key + "=\"1~\xB9\xF3\xD6\xDD\xC3\xA9\xCC\xA8~" + key.substr(2) + "~10.50~10.00~10.01";
        for (int f = 6; f < 30; ++f) body += "~0";
        body += "~20260821145800~0.50~5.00~10.60~9.90~10.50/1234/5678~1234~5678~0.10~30.5~~10.60~9.90\";\n";
    }
    QuoteRead read;
    for (auto _ : state) {
        QuoteMap q;
        std::string error;
        if (!ParseTencentQuotes(body, q, read, error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(q.size());
    }
    state.counters["quotes"] = static_cast<double>(read.quotes);
    state.counters["bytes"] = static_cast<double>(body.size());
}
BENCHMARK(BM_ParseQuoteAnswers)->Unit(benchmark::kMillisecond);

// relay.db as 15,000 tracked funds leave it after 120 trading days: their holdings and the
// record, written a day at a time as the relay does. Built once for the benchmarks below.
constexpr int kTrackedFunds = 15000, kRecordDays = 120;

std::string RecordDay(int i) {
    using namespace std::chrono;
    const year_month_day d{sys_days{2026y / 1 / 1} + days{i}};
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%04d-%02u-%02u", static_cast<int>(d.year()),
                  static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day()));
    return buf;
}

std::vector<std::pair<std::string, TrackDay>> Round(int day, double move) {
    std::vector<std::pair<std::string, TrackDay>> rows;
    rows.reserve(kTrackedFunds);
    const std::string date = RecordDay(day);
    // The funds in the order of the relay's own map, not sorted.
    for (int k = 0; k < kTrackedFunds; ++k) {
        const int i = (k * 7919) % kTrackedFunds;
        const double nav = 1.0 + (i % 997) / 1000.0;
        rows.push_back({Code(i), {date, nav * (1.0123 + move), i % 5 == 0, day < kRecordDays ? nav : 0}});
    }
    return rows;
}

struct RecordFile {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zeza-relay-bench-" + std::to_string(getpid()));
    std::filesystem::path file = dir / "relay.db";
    std::string error;

    RecordFile() {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        RelayStore store;
        if (!store.Open(file, error)) return;
        std::vector<std::pair<std::string, FundHoldings>> holdings;
        for (int i = 0; i < kTrackedFunds; ++i) {
            FundHoldings h{"2026-06-30", {}, 85, "2026-06-30", 1787300000};
            for (int k = 0; k < 10; ++k)
                h.stocks.push_back({ShareKey((i * 7 + k * 491) % kShares), "600000", "share", 9.5 - k * 0.6});
            holdings.emplace_back(Code(i), std::move(h));
        }
        if (!store.SaveHoldings(holdings, error)) return;
        for (int day = 0; day < kRecordDays; ++day)
            if (!store.SaveTrack(Round(day, 0), error)) return;
    }
    ~RecordFile() { std::filesystem::remove_all(dir); }
    double SizeMb() const { return static_cast<double>(std::filesystem::file_size(file)) / 1e6; }
};

RecordFile& Record() {
    static RecordFile record;
    return record;
}

// The record's file opened in store; false (the benchmark skipped) when it could not be.
bool OpenRecord(benchmark::State& state, RelayStore& store) {
    std::string error = Record().error;
    if (error.empty() && store.Open(Record().file, error)) return true;
    state.SkipWithError(error.c_str());
    return false;
}

// One save of an estimate round: the day after the record, each run overwriting the last.
void BM_RelayStoreSaveRound(benchmark::State& state) {
    RecordFile& record = Record();
    RelayStore store;
    if (!OpenRecord(state, store)) return;
    std::string error;
    double move = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto rows = Round(kRecordDays, move += 0.0001);
        state.ResumeTiming();
        if (!store.SaveTrack(rows, error)) state.SkipWithError(error.c_str());
    }
    state.counters["file_MB"] = record.SizeMb();
}
BENCHMARK(BM_RelayStoreSaveRound)->Unit(benchmark::kMillisecond);

// The start: open the file and load the snapshot with the record's latest 60 days.
void BM_RelayStoreStart(benchmark::State& state) {
    RecordFile& record = Record();
    size_t days = 0, funds = 0;
    for (auto _ : state) {
        RelayStore store;
        Snapshot s;
        RunTimes runs;
        std::string error = record.error;
        if (!error.empty() || !store.Open(record.file, error) || !store.Load(s, runs, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        funds = s.own->tracks.size();
        days = 0;
        for (const auto& [code, t] : s.own->tracks) days += t->size();
    }
    state.counters["file_MB"] = record.SizeMb();
    state.counters["funds"] = static_cast<double>(funds);
    state.counters["days_loaded"] = static_cast<double>(days);
}
BENCHMARK(BM_RelayStoreStart)->Unit(benchmark::kMillisecond);

// The nightly trim: a day off the head of the record.
void BM_RelayStorePruneDay(benchmark::State& state) {
    RecordFile& record = Record();
    RelayStore store;
    if (!OpenRecord(state, store)) return;
    std::string error;
    static int pruned = 0;
    for (auto _ : state)
        if (!store.PruneTrack(RecordDay(++pruned), error)) state.SkipWithError(error.c_str());
    state.counters["file_MB"] = record.SizeMb();
}
BENCHMARK(BM_RelayStorePruneDay)->Unit(benchmark::kMillisecond)->Iterations(3);

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
