// One keystroke in the search field against 20,000 suggestion entries: the
// scan of every candidate for the typed prefix and the sort of the matches,
// as the field does on each change of its text. The candidates come ordered
// by name, as they are loaded, so the sort has real work to do.
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/GbkCodec.h"
#include "suggest/SuggestMatch.h"

namespace {

constexpr int kEntries = 20000;

// Codes spread over the leading digits roughly as the catalogue has them:
// about half begin with 0, a quarter with 1, then 5 and the rest.
std::vector<std::string> MakeCandidates() {
    std::mt19937 rng(20240315);
    const std::string all = zeza::Utf8ToGbk(
        "华夏南方嘉实易方达博时广发富国汇添富银华招商鹏华大成长城景顺工银中欧兴全交银建信"
        "成长优势精选稳健收益债券混合指数增强价值回报红利灵活配置策略先锋新兴产业消费医疗");
    std::vector<std::string> gbkChars;
    for (size_t i = 0; i < all.size(); i += zeza::GbkCharLength(all, i))
        gbkChars.push_back(all.substr(i, zeza::GbkCharLength(all, i)));
    const char* suffixes[] = {"", "", "", "A", "C", "ETF", "LOF"};
    std::uniform_int_distribution<int> pick(0, static_cast<int>(gbkChars.size()) - 1);
    std::uniform_int_distribution<int> len(3, 9);
    std::uniform_int_distribution<int> rest(0, 99999);
    std::uniform_int_distribution<int> lead(0, 99);
    std::uniform_int_distribution<int> suffix(0, 6);

    std::vector<std::pair<std::string, std::string>> funds;  // name, entry
    for (int i = 0; i < kEntries; ++i) {
        const int l = lead(rng);
        const char first = l < 50 ? '0' : l < 75 ? '1' : l < 90 ? '5' : static_cast<char>('2' + l % 3);
        char code[8];
        std::snprintf(code, sizeof code, "%c%05d", first, rest(rng));
        std::string name;
        for (int n = len(rng); n > 0; --n) name += gbkChars[pick(rng)];
        name += suffixes[suffix(rng)];
        funds.emplace_back(name, std::string(code) + "-" + name);
    }
    std::sort(funds.begin(), funds.end());
    std::vector<std::string> entries;
    for (auto& f : funds) entries.push_back(std::move(f.second));
    return entries;
}

const std::vector<std::string>& Candidates() {
    static const std::vector<std::string> candidates = MakeCandidates();
    return candidates;
}

void Keystroke(benchmark::State& state, const std::string& text) {
    const auto& candidates = Candidates();
    std::vector<std::string> matches;
    for (auto _ : state) {
        zeza::CollectMatches(candidates, text, matches);
        benchmark::DoNotOptimize(matches.data());
    }
    state.counters["matches"] = static_cast<double>(matches.size());
}

// Every entry matches: the largest sort one keystroke can ask for.
void EveryEntryMatches(benchmark::State& state) {
    std::vector<std::string> candidates = Candidates();
    for (auto& c : candidates) c = "x" + c;
    std::vector<std::string> matches;
    for (auto _ : state) {
        zeza::CollectMatches(candidates, "X", matches);
        benchmark::DoNotOptimize(matches.data());
    }
    state.counters["matches"] = static_cast<double>(matches.size());
}

}  // namespace

BENCHMARK_CAPTURE(Keystroke, first_digit_0, std::string("0"))
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(Keystroke, first_digit_5, std::string("5"))
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(Keystroke, four_digits_0001, std::string("0001"))
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK(EveryEntryMatches)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
