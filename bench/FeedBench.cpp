// Applying each feed of 20,000 lines to a catalogue of 20,000 funds, measured
// beside a bare prepared insert of 20,000 rows (the floor) and beside running
// each line as its own text statement (the way that scans the unindexed
// catalogue once per line). Every run starts from a fresh copy of the same
// database. The medians and their ratios are printed at the end.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <sqlite3.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "db/CFundDb.h"
#include "db/SqliteConnection.h"
#include "platform/GbkCodec.h"
#include "platform/WholeFile.h"
#include "sync/EstimateFeed.h"
#include "sync/FundListFeed.h"
#include "sync/NetValueFeed.h"

namespace {

constexpr int kFunds = 20000;

std::string g_seedDatabase;  // bytes of the 20,000-fund database

std::string Code(int i) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%06d", 100000 + i);
    return buf;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
}

std::string ReadFile(const std::string& path) {
    std::string bytes;
    Check(zeza::ReadWholeFile(path, bytes) == zeza::WholeFileRead::Read, "read");
    return bytes;
}

// Runs in a scratch folder, which becomes the current directory (./Zeza.db).
void Prepare() {
    std::string dir = (std::filesystem::temp_directory_path() / "zeza-feedbench-XXXXXX").string();
    Check(mkdtemp(dir.data()) != nullptr, "mkdtemp");
    std::filesystem::current_path(dir);

    Check(zeza::CFundDb::WriteTemplateDatabase() == 1, "template");
    {
        zeza::SqliteConnection db;
        Check(db.Open(), "open");
        Check(db.Exec("BEGIN; DELETE FROM fu_list;") == SQLITE_OK, "begin");
        const std::string type = zeza::Utf8ToGbk("股票型");
        for (int i = 0; i < kFunds; ++i) {
            Check(db.Exec("INSERT INTO fu_list (codel,name,type,look) VALUES (?,?,?,?);",
                          {Code(i), zeza::Utf8ToGbk("基金") + std::to_string(i), type,
                           i % 50 == 0 ? -1LL : 0LL}) == SQLITE_OK,
                  "seed");
        }
        Check(db.Exec("COMMIT;") == SQLITE_OK, "commit");
    }
    g_seedDatabase = ReadFile("Zeza.db");

    std::string list, stk = "2008-11-14\r\n", est;
    const std::string name = zeza::Utf8ToGbk("新基金");
    for (int i = 0; i < kFunds; ++i) {
        list += Code(i) + "|" + name + std::to_string(i) + "|" + (i % 2 ? "hun" : "gu") + "\r\n";
        stk += Code(i) + "|3.1200|1.0560|1.0610\r\n";
        est += Code(i) + "|1.0623\r\n";
    }
    WriteFile("list.tmp", list);
    WriteFile("stk.tmp", stk);
    WriteFile("est.tmp", est);
}

void FreshDatabase(benchmark::State& state) {
    state.PauseTiming();
    WriteFile("Zeza.db", g_seedDatabase);
    state.ResumeTiming();
}

// --- the feeds as built ---

void BM_FundListFeed(benchmark::State& state) {
    for (auto _ : state) {
        FreshDatabase(state);
        if (zeza::ApplyFundListFile("list.tmp") != 1) state.SkipWithError("fund list feed failed");
    }
}

void BM_NetValueFeed(benchmark::State& state) {
    for (auto _ : state) {
        FreshDatabase(state);
        if (zeza::ApplyNetValueFile("stk.tmp") != 1) state.SkipWithError("net value feed failed");
    }
}

void BM_EstimateFeed(benchmark::State& state) {
    for (auto _ : state) {
        FreshDatabase(state);
        if (zeza::ApplyEstimateFile("est.tmp") != 1) state.SkipWithError("estimate feed failed");
    }
}

// --- the floor: 20,000 rows through one prepared INSERT in one transaction ---

void BM_BareInsert(benchmark::State& state) {
    std::vector<std::string> codes, names;
    for (int i = 0; i < kFunds; ++i) {
        codes.push_back(Code(i));
        names.push_back("name" + std::to_string(i));
    }
    for (auto _ : state) {
        FreshDatabase(state);
        sqlite3* db = nullptr;
        sqlite3_open("./Zeza.db", &db);
        sqlite3_exec(db,
                     "BEGIN; CREATE TABLE scratch (codel varchar(10), name varchar(50), type varchar(50));",
                     nullptr, nullptr, nullptr);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO scratch (codel,name,type) VALUES (?,?,?);", -1, &stmt, nullptr);
        for (int i = 0; i < kFunds; ++i) {
            sqlite3_bind_text(stmt, 1, codes[i].data(), static_cast<int>(codes[i].size()), SQLITE_STATIC);
            sqlite3_bind_text(stmt, 2, names[i].data(), static_cast<int>(names[i].size()), SQLITE_STATIC);
            sqlite3_bind_text(stmt, 3, "gu", 2, SQLITE_STATIC);
            if (sqlite3_step(stmt) != SQLITE_DONE) state.SkipWithError("insert failed");
            sqlite3_reset(stmt);
        }
        sqlite3_finalize(stmt);
        if (sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr) != SQLITE_OK)
            state.SkipWithError("commit");
        sqlite3_close(db);
    }
}

// --- the straightforward way: each line its own text statement ---

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
    for (size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
        s.replace(pos, from.size(), to);
    return s;
}

// Puts text between single quotes, as the line-by-line statements are written.
std::string Quoted(std::string_view s) {
    std::string q;
    q.reserve(s.size() + 2);
    q += '\'';
    q.append(s);
    q += '\'';
    return q;
}

void BM_FundListLineByLine(benchmark::State& state) {
    std::string gu = "|", hun = "|";
    gu += zeza::Utf8ToGbk("股票型");
    hun += zeza::Utf8ToGbk("混合型");
    for (auto _ : state) {
        FreshDatabase(state);
        sqlite3* db = nullptr;
        sqlite3_open("./Zeza.db", &db);
        sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr);
        for (const std::string& raw : Lines("list.tmp")) {
            if (raw.size() < 11) continue;
            std::string line = ReplaceAll(ReplaceAll(raw, "|gu", gu), "|hun", hun);
            line = Quoted(ReplaceAll(line, "|", "','"));
            sqlite3_exec(db, ("DELETE FROM fu_list WHERE codel=" + line.substr(0, 8)).c_str(), nullptr,
                         nullptr, nullptr);
            sqlite3_exec(db, ("INSERT INTO fu_list (codel,name,type) VALUES (" + line + ")").c_str(), nullptr,
                         nullptr, nullptr);
        }
        sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
}

void BM_NetValueLineByLine(benchmark::State& state) {
    for (auto _ : state) {
        FreshDatabase(state);
        sqlite3* db = nullptr;
        sqlite3_open("./Zeza.db", &db);
        sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr);
        std::vector<std::string> lines = Lines("stk.tmp");
        const std::string date = Quoted(lines[0]);
        sqlite3_exec(db, "DELETE FROM fu_stk", nullptr, nullptr, nullptr);
        for (size_t i = 1; i < lines.size(); ++i) {
            if (lines[i].size() < 11) continue;
            std::string line = Quoted(ReplaceAll(lines[i], "|", "','"));
            sqlite3_exec(
                db,
                ("INSERT INTO fu_stk (codes,valreal,valtd,valytd,gdate) VALUES (" + line + "," + date + ");")
                    .c_str(),
                nullptr, nullptr, nullptr);
        }
        sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
}

void BM_EstimateLineByLine(benchmark::State& state) {
    for (auto _ : state) {
        FreshDatabase(state);
        sqlite3* db = nullptr;
        sqlite3_open("./Zeza.db", &db);
        sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr);
        for (const std::string& line : Lines("est.tmp")) {
            if (line.size() < 11) continue;
            std::string sql =
                "UPDATE fu_list SET estval='" + line.substr(7) + "' where codel='" + line.substr(0, 6) + "'";
            sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
        }
        sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
}

// Medians of several runs; the line-by-line runs take half a minute each, so one
// pass per repetition is enough for them.
#define TIMED(fn) BENCHMARK(fn)->Unit(benchmark::kMillisecond)->UseRealTime()->ReportAggregatesOnly(true)
#define FAST(fn) TIMED(fn)->Repetitions(7)
#define SLOW(fn) TIMED(fn)->Repetitions(3)->Iterations(1)

FAST(BM_BareInsert);
FAST(BM_FundListFeed);
FAST(BM_NetValueFeed);
FAST(BM_EstimateFeed);
SLOW(BM_FundListLineByLine);
SLOW(BM_NetValueLineByLine);
SLOW(BM_EstimateLineByLine);

// Prints the console report as usual and keeps each benchmark's median.
class MedianReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median" && !r.error_occurred)
                medians[r.run_name.function_name] = r.GetAdjustedRealTime();
    }
    std::map<std::string, double> medians;
};

void PrintRatios(const std::map<std::string, double>& m) {
    auto get = [&](const char* n) {
        auto it = m.find(n);
        return it == m.end() ? 0.0 : it->second;
    };
    const double bare = get("BM_BareInsert");
    std::printf("\nMedians (ms) and ratios, %d lines against %d funds:\n", kFunds, kFunds);
    std::printf("  bare prepared insert              %9.2f\n", bare);
    struct Row {
        const char* label;
        const char* feed;
        const char* lineByLine;
    };
    for (const Row& r : {Row{"fund list", "BM_FundListFeed", "BM_FundListLineByLine"},
                         Row{"net values", "BM_NetValueFeed", "BM_NetValueLineByLine"},
                         Row{"estimates", "BM_EstimateFeed", "BM_EstimateLineByLine"}}) {
        const double feed = get(r.feed), slow = get(r.lineByLine);
        std::printf(
            "  %-10s feed %9.2f  line by line %10.2f   feed/bare %5.2fx (bar 3x)   line-by-line/feed "
            "%8.1fx\n",
            r.label, feed, slow, bare > 0 ? feed / bare : 0.0, feed > 0 ? slow / feed : 0.0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The machine is shared: interleaving the repetitions of all benchmarks
    // spreads a slow spell over all of them instead of one. A later
    // --benchmark_enable_random_interleaving=false on the command line wins.
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    const std::filesystem::path home = std::filesystem::current_path();
    Prepare();
    const std::filesystem::path scratch = std::filesystem::current_path();
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintRatios(reporter.medians);
    std::filesystem::current_path(home);
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);
    return 0;
}
