// One keystroke in the search field against 20,000 suggestion entries: the
// scan of every candidate for the typed prefix and the sort of the matches,
// as the field does on each change of its text. The candidates come ordered
// by name, as they are loaded, so the sort has real work to do. Keystroke is
// the code field's matching (codes only), NameKeystroke the main search
// field's (codes, then names and pinyin initials). Initials times what the
// refresh pass adds for a changed catalogue: the initials of 20,000 names.
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/GbkCodec.h"
#include "suggest/PinyinInitials.h"
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

// The popup holds its own copies, appended one by one in list order, so their
// texts lie in memory in that order: the scan of a keystroke reads them so.
const std::vector<std::string>& Candidates() {
    static const std::vector<std::string> loaded = MakeCandidates();
    static const std::vector<std::string> candidates(loaded);
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

// The initials as the refresh pass hands them to the window.
const std::vector<std::string>& CandidateInitials() {
    static zeza::PinyinInitials pinyin;
    static const std::vector<std::string> initials = pinyin.OfEntries(Candidates());
    return initials;
}

void NameKeystroke(benchmark::State& state, const std::string& utf8) {
    const auto& candidates = Candidates();
    const auto& initials = CandidateInitials();
    const std::string text = zeza::Utf8ToGbk(utf8);
    std::vector<std::string> matches;
    for (auto _ : state) {
        zeza::CollectNameMatches(candidates, initials, text, matches);
        benchmark::DoNotOptimize(matches.data());
    }
    state.counters["matches"] = static_cast<double>(matches.size());
}

// 20,000 names drawn from all 3,755 common characters (GBK B0A1 to D7F9), far
// more distinct characters than a real catalogue has: each is transliterated once.
std::vector<std::string> WideCandidates() {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> lead(0xB0, 0xD7), trail(0xA1, 0xFE), len(3, 9);
    std::vector<std::string> entries;
    for (int i = 0; i < kEntries; ++i) {
        char code[8];
        std::snprintf(code, sizeof code, "%06d", i);
        std::string e = std::string(code) + "-";
        for (int n = len(rng); n > 0; --n) {
            const int l = lead(rng);
            const int t = l == 0xD7 ? std::min(trail(rng), 0xF9) : trail(rng);
            e += static_cast<char>(l);
            e += static_cast<char>(t);
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

// The first object of a process also loads ICU's Han-Latin rules: timed once,
// registered first so that nothing has loaded them before.
void InitialsFirstInProcess(benchmark::State& state) {
    const auto& candidates = Candidates();
    for (auto _ : state) {
        zeza::PinyinInitials pinyin;
        benchmark::DoNotOptimize(pinyin.OfEntries(candidates).data());
    }
}

// A changed catalogue on a fresh object (no character looked up yet): the
// most a refresh pass spends on initials once the rules are loaded.
void Initials(benchmark::State& state, bool wide) {
    static const std::vector<std::string> wideCandidates = WideCandidates();
    const auto& candidates = wide ? wideCandidates : Candidates();
    size_t letters = 0;
    for (auto _ : state) {
        zeza::PinyinInitials pinyin;
        const auto& initials = pinyin.OfEntries(candidates);
        letters = 0;
        for (const auto& i : initials) letters += i.size();
        benchmark::DoNotOptimize(letters);
    }
    state.counters["letters"] = static_cast<double>(letters);
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

BENCHMARK(InitialsFirstInProcess)->Unit(benchmark::kMillisecond)->Iterations(1);
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
BENCHMARK_CAPTURE(NameKeystroke, first_digit_0, std::string("0"))
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(NameKeystroke, letter_h, std::string("h"))
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(NameKeystroke, character_hua, std::string("华"))
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(NameKeystroke, initials_hxcz, std::string("hxcz"))
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(Initials, bench_names, false)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(Initials, all_common_characters, true)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK(EveryEntryMatches)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
