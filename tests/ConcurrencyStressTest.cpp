// The refresh thread applies feeds while the user ticks watch boxes, edits
// holdings and imports a file, through the operations the widgets call. Every
// write the user was told succeeded must be in the database (then and at the
// end), and every write reported as failed must have left nothing behind.
//
// ZEZA_STRESS_SECONDS (default 3) sets how long the two threads run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "sync/EstimateFeed.h"
#include "sync/FundListFeed.h"
#include "sync/NetValueFeed.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"

using namespace zeza;
using namespace zeza::test;

namespace {

using Clock = std::chrono::steady_clock;

int StressSeconds() {
    const char* env = std::getenv("ZEZA_STRESS_SECONDS");
    const int s = env ? std::atoi(env) : 0;
    return s > 0 ? s : 3;
}

std::string Code(int n) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%06d", n);
    return buf;
}

struct Holding {
    std::string code;
    double cost = 0;
    double units = 0;
    std::string remark;
};

// What the user was told: the watch flag of each code and every holding by its id.
struct UserModel {
    std::map<std::string, long long> looks;
    std::map<long long, Holding> holdings;
};

// The feed files: two fund lists (one names every template fund, so the
// catalogue is replaced whole; one leaves some out, so rows are replaced one
// by one), net values and estimates, each a few thousand lines. Returns the
// template's codes.
std::vector<std::string> WriteFeedFiles() {
    const std::vector<std::string> templateCodes = Rows("SELECT codel FROM fu_list ORDER BY idl;");

    std::string whole, partial, stk = "2008-11-17\r\n", est;
    for (size_t i = 0; i < templateCodes.size(); ++i) {
        const std::string line =
            templateCodes[i] + "|" + G("基金") + std::to_string(i) + "'s|" + (i % 2 ? "gu" : "hun") + "\r\n";
        whole += line;
        if (i % 5 != 0) partial += line;
    }
    for (int n = 0; n < 3000; ++n) {
        const std::string code = Code(500000 + n);
        const std::string line = code + "|" + G("新基金") + std::to_string(n) + "|zhai\n";
        whole += line;
        partial += line;
    }
    std::vector<std::string> all = templateCodes;
    for (int n = 0; n < 3000; ++n) all.push_back(Code(500000 + n));
    for (size_t i = 0; i < all.size(); ++i) {
        const std::string v = std::to_string(1 + i % 7) + "." + std::to_string(1000 + i % 9000);
        stk += all[i] + "|" + v + "|" + v + "|" + v + "\r\n";
        est += all[i] + "|" + v + "\n";
    }
    WriteFileBytes("list-whole.tmp", whole);
    WriteFileBytes("list-partial.tmp", partial);
    WriteFileBytes("stk.tmp", stk);
    WriteFileBytes("est.tmp", est);
    return templateCodes;
}

std::string WatchCodesJson(const std::vector<std::string>& codes) {
    std::string json = "[";
    for (const std::string& c : codes) json += (json.size() > 1 ? ",\"" : "\"") + c + "\"";
    return json + "]";
}

// Reads one value; the test fails when the read itself fails.
bool ReadLook(const std::string& code, long long& look) {
    QueryTable t;
    if (QuerySql("SELECT look FROM fu_list WHERE codel=?;", {code}, t) != 0) return false;
    // A fund is one row however often the fund list replaced it.
    EXPECT_EQ(t.rows, 1) << code;
    if (t.rows != 1) return false;
    look = std::atoll(t.Str(0, 0).c_str());
    return true;
}

int CountWhere(const std::string& sql, const SqlParams& params) {
    return std::atoi(QueryOne(sql, params).c_str());
}

// Rows of fu_count exactly equal to h (values compared as bound, not as text).
int CountExact(long long idc, const Holding& h) {
    return CountWhere(
        "SELECT COUNT(*) FROM fu_count WHERE idc=? AND codec=? AND tcost=? AND tcount=? AND remark=?;",
        {idc, h.code, h.cost, h.units, h.remark});
}

}  // namespace

TEST(ConcurrencyStress, NoUserWriteIsLostWhileFeedsRun) {
    ScopedTempDir dir;
    ASSERT_EQ(CFundDb::WriteTemplateDatabase(), 1);
    const std::vector<std::string> templateCodes = WriteFeedFiles();
    ASSERT_GT(templateCodes.size(), 100u);

    // Watched codes: in both fund lists, or only in the whole one (every fifth
    // template fund is left out of the partial list).
    std::vector<std::string> watchCodes;
    for (int i = 0; i < 20; ++i) watchCodes.push_back(templateCodes[static_cast<size_t>(i)]);

    const auto deadline = Clock::now() + std::chrono::seconds(StressSeconds());
    std::atomic<bool> feedRunning{false};
    std::atomic<bool> stop{false};
    int feedsApplied = 0;
    std::vector<std::string> feedFailures;

    std::thread refresh([&] {
        const char* lists[] = {"list-whole.tmp", "list-partial.tmp"};
        std::mt19937 pause(777);
        auto last = std::chrono::microseconds(1000);
        for (int round = 0; !stop.load() && Clock::now() < deadline; ++round) {
            for (int kind = 0; kind < 3; ++kind) {
                // A pass downloads each feed before it applies it, and passes are
                // an hour apart. Back to back, the database lock (which is not
                // fair) could pass from one feed to the next for longer than a
                // user's write waits, so leave a gap as long as a feed at most.
                std::this_thread::sleep_for(std::chrono::microseconds(pause() % (last.count() + 1)));
                const auto started = Clock::now();
                feedRunning = true;
                int r = kind == 0   ? ApplyFundListFile(lists[round % 2])
                        : kind == 1 ? ApplyNetValueFile("stk.tmp")
                                    : ApplyEstimateFile("est.tmp");
                feedRunning = false;
                last = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
                if (r == 1)
                    ++feedsApplied;
                else
                    feedFailures.push_back("feed " + std::to_string(kind) + " gave " + std::to_string(r));
            }
        }
    });

    UserModel model;
    for (const std::string& c : watchCodes) model.looks[c] = 0;
    std::mt19937 rng(12345);
    int writes = 0, failures = 0, duringFeed = 0, imports = 0;

    // Between two of the user's writes the database must hold exactly what the
    // user was told, however many feeds ran meanwhile: every watch flag (by
    // fund code, one row each) and, now and then, every holding.
    int audits = 0;
    auto audit = [&](bool holdings) {
        ++audits;
        QueryTable t;
        ASSERT_EQ(
            QuerySql(
                "SELECT codel,look,COUNT(*) FROM fu_list WHERE codel IN (SELECT value FROM json_each(?)) "
                "GROUP BY codel;",
                {WatchCodesJson(watchCodes)}, t),
            0);
        ASSERT_EQ(static_cast<size_t>(t.rows), watchCodes.size());
        for (int r = 0; r < t.rows; ++r) {
            EXPECT_EQ(t.Str(r, 2), "1") << "fund " << t.Str(r, 0) << " has more than one row";
            EXPECT_EQ(std::atoll(t.Str(r, 1).c_str()), model.looks[t.Str(r, 0)])
                << "the watch flag of " << t.Str(r, 0) << " was lost";
        }
        if (!holdings) return;
        ASSERT_EQ(QuerySql("SELECT idc,codec,tcost,tcount,remark FROM fu_count ORDER BY idc;", {}, t), 0);
        ASSERT_EQ(static_cast<size_t>(t.rows), model.holdings.size()) << "holdings were added or lost";
        auto it = model.holdings.begin();
        for (int r = 0; r < t.rows; ++r, ++it) {
            EXPECT_EQ(std::atoll(t.Str(r, 0).c_str()), it->first);
            EXPECT_EQ(t.Str(r, 1) + "|" + t.Str(r, 4), it->second.code + "|" + it->second.remark);
            EXPECT_EQ(std::atof(t.Str(r, 2).c_str()), it->second.cost);
            EXPECT_EQ(std::atof(t.Str(r, 3).c_str()), it->second.units);
        }
    };

    // The user's side runs in a function of its own, so that a failed ASSERT
    // returns here and the refresh thread is still joined.
    auto user = [&] {
        for (int i = 0; Clock::now() < deadline; ++i) {
            const bool contended = feedRunning.load();
            const int op = i % 8;
            if (op == 0 || op == 1 || op == 2 || op == 6) {
                // The list control's tick: the flag is stored by code.
                const std::string& code = watchCodes[rng() % watchCodes.size()];
                const long long want = model.looks[code] ? 0 : -1;
                const int r = CFundDb::SetWatchFlag(code, want != 0);
                if (r == 0) model.looks[code] = want;
                long long look = 0;
                ASSERT_TRUE(ReadLook(code, look));
                EXPECT_EQ(look, model.looks[code]) << "watch " << code << " write result " << r;
                failures += r != 0;
            } else if (op == 3 || (op == 7 && i % 32 != 7)) {
                // The holding editor's new holding.
                Holding h{templateCodes[rng() % templateCodes.size()], (i % 1000) * 12.5, (i % 77) * 0.25,
                          G("持有 #") + std::to_string(i) + "'s"};
                const int r = CFundDb::AddHolding(h.code, h.cost, h.units, h.remark);
                QueryTable t;
                ASSERT_EQ(QuerySql("SELECT idc FROM fu_count WHERE remark=?;", {h.remark}, t), 0);
                if (r == 0) {
                    ASSERT_EQ(t.rows, 1) << "a stored holding is missing";
                    const long long idc = std::atoll(t.Str(0, 0).c_str());
                    EXPECT_EQ(CountExact(idc, h), 1);
                    model.holdings[idc] = h;
                } else {
                    EXPECT_EQ(t.rows, 0) << "a holding reported as not saved is there";
                    ++failures;
                }
            } else if (op == 4 && !model.holdings.empty()) {
                // The holding editor's change of an existing holding.
                auto it = std::next(model.holdings.begin(), static_cast<long>(rng() % model.holdings.size()));
                Holding h = it->second;
                h.cost += 1.5;
                h.units = (i % 13) * 0.5;
                h.remark = G("改过 #") + std::to_string(i);
                const int r = CFundDb::UpdateHolding(it->first, h.code, h.cost, h.units, h.remark);
                if (r == 0) it->second = h;
                EXPECT_EQ(CountExact(it->first, it->second), 1)
                    << "holding " << it->first << " write result " << r;
                failures += r != 0;
            } else if (op == 5 && model.holdings.size() > 5) {
                // The delete command.
                auto it = std::next(model.holdings.begin(), static_cast<long>(rng() % model.holdings.size()));
                const long long idc = it->first;
                const int r = CFundDb::DeleteHolding(idc);
                const int left = CountWhere("SELECT COUNT(*) FROM fu_count WHERE idc=?;", {idc});
                if (r == 0) {
                    EXPECT_EQ(left, 0) << "deleted holding " << idc << " is still there";
                    model.holdings.erase(it);
                } else {
                    EXPECT_EQ(CountExact(idc, it->second), 1);
                    ++failures;
                }
            } else if (op == 7) {
                // An import of a file of twenty holdings: all of them or none.
                const std::string tag = "import" + std::to_string(i) + "/";
                std::string text = G("代码,成本,份数,备注") + "\r\n";
                for (int j = 0; j < 20; ++j)
                    text += templateCodes[static_cast<size_t>(j * 3)] + "," + std::to_string(100 + j) +
                            ".5," + std::to_string(j) + ".25," + tag + std::to_string(j) + G("导入") +
                            "'\r\n";
                WriteFileBytes("import.txt", text);
                CFundDb db;
                int added = -1;
                const int r = db.ImportHoldings("import.txt", &added);
                QueryTable t;
                ASSERT_EQ(
                    QuerySql("SELECT idc,codec,tcost,tcount,remark FROM fu_count WHERE substr(remark,1,?)=? "
                             "ORDER BY idc;",
                             {static_cast<long long>(tag.size()), tag}, t),
                    0);
                if (r == 1) {
                    EXPECT_EQ(added, 20);
                    ASSERT_EQ(t.rows, 20) << "an import reported as done is not all there";
                    for (int row = 0; row < t.rows; ++row)
                        model.holdings[std::atoll(t.Str(row, 0).c_str())] = {
                            t.Str(row, 1), std::atof(t.Str(row, 2).c_str()), std::atof(t.Str(row, 3).c_str()),
                            t.Str(row, 4)};
                } else {
                    EXPECT_EQ(t.rows, 0) << "an import reported as failed left holdings behind";
                    ++failures;
                }
                ++imports;
            } else {
                continue;
            }
            ++writes;
            duringFeed += contended;
            audit(i % 16 == 0);
            if (::testing::Test::HasFailure()) return;
        }
    };
    user();
    stop = true;
    refresh.join();

    // Nothing written earlier was undone later by a feed.
    for (const auto& [code, want] : model.looks) {
        long long look = 0;
        ASSERT_TRUE(ReadLook(code, look));
        EXPECT_EQ(look, want) << "watch flag of " << code;
    }
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_count;"), std::to_string(model.holdings.size()));
    for (const auto& [idc, h] : model.holdings) EXPECT_EQ(CountExact(idc, h), 1) << "holding " << idc;
    EXPECT_EQ(
        CountWhere("SELECT COUNT(*) FROM (SELECT codel FROM fu_list GROUP BY codel HAVING COUNT(*)>1);", {}),
        0);

    // The feeds wait for the user's short writes; none may give up.
    EXPECT_TRUE(feedFailures.empty()) << feedFailures.front();
    EXPECT_GE(feedsApplied, 3);
    EXPECT_GT(duringFeed, 0) << "no write met a running feed; the test proved nothing";
    EXPECT_GT(imports, 0);
    std::printf(
        "stress: %d user writes checked (%d issued while a feed ran, %d reported as failed, %d imports), "
        "%d audits of the whole state, %d feeds applied, %zu holdings at the end\n",
        writes, duringFeed, failures, imports, audits, feedsApplied, model.holdings.size());
    RecordProperty("writes_checked", writes);
    RecordProperty("writes_during_feed", duringFeed);
    RecordProperty("feeds_applied", feedsApplied);
    RecordProperty("audits", audits);
}
