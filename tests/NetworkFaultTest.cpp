// A data server on 127.0.0.1 that misbehaves on purpose, one way at a time,
// for the control file and for each feed: every fault must end as a failed or
// skipped step, leave the stored data exactly as it was, and the next pass
// against a well-behaved server must work.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include <httplib.h>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "platform/ServerConfig.h"
#include "platform/UrlDownload.h"
#include "sync/AccuracyFeed.h"
#include "sync/MemoryFeeds.h"
#include "tests/LocalHttpServer.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"

using namespace zeza;
using namespace zeza::test;

namespace {

using Clock = std::chrono::steady_clock;

enum class Fault {
    Status500,      // an error page with status 500
    ClosedMidBody,  // a declared length, part of the body, then the connection closed
    NeverAnswers,   // the request is read and no byte of an answer follows
    HugeStream,     // hundreds of megabytes of garbage, no declared length
    HugeDeclared,   // the same with its length declared up front
    EmptyBody,      // status 200 and nothing else
    ErrorPage200,   // status 200 and an error page, as some proxies and busy servers send
};

const char* Name(Fault f) {
    static const char* const kNames[] = {"status 500",
                                         "connection closed mid-body",
                                         "never answers",
                                         "huge streamed body",
                                         "huge declared body",
                                         "empty body",
                                         "error page with status 200"};
    return kNames[static_cast<int>(f)];
}
void PrintTo(Fault f, std::ostream* os) {
    *os << Name(f);
}

// What a fault is applied to: the control file or one feed (by its tp parameter).
struct Target {
    const char* tp;  // "" for the control file
    int kind;        // SyncFeed kind; -1 for the control file
    int failure;     // what SyncFeed returns when this feed fails
};
const Target kControl{"", -1, 0};
const Target kList{"list", 2, -5};
const Target kNetValues{"stk", 0, -3};
const Target kEstimates{"est", 1, -4};
const Target kAccuracy{"acc", -2, 0};  // kept in memory: no SyncFeed kind

constexpr int64_t kHugeBytes = 320LL * 1024 * 1024;

// The times the stored database starts with, and those the good server announces.
constexpr int kOldList = 1200417988, kOldStk = 1300000100, kOldEst = 1300000200;
constexpr int kNewList = 1400000000, kNewStk = 1400000100, kNewEst = 1400000200;

std::string Control(int list, int stk, int est) {
    return ControlFile(list, stk, est).Version(12);
}

const std::string& GoodList() {
    static const std::string s = G("000001|华夏成长新|gu\r\n700001|新发基金|zhai\r\n");
    return s;
}
const std::string kGoodNetValues =
    "2008-11-17\r\n000001|3.1200|1.0560|1.0610\r\n000011|2.9800|1.2340|1.2300\r\n";
const std::string kGoodEstimates = "000001|1.0623\r\n000011|1.2345\r\n";
const std::string& GoodAccuracy() {
    static const std::string s = G("000001|自算|0.31|20\r\n000011|公开|0.12|20\r\n");
    return s;
}

// The data server. Answers well unless told to misbehave for one target.
class FaultyServer {
  public:
    FaultyServer() {
        for (const char* path : {"/fund/fund.php", "/fund/gdata.php"})
            m_http.Route(path,
                         [this](const httplib::Request& req, httplib::Response& res) { Answer(req, res); });
        m_http.Start();
    }
    ~FaultyServer() {
        {
            std::lock_guard lock(m_mutex);
            m_released = true;
        }
        m_cv.notify_all();
        m_http.Stop();
    }

    std::string Base() const { return m_http.Base(); }

    // The control file announces these times; fault (when set) hits target.
    void Set(const std::string& control, const Target* target, Fault fault) {
        std::lock_guard lock(m_mutex);
        m_control = control;
        m_target = target ? target->tp : nullptr;
        m_fault = fault;
        m_feedRequests = 0;
        m_bytesSent = 0;
    }
    void Behave(const std::string& control) { Set(control, nullptr, Fault::Status500); }

    int FeedRequests() {
        std::lock_guard lock(m_mutex);
        return m_feedRequests;
    }
    int64_t BytesSent() const { return m_bytesSent.load(); }

  private:
    void Answer(const httplib::Request& req, httplib::Response& res) {
        std::string tp;
        std::string body;
        const char* target = nullptr;
        Fault fault;
        {
            std::lock_guard lock(m_mutex);
            if (req.path == "/fund/fund.php") {
                body = m_control;
            } else {
                ++m_feedRequests;
                tp = req.get_param_value("tp");
                body = tp == "list"  ? GoodList()
                       : tp == "stk" ? kGoodNetValues
                       : tp == "est" ? kGoodEstimates
                       : tp == "acc" ? GoodAccuracy()
                                     : "";
            }
            target = m_target;
            fault = m_fault;
        }
        if (!target || tp != target) {
            res.set_content(body, "text/plain");
            return;
        }
        switch (fault) {
            case Fault::Status500:
                res.status = 500;
                res.set_content(G("<html>服务器内部错误</html>\r\n") + body, "text/html");
                return;
            case Fault::ClosedMidBody: {
                // A real answer, promised at ten times its length: the provider
                // hands over what it has and then gives up, which closes the connection.
                const std::string partial = body;
                res.set_content_provider(partial.size() * 10, "text/plain",
                                         [this, partial](size_t offset, size_t, httplib::DataSink& sink) {
                                             if (offset > 0) return false;
                                             m_bytesSent += static_cast<int64_t>(partial.size());
                                             return sink.write(partial.data(), partial.size());
                                         });
                return;
            }
            case Fault::NeverAnswers: {
                // Holds the connection without a byte of an answer until the test ends.
                std::unique_lock lock(m_mutex);
                m_cv.wait(lock, [this] { return m_released; });
                res.status = 503;
                return;
            }
            case Fault::HugeStream:
            case Fault::HugeDeclared: {
                // Garbage with line ends and separators in it, so that anything
                // which got through would reach the feed's parser.
                auto garbage = std::make_shared<std::string>();
                for (int i = 0; garbage->size() < 64 * 1024; ++i)
                    *garbage += std::to_string(i * 7919) + "|x\xB0\xA1|" + std::to_string(i) +
                                (i % 3 ? "\n" : "\r\n");
                auto provide = [this, garbage](size_t offset, httplib::DataSink& sink) {
                    if (static_cast<int64_t>(offset) >= kHugeBytes) {
                        sink.done();
                        return true;
                    }
                    const size_t n =
                        std::min<size_t>(garbage->size(), static_cast<size_t>(kHugeBytes - offset));
                    m_bytesSent += static_cast<int64_t>(n);
                    return sink.write(garbage->data(), n);
                };
                if (fault == Fault::HugeStream) {
                    res.set_chunked_content_provider("text/plain", provide);
                } else {
                    res.set_content_provider(static_cast<size_t>(kHugeBytes), "text/plain",
                                             [provide](size_t offset, size_t, httplib::DataSink& sink) {
                                                 return provide(offset, sink);
                                             });
                }
                return;
            }
            case Fault::EmptyBody:
                res.set_content("", "text/plain");
                return;
            case Fault::ErrorPage200:
                res.set_content("<html><body>Service down | retry later | sorry</body></html>", "text/html");
                return;
        }
    }

    test::LocalHttpServer m_http;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_released = false;
    std::string m_control;
    const char* m_target = nullptr;
    Fault m_fault = Fault::Status500;
    int m_feedRequests = 0;
    std::atomic<int64_t> m_bytesSent{0};
};

// Every row of a table, in rowid order.
std::vector<std::string> Dump(const std::string& table) {
    return Rows("SELECT * FROM " + table + " ORDER BY rowid;");
}

struct Stored {
    std::vector<std::string> list, stk, count, iniLoc;
    bool operator==(const Stored&) const = default;
};

Stored ReadStored() {
    return {Dump("fu_list"), Dump("fu_stk"), Dump("fu_count"), Dump("fu_iniLoc")};
}

// The results of one refresh pass as the refresh thread runs it: the control
// file first, and the three feeds only when it was fetched.
struct PassResult {
    int check = 0;
    int list = 0, stk = 0, est = 0;  // 0: not run
};

PassResult RunPass(CFundDb& db) {
    PassResult r;
    r.check = db.CheckServer();
    if (r.check != 1) return r;
    r.list = db.SyncFeed(2);
    r.stk = db.SyncFeed(0);
    r.est = db.SyncFeed(1);
    return r;
}

class NetworkFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("XDG_CACHE_HOME", m_dir.Path().c_str(), 1);
        SetServerBaseUrlForTesting(m_server.Base());
        // A server that stops sending is given up on after a second, not thirty.
        SetDownloadLowSpeedForTesting(100, 1);
        CFundDb::SetLastControlFetchTimeForTesting(0);
        { CFundDb first; }  // writes the template
        ASSERT_EQ(ExecSql("UPDATE fu_iniLoc SET stkTime=?, estTime=?;",
                          {static_cast<long long>(kOldStk), static_cast<long long>(kOldEst)}),
                  0);
        ASSERT_EQ(ExecSql("UPDATE fu_list SET look=-1, estval=1.01 WHERE codel='000011';"), 0);
        ASSERT_EQ(ExecSql("INSERT INTO fu_stk VALUES ('000001',3.0,1.0,0.99,'2008-11-14'),"
                          "('000011',2.9,1.2,1.19,'2008-11-14');"),
                  0);
        AddHolding("000001", 1000.0, 500.0, "长期持有");
        m_original = zeza::test::ReadFileBytes("Zeza.db");
    }
    void TearDown() override {
        ResetCoreTestHooks();
        unsetenv("XDG_CACHE_HOME");
    }

    // Puts the stored database back as SetUp made it.
    void Restore() {
        zeza::test::WriteFileBytes("Zeza.db", m_original);
        CFundDb::SetLastControlFetchTimeForTesting(0);
    }

    uintmax_t CacheBytes() const {
        uintmax_t total = 0;
        std::error_code ec;
        for (const auto& e : std::filesystem::recursive_directory_iterator(m_dir.Path() / "zeza", ec))
            if (e.is_regular_file()) total += e.file_size();
        return total;
    }

    // One fault on one target, then a pass against a server that behaves.
    void Check(Fault fault, const Target& target) {
        SCOPED_TRACE(std::string(Name(fault)) + " on " + (target.kind < 0 ? "the control file" : target.tp));
        Restore();
        auto db = std::make_unique<CFundDb>();
        ASSERT_EQ(db->Local().stkTime, kOldStk);
        const Stored before = ReadStored();

        // Only the faulty feed is announced as changed, so that nothing else
        // would legitimately change the stored data.
        const int list = target.kind == 2 ? kNewList : kOldList;
        const int stk = target.kind == 0 ? kNewStk : kOldStk;
        const int est = target.kind == 1 ? kNewEst : kOldEst;
        m_server.Set(Control(target.kind < 0 ? kNewList : list, target.kind < 0 ? kNewStk : stk,
                             target.kind < 0 ? kNewEst : est),
                     &target, fault);

        const auto start = Clock::now();
        const PassResult r = RunPass(*db);
        const auto elapsed = Clock::now() - start;
        ++m_faultsTried;

        // The empty answer to the fund list or estimate feed is a valid feed with
        // nothing in it; the stored data must still be unchanged.
        const bool emptyIsValid = fault == Fault::EmptyBody && (target.kind == 2 || target.kind == 1);
        if (target.kind < 0) {
            EXPECT_EQ(r.check, -1);
            EXPECT_EQ(m_server.FeedRequests(), 0) << "no feed may run without the control file";
        } else {
            ASSERT_EQ(r.check, 1);
            // The faulty feed fails; the other two have nothing to do.
            EXPECT_EQ(r.list, target.kind == 2 && !emptyIsValid ? target.failure : 1);
            EXPECT_EQ(r.stk, target.kind == 0 ? target.failure : 1);
            EXPECT_EQ(r.est, target.kind == 1 && !emptyIsValid ? target.failure : 1);
            EXPECT_EQ(m_server.FeedRequests(), 1);
        }

        const Stored after = ReadStored();
        EXPECT_EQ(after.list, before.list);
        EXPECT_EQ(after.stk, before.stk);
        EXPECT_EQ(after.count, before.count);
        if (!emptyIsValid) {
            EXPECT_EQ(after.iniLoc, before.iniLoc) << "a failed feed must not store its new time";
            EXPECT_EQ(db->Local().listTime, kOldList);
            EXPECT_EQ(db->Local().stkTime, kOldStk);
            EXPECT_EQ(db->Local().estTime, kOldEst);
        }

        if (fault == Fault::HugeStream || fault == Fault::HugeDeclared || fault == Fault::NeverAnswers) {
            // The size cap and the low-speed limit end these long before the
            // server would; generous bounds, as sanitizer builds are slow.
            EXPECT_LT(elapsed, std::chrono::seconds(30));
            EXPECT_LT(m_server.BytesSent(), kHugeBytes / 2);
        }
        // No partial or oversized download is left in the cache folder (an
        // empty answer is a whole one, and stays as the empty file it is).
        EXPECT_LT(CacheBytes(), 64u * 1024);
        if (target.kind >= 0 && fault != Fault::EmptyBody && fault != Fault::ErrorPage200) {
            const char* file = target.kind == 2   ? "~FUlist.tmp"
                               : target.kind == 0 ? "~FUstk.tmp"
                                                  : "~FUest.tmp";
            EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "zeza" / file));
        }

        // The next pass, against a server that behaves, applies everything.
        m_server.Behave(Control(kNewList, kNewStk, kNewEst));
        CFundDb::SetLastControlFetchTimeForTesting(0);
        const PassResult good = RunPass(*db);
        EXPECT_EQ(good.check, 1);
        EXPECT_EQ(good.list, 1);
        EXPECT_EQ(good.stk, 1);
        EXPECT_EQ(good.est, 1);
        EXPECT_EQ(QueryOne("SELECT listTime||','||stkTime||','||estTime FROM fu_iniLoc;"),
                  std::to_string(kNewList) + "," + std::to_string(kNewStk) + "," + std::to_string(kNewEst));
        // An empty fund list or estimate answer was taken as "nothing new" and its
        // time stored, so the good pass has no reason to ask for that feed again.
        const bool listFetched = !(emptyIsValid && target.kind == 2);
        const bool estFetched = !(emptyIsValid && target.kind == 1);
        EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_list WHERE codel IN ('000001','000011');"), "2");
        if (listFetched) {
            EXPECT_EQ(QueryOne("SELECT name||','||look FROM fu_list WHERE codel='000001';"),
                      G("华夏成长新") + ",0");
            EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_list WHERE codel='700001';"), "1");
        }
        if (listFetched && estFetched) {
            EXPECT_EQ(QueryOne("SELECT estval FROM fu_list WHERE codel='000001';"), "1.0623");
        }
        EXPECT_EQ(QueryOne("SELECT look FROM fu_list WHERE codel='000011';"), "-1")
            << "the watch flag survives every pass";
        if (estFetched) {
            EXPECT_EQ(QueryOne("SELECT estval FROM fu_list WHERE codel='000011';"), "1.2345");
        }
        EXPECT_EQ(QueryOne("SELECT COUNT(*)||','||MIN(gdate)||','||MAX(gdate) FROM fu_stk;"),
                  "2,2008-11-17,2008-11-17");
        EXPECT_EQ(Dump("fu_count"), before.count);
    }

    void CheckAllTargets(Fault fault) {
        for (const Target* t : {&kControl, &kList, &kNetValues, &kEstimates}) Check(fault, *t);
    }

    ScopedTempDir m_dir;
    FaultyServer m_server;
    std::string m_original;
    int m_faultsTried = 0;
};

}  // namespace

// Each fault on the control file and on each feed.
class EachFault : public NetworkFaults, public ::testing::WithParamInterface<Fault> {};

TEST_P(EachFault, FailsTheStepChangesNothingAndTheNextGoodPassAppliesEverything) {
    CheckAllTargets(GetParam());
    EXPECT_EQ(m_faultsTried, 4);
}

// A feed kept in memory under each fault: the pass goes on, the values read
// last stay (an empty answer is a server without records), and the next good
// answer is taken.
TEST_F(NetworkFaults, MemoryFeedKeepsItsLastValuesUnderEveryFault) {
    const MemoryFeedDescriptor& acc = MemoryFeeds()[0];
    auto mae = [] {
        const MemoryValue* v = TakeMemoryFeeds().Find("acc", "000001", kAccuracyMae);
        return v && std::holds_alternative<double>(*v) ? std::get<double>(*v) : -1.0;
    };
    for (Fault fault : {Fault::Status500, Fault::ClosedMidBody, Fault::NeverAnswers, Fault::HugeStream,
                        Fault::HugeDeclared, Fault::EmptyBody, Fault::ErrorPage200}) {
        SCOPED_TRACE(Name(fault));
        ResetMemoryFeedsForTesting();
        CFundDb db;
        m_server.Behave(ControlFile(kOldList, kOldStk, kOldEst).Fu("accTime", 100).Version(12));
        CFundDb::SetLastControlFetchTimeForTesting(0);
        ASSERT_EQ(db.CheckServer(), 1);
        ASSERT_EQ(SyncMemoryFeed(db, acc), 1);
        ASSERT_EQ(mae(), 0.31);

        m_server.Set(ControlFile(kOldList, kOldStk, kOldEst).Fu("accTime", 200).Version(12), &kAccuracy,
                     fault);
        CFundDb::SetLastControlFetchTimeForTesting(0);
        ASSERT_EQ(db.CheckServer(), 1);
        const int r = SyncMemoryFeed(db, acc);
        EXPECT_EQ(m_server.FeedRequests(), 1);
        if (fault == Fault::EmptyBody) {
            EXPECT_EQ(r, 1);
            EXPECT_EQ(mae(), -1.0);
        } else {
            EXPECT_LT(r, 0);
            EXPECT_EQ(mae(), 0.31);
            EXPECT_EQ(MemoryFeedTime("acc"), 100);
        }
        EXPECT_LT(CacheBytes(), 64u * 1024);

        m_server.Behave(ControlFile(kOldList, kOldStk, kOldEst).Fu("accTime", 200).Version(12));
        EXPECT_EQ(SyncMemoryFeed(db, acc), 1);
        // The empty answer was taken for that time: nothing is asked again until it moves.
        EXPECT_EQ(mae(), fault == Fault::EmptyBody ? -1.0 : 0.31);
        EXPECT_EQ(MemoryFeedTime("acc"), 200);
    }
}

INSTANTIATE_TEST_SUITE_P(NetworkFaults, EachFault,
                         ::testing::Values(Fault::Status500, Fault::ClosedMidBody, Fault::NeverAnswers,
                                           Fault::HugeStream, Fault::HugeDeclared, Fault::EmptyBody,
                                           Fault::ErrorPage200),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                             std::string name;
                             for (char c : std::string(Name(info.param)))
                                 if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                             return name;
                         });
