#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include "platform/GbkCodec.h"
#include "server/DataServer.h"
#include "server/FundData.h"
#include "platform/ControlFileIni.h"
#include "platform/Sha256.h"
#include "sync/AccuracyFeed.h"
#include "tests/LocalHttpServer.h"
#include "tests/TestDataServer.h"
#include "tests/TestSupport.h"

namespace fs = std::filesystem;
using namespace std::string_literals;
using zeza::Sha256;
using zeza::server::DataServer;
using zeza::server::FundData;
using namespace zeza::test;

namespace {

// The modification time the estimate file gets, which stands in for the missing estTime.
constexpr time_t kEstFileTime = 1226673900;

// A TCP connection to 127.0.0.1:port from the local address from (another client to the server).
int Connect(int port, const char* from = "127.0.0.1") {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, from, &a.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) return close(fd), -1;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) return close(fd), -1;
    return fd;
}

// The status of the answer to a raw request (0 when none came).
int RawStatus(int port, const char* from, const std::string& request) {
    const int fd = Connect(port, from);
    if (fd < 0) return 0;
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char head[16] = {0};
    const ssize_t n = recv(fd, head, sizeof(head) - 1, MSG_WAITALL);
    close(fd);
    return n >= 12 ? std::atoi(head + 9) : 0;
}

std::vector<std::string> Lines(const std::string& body) {
    std::vector<std::string> out;
    std::istringstream in(body);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

class DataServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_data = m_tmp.Path() / "data";
        fs::create_directories(m_data);
        // 東 is 0x96 0x7C in GBK: its trail byte is a '|'.
        WriteFileBytes(m_data / "funds.txt", G("000001|华夏成长|gu|1200000000\r\n"
                                               "000011|東方精选|hun|1200000100\r\n"
                                               "110022|易方达消费|gu|1200000200\r\n"
                                               "12345|坏行|gu|1200000250\r\n"
                                               "202101|南方债券A|zhai|1200000300\r\n"
                                               "\r\n"
                                               "510050|华夏上证50ETF|zhi|1200000400\n"));
        WriteFileBytes(m_data / "navs.txt",
                       "2008-11-14\r\n000001|3.1200|1.0560|1.0610\r\n000011|2.9800|1.2340|1.2300\r\n"
                       "110022|1.5|1.5|1.4\r\n202101|1.0500|1.0300|1.0290\r\n");
        WriteFileBytes(m_data / "estimates.txt",
                       "000001|1.0623\r\n000011|1.2400\r\n110022|1.5100\r\n202101|1.0301\r\n");
        WriteFileBytes(m_data / "times.ini", "[FU]\r\nlistTime=1200000400\r\nstkTime=1226662200\r\n");
        utimbuf times{kEstFileTime, kEstFileTime};
        ASSERT_EQ(utime((m_data / "estimates.txt").c_str(), &times), 0);
    }

    void Start(int liveInterval = 0, size_t feedbackFileLimit = 5u << 20) {
        DataServer::Options o;
        o.dataDir = m_data;
        o.port = 0;
        o.liveIntervalSeconds = liveInterval;
        o.seed = 7;
        o.feedbackFileLimit = feedbackFileLimit;
        m_server = std::make_unique<DataServer>(o);
        std::string error;
        ASSERT_TRUE(m_server->Start(error)) << error;
        ASSERT_GT(m_server->Port(), 0);
    }

    // The answer to path, which must come with status.
    httplib::Response Get(const std::string& path, int status = 200, const httplib::Headers& headers = {}) {
        auto res = httplib::Client("127.0.0.1", m_server->Port()).Get(path, headers);
        EXPECT_TRUE(res) << path;
        if (!res) return {};
        EXPECT_EQ(res->status, status) << path;
        return *res;
    }
    std::string Body(const std::string& path) { return Get(path).body; }

    // The control file as the program reads it.
    zeza::ControlFileIni Control(const httplib::Headers& headers = {}) {
        return zeza::ControlFileIni(
            Get("/fund/fund.php?gid=0F1E2D3C-0000-1111-2222-333344445555&ver=12", 200, headers).body);
    }

    zeza::test::ScopedTempDir m_tmp;
    fs::path m_data;
    std::unique_ptr<DataServer> m_server;
};

TEST(Sha256Test, KnownAnswers) {
    EXPECT_EQ(Sha256::Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256::Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first block.
    EXPECT_EQ(Sha256::Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256::Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // Fed in uneven pieces, the same digest.
    Sha256 pieces;
    std::string million(1000000, 'a');
    for (size_t i = 0, n = 1; i < million.size(); i += n, n = n * 3 % 997 + 1)
        pieces.Update(std::string_view(million).substr(i, n));
    auto digest = pieces.Final();
    EXPECT_EQ(digest[0], 0xcd);
    EXPECT_EQ(digest[31], 0xd0);
}

TEST_F(DataServerTest, ControlFileSendsTimesAndNoUpdate) {
    Start();
    const auto res = Get("/fund/fund.php?gid=noguid&ver=12");
    EXPECT_EQ(res.get_header_value("Cache-Control"), "no-store");
    // estTime and accTime are missing from times.ini, so the estimate file's own time stands in.
    EXPECT_EQ(
        res.body,
        "[FU]\r\nlistTime=1200000400\r\nstkTime=1226662200\r\nestTime=1226673900\r\naccTime=1226673900\r\n"
        "[VER]\r\nLastVer=12\r\nUpdateVer=12\r\nUpdateFu=0\r\nUpdatePath=\r\nUpdateSha256=\r\n");
}

TEST_F(DataServerTest, FundListSendsFundsChangedAfterDt) {
    Start();
    auto full = Body("/fund/gdata.php?tp=list&dt=0");
    EXPECT_EQ(full, G("000001|华夏成长|gu\r\n000011|東方精选|hun\r\n110022|易方达消费|gu\r\n"
                      "202101|南方债券A|zhai\r\n510050|华夏上证50ETF|zhi\r\n"));
    EXPECT_EQ(Body("/fund/gdata.php?tp=list&dt=abc"), full);
    EXPECT_EQ(Body("/fund/gdata.php?tp=list"), full);
    EXPECT_EQ(Body("/fund/gdata.php?tp=list&dt=1200000100"),
              G("110022|易方达消费|gu\r\n202101|南方债券A|zhai\r\n510050|华夏上证50ETF|zhi\r\n"));
    EXPECT_EQ(Body("/fund/gdata.php?tp=list&dt=1200000400"), "");

    // The line with a five-digit code was reported, not sent.
    auto warnings = m_server->Warnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("funds.txt:4"), std::string::npos);
}

TEST_F(DataServerTest, NetValueAndEstimateFeeds) {
    Start();
    const auto stk = Get("/fund/gdata.php?tp=stk&dt=1226000000");
    EXPECT_EQ(stk.get_header_value("Content-Type"), "text/plain; charset=GBK");
    // Always the whole table, whatever dt says: the client replaces its net values with it.
    EXPECT_EQ(stk.body,
              "2008-11-14\r\n000001|3.1200|1.0560|1.0610\r\n000011|2.9800|1.2340|1.2300\r\n"
              "110022|1.5000|1.5000|1.4000\r\n202101|1.0500|1.0300|1.0290\r\n");
    EXPECT_EQ(Body("/fund/gdata.php?tp=est&dt=5"),
              "000001|1.0623\r\n000011|1.2400\r\n110022|1.5100\r\n202101|1.0301\r\n");
}

TEST_F(DataServerTest, NavHistoryFromItsFile) {
    // Out of order, a day given twice (the later line counts), a bad event and a bad day skipped.
    WriteFileBytes(m_data / "navhist.txt", G("000001|2008-11-14|1.056|3.12|\r\n"
                                             "000001|2008-11-12|1.0700|3.1000|\r\n"
                                             "000001|2008-11-13|1.0600|3.1100|\r\n"
                                             "000001|2008-11-13|1.0610|3.1110|分红 0.01235\r\n"
                                             "000001|2008-11-11|1.0800|3.0800|送股 0.1\r\n"
                                             "000011|2008-02-30|1.2300|2.9700|\r\n"
                                             "000011|2008-11-14|1.2340|2.9800|拆分 1.027437\n"));
    Start();
    const auto warnings = m_server->Warnings();
    EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                            [](const std::string& w) { return w.rfind("navhist.txt:", 0) == 0; }),
              3);
    const auto res = Get("/fund/navhist.php?code=000001&from=2008-11-13");
    EXPECT_EQ(res.get_header_value("Content-Type"), "text/plain; charset=GBK");
    EXPECT_EQ(res.body, G("2008-11-13|1.0610|3.1110|分红 0.01235\r\n2008-11-14|1.0560|3.1200|\r\n"));
    const std::pair<const char*, std::string> answers[] = {
        {"code=000001&from=2008-01-01", "2008-11-12|1.0700|3.1000|\r\n" + res.body},
        {"code=000011&from=2008-11-14", G("2008-11-14|1.2340|2.9800|拆分 1.027437\r\n")},
        {"code=000001&from=2008-11-15", ""},  // after the newest day
        {"code=110022&from=2008-01-01", ""},  // a fund without history
        {"code=999999&from=2008-01-01", ""},  // no such fund
    };
    for (const auto& [query, body] : answers) EXPECT_EQ(Body("/fund/navhist.php?"s + query), body) << query;
    for (const char* query : {"code=00001&from=2008-11-13", "code=00000a&from=2008-11-13",
                              "code=000001&from=2008-11-31", "code=000001&from=2008-1-13", "code=000001"})
        EXPECT_EQ(Get("/fund/navhist.php?"s + query, 400).status, 400) << query;
}

TEST_F(DataServerTest, AccuracyFeedGivesEachEstimatedFundAStableRecord) {
    Start();
    const std::string body = Body("/fund/gdata.php?tp=acc&dt=0");
    EXPECT_EQ(Body("/fund/gdata.php?tp=acc&dt=5"), body);
    zeza::MemoryTable t;
    ASSERT_EQ(zeza::ReadAccuracyFeed(body, t), 1);
    EXPECT_EQ(Lines(body).size(), 4u) << "every line is one the program reads";
    for (const char* code : {"000001", "000011", "110022", "202101"}) EXPECT_EQ(t.count(code), 1u) << code;

    // Over the sample folder: mostly own estimates, some public ones, a few too new for a record.
    FundData sample;
    std::string error;
    ASSERT_TRUE(sample.Load(zeza::server::SampleDataDir(), error)) << error;
    ASSERT_EQ(zeza::ReadAccuracyFeed(sample.AccuracyFeed(), t), 1);
    size_t own = 0, publicSource = 0, young = 0;
    for (const auto& [code, row] : t) {
        ASSERT_TRUE(sample.FindEstimate(code)) << code;
        (std::get<std::string>(row[zeza::kAccuracySource]) == G("自算") ? own : publicSource) += 1;
        const double days = std::get<double>(row[zeza::kAccuracyDays]);
        if (days < zeza::kAccuracyMinDays) {
            ++young;
        } else {
            const double mae = std::get<double>(row[zeza::kAccuracyMae]);
            EXPECT_TRUE(mae > 0 && mae < 1.5) << code << " " << mae;
        }
    }
    EXPECT_GT(t.size(), 2000u);
    EXPECT_GT(own, t.size() * 7 / 10);
    EXPECT_GT(publicSource, t.size() / 10);
    EXPECT_GT(young, t.size() / 20);
    EXPECT_LT(young, t.size() / 5);
    FundData again;
    ASSERT_TRUE(again.Load(zeza::server::SampleDataDir(), error));
    EXPECT_EQ(again.AccuracyFeed(), sample.AccuracyFeed());
}

TEST_F(DataServerTest, UnknownFeedAndPathAre404) {
    Start();
    for (const char* path : {"/fund/gdata.php?tp=xyz&dt=0", "/fund/gdata.php?dt=0", "/fund/nothing.php"}) {
        EXPECT_EQ(Get(path, 404).get_header_value("Cache-Control"), "no-store") << path;
    }
}

TEST_F(DataServerTest, ThanksRequestsAreCounted) {
    Start();
    EXPECT_EQ(m_server->ThanksCount(), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Body("/fund/thanks.php"), "ok\r\n");
    EXPECT_EQ(m_server->ThanksCount(), 3);
}

TEST_F(DataServerTest, FundDetailPage) {
    Start();
    const auto res = Get("/fund/fuskip.php?code=000001");
    EXPECT_EQ(res.get_header_value("Content-Type"), "text/html; charset=utf-8");
    for (const char* part : {"华夏成长", "股票型", "1.0560", "1.0610", "3.1200", "1.0623", "2008-11-14"})
        EXPECT_NE(res.body.find(part), std::string::npos) << part;

    // A fund without net values still has a page.
    EXPECT_NE(Body("/fund/fuskip.php?code=510050").find("暂无净值"), std::string::npos);

    for (const char* path : {"/fund/fuskip.php?code=999999", "/fund/fuskip.php",
                             "/fund/fuskip.php?code=%3Cscript%3Ealert(1)%3C/script%3E"}) {
        EXPECT_EQ(Get(path, 404).body.find("<script>"), std::string::npos) << path;
    }
}

TEST_F(DataServerTest, HomeAndBannerPages) {
    Start();
    std::string home = Body("/");
    EXPECT_NE(home.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(home.find("fund/fuskip.php?code=000001"), std::string::npos);
    EXPECT_NE(home.find("fund/feedback.php"), std::string::npos);

    std::string banner = Body("/fund/fuCap.php?guid=noguid");
    EXPECT_NE(banner.find("2008-11-14"), std::string::npos);
    // Two stock funds with net values: 000001 fell, 110022 rose.
    EXPECT_NE(banner.find("上涨 1 只，下跌 1 只"), std::string::npos) << banner;
}

TEST_F(DataServerTest, FeedbackIsAppendedToTheDataFolder) {
    Start();
    EXPECT_NE(Body("/fund/feedback.php").find("<form method=\"post\""), std::string::npos);

    httplib::Client cli("127.0.0.1", m_server->Port());
    auto first = cli.Post("/fund/feedback.php",
                          httplib::Params{{"text", "净值更新太慢\r\n第二行"}, {"contact", "qq 123"}});
    ASSERT_TRUE(first && first->status == 200);
    EXPECT_NE(first->body.find("谢谢"), std::string::npos);
    auto second = cli.Post("/fund/feedback.php", httplib::Params{{"text", "second note"}});
    ASSERT_TRUE(second && second->status == 200);

    std::string saved = ReadFileBytes(m_data / "feedback.txt");
    size_t a = saved.find("净值更新太慢\n第二行\n");
    size_t b = saved.find("second note\n");
    ASSERT_NE(a, std::string::npos) << saved;
    ASSERT_NE(b, std::string::npos) << saved;
    EXPECT_LT(a, b);
    EXPECT_NE(saved.find("联系方式: qq 123"), std::string::npos);
    EXPECT_TRUE(
        std::regex_search(saved, std::regex(R"(----- \d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d{4} -----)")));

    // Nothing written: nothing saved, and the user is told so.
    auto empty = cli.Post("/fund/feedback.php", httplib::Params{{"text", "  \r\n "}});
    ASSERT_TRUE(empty && empty->status == 400);
    EXPECT_EQ(ReadFileBytes(m_data / "feedback.txt"), saved);
}

TEST_F(DataServerTest, FeedbackIsCappedInSizeRateAndFile) {
    Start(0, 2000);
    auto post = [](const std::string& text) {
        const std::string body = "text=" + text;
        return "POST /fund/feedback.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
               "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    struct Case {
        const char* what;
        const char* from;
        std::string text;
        int status;
    } cases[] = {
        {"too long", "127.0.0.1", std::string(16 * 1024, 'x'), 413},
        {"first", "127.0.0.1", "a", 200},
        {"second", "127.0.0.1", "b", 200},
        {"third", "127.0.0.1", "c", 200},
        {"fourth", "127.0.0.1", "d", 200},
        {"fifth", "127.0.0.1", "e", 200},
        {"sixth in ten minutes", "127.0.0.1", "f", 429},
        {"another address", "127.0.0.2", "g", 200},
        {"file full", "127.0.0.3", std::string(1800, 'h'), 507},
    };
    for (const auto& c : cases) {
        const auto before = fs::exists(m_data / "feedback.txt") ? fs::file_size(m_data / "feedback.txt") : 0;
        EXPECT_EQ(RawStatus(m_server->Port(), c.from, post(c.text)), c.status) << c.what;
        const auto after = fs::exists(m_data / "feedback.txt") ? fs::file_size(m_data / "feedback.txt") : 0;
        EXPECT_EQ(after > before, c.status == 200) << c.what;
    }
}

// Clients that send their headers a line every few seconds hold a connection each; the others
// are still answered at once.
TEST_F(DataServerTest, SlowClientsDoNotHoldUpOthers) {
    Start();
    std::vector<int> slow;
    for (int i = 0; i < 16; ++i) {
        slow.push_back(Connect(m_server->Port()));
        ASSERT_GE(slow.back(), 0);
        send(slow.back(), "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL);
    }
    for (int round = 0; round < 2; ++round) {
        if (round > 0) std::this_thread::sleep_for(std::chrono::seconds(3));
        for (int fd : slow) send(fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
    }
    const auto start = std::chrono::steady_clock::now();
    httplib::Client cli("127.0.0.1", m_server->Port());
    cli.set_read_timeout(5, 0);
    auto res = cli.Get("/fund/fund.php?gid=0&ver=12");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    for (int fd : slow) close(fd);
}

// SIGTERM ends the relaying server at once, even while it waits on a source that does not answer.
TEST_F(DataServerTest, TermEndsTheRelayWhileASourceStalls) {
    LocalHttpServer up;
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    up.Http().Get(".*", [&](const httplib::Request&, httplib::Response& res) {
        std::unique_lock lock(mutex);
        released.wait_for(lock, std::chrono::seconds(60), [&] { return release; });
        res.set_content("late", "text/plain");
    });
    up.Start();
    std::vector<std::string> args = {ZEZA_DATASERVER_PATH, "--source", "public", "--port", "0", "--data",
                                     m_data.string()};
    for (const char* source :
         {"catalogue", "netvalue", "fundinfo", "estimate", "holdings", "position", "quote", "quote-fallback"})
        args.insert(args.end(), {"--"s + source + "-url", up.Base() + source});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    for (int i = 0; i < 5000 && up.Requests().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(up.Requests().empty()) << "the relay fetched nothing";

    kill(pid, SIGTERM);
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto took = std::chrono::steady_clock::now() - start;
    if (took >= std::chrono::seconds(5)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
}

TEST_F(DataServerTest, AnnouncedUpdateIsServedWithItsChecksum) {
    std::string program;
    for (int i = 0; i < 70000; ++i) program += static_cast<char>((i * 131 + i / 256) & 0xFF);
    program += "\r\n\0\x7C"s;
    fs::create_directories(m_data / "update");
    WriteFileBytes(m_data / "update" / "Zeza-13.bin", program);
    WriteFileBytes(m_data / "update" / "update.ini",
                   "[VER]\nLastVer=13\nUpdateVer=13\nUpdateFu=1\nFile=Zeza-13.bin\n");
    Start();

    zeza::ControlFileIni control = Control();
    EXPECT_EQ(control.GetInt("VER", "LastVer", -1), 13);
    EXPECT_EQ(control.GetInt("VER", "UpdateVer", -1), 13);
    EXPECT_EQ(control.GetInt("VER", "UpdateFu", -1), 1);
    const std::string base = "http://127.0.0.1:" + std::to_string(m_server->Port()) + "/";
    EXPECT_EQ(control.GetString("VER", "UpdatePath", "?", 260), base + "update/Zeza-13.bin");
    EXPECT_EQ(control.GetString("VER", "UpdateSha256", "?", 260), Sha256::Hex(program));

    const auto file = Get("/update/Zeza-13.bin");
    EXPECT_EQ(file.get_header_value("Content-Type"), "application/octet-stream");
    EXPECT_TRUE(file.body == program)
        << "served " << file.body.size() << " of " << program.size() << " bytes";

    // Only the announced file leaves the folder.
    for (const char* path : {"/update/update.ini", "/update/..%2Fnavs.txt", "/update/"}) Get(path, 404);

    // The URL names the host the client asked for; a Host header unfit for a URL is not copied.
    EXPECT_EQ(Control({{"Host", "funds.example.test:8080"}}).GetString("VER", "UpdatePath", "?", 260),
              "http://funds.example.test:8080/update/Zeza-13.bin");
    EXPECT_EQ(Control({{"Host", "a b/c"}}).GetString("VER", "UpdatePath", "?", 260),
              base + "update/Zeza-13.bin");
}

TEST_F(DataServerTest, UpdateNamingAFileOutsideItsFolderIsIgnored) {
    fs::create_directories(m_data / "update");
    WriteFileBytes(m_data / "update" / "update.ini",
                   "LastVer=13\nUpdateVer=13\nUpdateFu=1\nFile=../navs.txt\n");
    Start();
    zeza::ControlFileIni control = Control();
    EXPECT_EQ(control.GetInt("VER", "LastVer", -1), 12);
    EXPECT_EQ(control.GetString("VER", "UpdatePath", "?", 260), "");
    EXPECT_EQ(m_server->Warnings().size(), 2u);  // the bad fund line and the refused update
}

TEST_F(DataServerTest, TickMovesEstimatesAndTheirTime) {
    Start();
    const std::string stkBefore = Body("/fund/gdata.php?tp=stk&dt=0");
    const auto before = Lines(Body("/fund/gdata.php?tp=est&dt=0"));
    const time_t tickedAt = std::time(nullptr);
    m_server->Tick();
    const auto after = Lines(Body("/fund/gdata.php?tp=est&dt=0"));
    const int estTime = Control().GetInt("FU", "estTime", 0);
    EXPECT_GE(estTime, tickedAt);

    ASSERT_EQ(after.size(), before.size());
    int changed = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        ASSERT_EQ(after[i].substr(0, 7), before[i].substr(0, 7));
        ASSERT_TRUE(std::regex_match(after[i], std::regex(R"(\d{6}\|\d+\.\d{4})"))) << after[i];
        double was = std::stod(before[i].substr(7)), now = std::stod(after[i].substr(7));
        EXPECT_LE(std::fabs(now / was - 1), 0.015 + 0.0001 / was) << before[i] << " -> " << after[i];
        if (now != was) ++changed;
    }
    EXPECT_GT(changed, 0);
    EXPECT_EQ(Body("/fund/gdata.php?tp=stk&dt=0"), stkBefore);

    // Two moves in one second still carry two different times.
    m_server->Tick();
    EXPECT_GT(Control().GetInt("FU", "estTime", 0), estTime);
}

// The market line: the sample folder announces and serves its five indices, and a live tick
// moves them with a new time; a folder without indices.txt has no such feed at all.
TEST_F(DataServerTest, IndexFeedFromTheSampleFolderAndItsTicks) {
    auto sample = StartDataServer(zeza::server::SampleDataDir());
    ASSERT_TRUE(sample);
    httplib::Client cli("127.0.0.1", sample->Port());
    auto get = [&](const char* path) {
        auto res = cli.Get(path);
        EXPECT_TRUE(res && res->status == 200) << path;
        return res ? res->body : std::string();
    };
    const auto idxTime = [&] {
        return zeza::ControlFileIni(get("/fund/fund.php?gid=x&ver=12")).GetInt("FU", "idxTime", -1);
    };
    EXPECT_EQ(idxTime(), 1226649600);  // 2008-11-14 16:00 Beijing, from times.ini
    const std::string before = get("/fund/gdata.php?tp=idx&dt=0");
    EXPECT_EQ(before, G("sh000001|上证指数|1994.67|0.63|2008-11-14 15:00:00\r\n"
                        "sz399001|深证成指|6843.19|0.92|2008-11-14 15:00:00\r\n"
                        "sz399006|创业板指|1003.25|-0.41|2008-11-14 15:00:00\r\n"
                        "sh000300|沪深300|1961.80|0.75|2008-11-14 15:00:00\r\n"
                        "hkHSI|恒生指数|13542.66|-1.42|2008-11-14 16:00:00\r\n"));

    const time_t tickedAt = std::time(nullptr);
    sample->Tick();
    const time_t tickDone = std::time(nullptr);
    const auto was = Lines(before), now = Lines(get("/fund/gdata.php?tp=idx&dt=0"));
    ASSERT_EQ(now.size(), was.size());
    auto beijing = [](time_t t) {
        t += 8 * 3600;
        char buf[32];
        std::strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M:%S", std::gmtime(&t));
        return std::string(buf);
    };
    const std::regex shape(R"(([a-zA-Z0-9]+)\|[^|]+\|(\d+\.\d\d)\|(-?\d+\.\d\d)\|(.*))");
    int moved = 0;
    for (size_t i = 0; i < was.size(); ++i) {
        std::smatch a, b;
        ASSERT_TRUE(std::regex_match(was[i], a, shape)) << was[i];
        ASSERT_TRUE(std::regex_match(now[i], b, shape)) << now[i];
        EXPECT_EQ(b[1], a[1]);
        const double level0 = std::stod(a[2]), change0 = std::stod(a[3]), level1 = std::stod(b[2]);
        EXPECT_LE(std::fabs(level1 / level0 - 1), 0.005 + 0.01 / level0) << was[i] << " -> " << now[i];
        // The change stays against the day's previous close, not against the last tick.
        const double close = level0 / (1 + change0 / 100);
        EXPECT_NEAR(std::stod(b[3]), (level1 / close - 1) * 100, 0.0051) << now[i];
        // Stamped with the tick's Beijing time.
        EXPECT_TRUE(beijing(tickedAt) <= b[4] && b[4] <= beijing(tickDone)) << now[i];
        if (level1 != level0) ++moved;
    }
    EXPECT_GT(moved, 0);
    const int ticked = idxTime();
    EXPECT_GE(ticked, tickedAt);
    sample->Tick();
    EXPECT_GT(idxTime(), ticked);

    Start();  // the test folder has no indices.txt
    EXPECT_EQ(Control().GetInt("FU", "idxTime", -1), -1);
    Get("/fund/gdata.php?tp=idx&dt=0", 404);
}

TEST_F(DataServerTest, LiveModeMovesEstimatesByItself) {
    Start(1);
    const std::string first = Body("/fund/gdata.php?tp=est&dt=0");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (Body("/fund/gdata.php?tp=est&dt=0") == first && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(Body("/fund/gdata.php?tp=est&dt=0"), first);
    EXPECT_NE(Control().GetInt("FU", "estTime", 0), kEstFileTime);
}

TEST_F(DataServerTest, StartFailsWithoutDataOrPort) {
    auto startError = [&](int port) {
        DataServer::Options o;
        o.dataDir = m_data;
        o.port = port;
        std::string error;
        EXPECT_FALSE(DataServer(o).Start(error));
        return error;
    };
    Start();
    const std::string taken = startError(m_server->Port());
    EXPECT_NE(taken.find("cannot listen"), std::string::npos) << taken;
    fs::remove(m_data / "navs.txt");
    const std::string missing = startError(0);
    EXPECT_NE(missing.find("navs.txt"), std::string::npos) << missing;
}

// The committed sample folder is what demonstrations and the program's own
// end-to-end runs use: it has to load cleanly and look like a real market.
TEST(SampleDataTest, LoadsCleanlyAndLooksLikeAMarket) {
    FundData data;
    std::string error;
    ASSERT_TRUE(data.Load(zeza::server::SampleDataDir(), error)) << error;
    EXPECT_TRUE(data.Warnings().empty()) << data.Warnings().front();
    EXPECT_EQ(data.QuoteDate(), "2008-11-14");

    const auto& funds = data.Funds();
    ASSERT_GE(funds.size(), 2000u);
    EXPECT_EQ(funds[0].code + funds[0].name + funds[0].typeCode, "000001" + G("华夏成长") + "gu");
    EXPECT_EQ(funds[1].code + funds[1].name + funds[1].typeCode, "000011" + G("华夏大盘") + "gu");
    EXPECT_EQ(funds[2].code + funds[2].name + funds[2].typeCode, "000021" + G("华夏优势") + "gu");

    std::map<std::string, size_t> perType;
    size_t withNav = 0;
    for (const auto& f : funds) {
        ++perType[f.typeCode];
        EXPECT_LE(f.name.size(), 18u) << f.code;
        EXPECT_TRUE(zeza::IsValidGbk(f.name)) << f.code;
        EXPECT_LE(f.changeTime, data.ListTime()) << f.code;
        const auto* nav = data.FindNav(f.code);
        if (!nav) continue;
        ++withNav;
        EXPECT_GE(nav->accumulated, nav->latest) << f.code;
        EXPECT_LT(std::fabs(nav->previous / nav->latest - 1), 0.07) << f.code;
        EXPECT_GE(nav->latest, 0.8) << f.code;
        EXPECT_LE(nav->latest, 4.0) << f.code;
        auto est = data.FindEstimate(f.code);
        ASSERT_TRUE(est) << f.code;
        EXPECT_LT(std::fabs(*est / nav->latest - 1), 0.03) << f.code;
    }
    EXPECT_GE(withNav, funds.size() * 9 / 10);
    for (const char* type : {"gu", "hun", "zhai", "zhi"}) EXPECT_GE(perType[type], funds.size() / 10) << type;
    EXPECT_EQ(perType.size(), 4u);
    EXPECT_LT(data.ListTime(), data.StkTime());
    EXPECT_LT(data.StkTime(), data.EstTime());

    // The demo history ends where the net value feed stands.
    for (const char* code : {"000001", "000011", "000021", "000031", "000041"}) {
        const auto* nav = data.FindNav(code);
        ASSERT_TRUE(nav) << code;
        const auto last = Lines(data.NavHistoryFeed(code, "2008-11-13"));
        ASSERT_EQ(last.size(), 2u) << code;
        char before[64], end[64];
        std::snprintf(before, sizeof(before), "2008-11-13|%.4f|", nav->previous);
        std::snprintf(end, sizeof(end), "2008-11-14|%.4f|%.4f|", nav->latest, nav->accumulated);
        EXPECT_EQ(last[0].rfind(before, 0), 0u) << code;
        EXPECT_EQ(last[1], end) << code;
    }
}

}  // namespace
