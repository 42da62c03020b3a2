// The relay's fetcher against a fake upstream on 127.0.0.1: answers judged by their bodies,
// redirects, rests per source and cancelling.

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

#include "server/relay/Fetcher.h"
#include "tests/LocalHttpServer.h"

using namespace zeza::relay;
using namespace zeza::test;
using namespace std::chrono_literals;

namespace {

FetchOptions Quick(long intervalMs = 0) {
    FetchOptions o;
    o.connectTimeoutMs = 2000;
    o.totalTimeoutMs = 30000;
    o.minIntervalMs = intervalMs;
    o.backoffFirstMs = 60000;
    return o;
}

class FetcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_up.Serve("/data", "var a=1;");
        m_up.Route("/stall", [this](const httplib::Request&, httplib::Response& res) {
            std::unique_lock lock(m_mutex);
            m_released.wait_for(lock, 20s, [this] { return m_release; });
            res.set_content("late", "text/plain");
        });
        m_up.Start();
    }
    void TearDown() override {
        {
            std::lock_guard lock(m_mutex);
            m_release = true;
        }
        m_released.notify_all();
        m_up.Stop();
    }
    std::string Url(const std::string& path) const { return m_up.Base() + path.substr(1); }
    int Asked(const std::string& path) const {
        int n = 0;
        for (const auto& seen : m_up.Requests()) n += seen.path == path;
        return n;
    }
    void Redirect(const std::string& from, const std::string& to) {
        m_up.Route(from, [to](const httplib::Request&, httplib::Response& res) { res.set_redirect(to); });
    }

    LocalHttpServer m_up;
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_release = false;
};

TEST_F(FetcherTest, AnswersAreJudgedByTheirBodies) {
    const std::string late = std::string(1100, ' ') + "var s=\"<html\";";
    struct Case {
        const char* path;
        std::string body;
        const char* type;
        bool ok;
    } cases[] = {
        // The quote service labels its GBK script as a page.
        {"/quote", "v_sh600000=\"1~\xC6\xD6\xB7\xA2\xD2\xF8\xD0\xD0~600000~7.50\";\n",
         "text/html; charset=GBK", true},
        {"/doctype", " \r\n\t\n<!DOCTYPE html><html><body>busy</body></html>", "application/json", false},
        {"/preamble", "// cached\nvar x = 1;\n<HTML><title>404</title></HTML>", "application/json", false},
        {"/bom", "\xEF\xBB\xBF  <p>moved</p>", "text/plain", false},
        {"/body-tag", "{\"a\":1}\n<Body>error</Body>", "application/json", false},
        {"/late-tag", late, "application/javascript", true},
    };
    for (const auto& c : cases) m_up.Serve(c.path, c.body, c.type);
    Fetcher fetcher(Quick());
    for (const auto& c : cases) {
        FetchResult r = fetcher.Get(Url(c.path), "", c.path);
        EXPECT_EQ(r.ok, c.ok) << c.path << ": " << r.error;
        EXPECT_EQ(r.contentType, c.type) << c.path;
        if (!c.ok) {
            EXPECT_EQ(r.error, "an HTML page, not data") << c.path;
        }
    }
}

TEST_F(FetcherTest, RedirectsOnTheSameHostAreFollowedTwiceAtMost) {
    LocalHttpServer other;  // the same name on another port still counts as the same host
    other.Serve("/data", "var b=2;");
    other.Start();
    Redirect("/one", "/data");
    Redirect("/two", "/one");
    Redirect("/three", "/two");
    Redirect("/port", other.Base() + "data");
    Redirect("/foreign", "http://localhost:" + std::to_string(m_up.Port()) + "/data");
    struct Case {
        const char* path;
        const char* body;  // "" when refused
    } cases[] = {
        {"/one", "var a=1;"}, {"/two", "var a=1;"}, {"/port", "var b=2;"}, {"/three", ""}, {"/foreign", ""},
    };
    Fetcher fetcher(Quick());
    for (const auto& c : cases) {
        m_up.ForgetRequests();
        FetchResult r = fetcher.Get(Url(c.path), "", c.path);
        EXPECT_EQ(r.ok, *c.body != 0) << c.path << ": " << r.error;
        if (*c.body) {
            EXPECT_EQ(r.body, c.body) << c.path;
        } else {
            EXPECT_EQ(r.error.rfind("redirected to ", 0), 0u) << c.path << ": " << r.error;
            EXPECT_EQ(Asked("/data"), 0) << c.path;
        }
    }
}

TEST_F(FetcherTest, AFailingSourceRestsAloneAndRefusedRestsToo) {
    m_up.Serve("/broken", "oops", "text/plain", 500);
    m_up.Serve("/missing", "no", "text/plain", 404);
    Fetcher fetcher(Quick());

    EXPECT_FALSE(fetcher.Get(Url("/broken"), "", "data script").ok);
    FetchResult again = fetcher.Get(Url("/broken"), "", "data script");
    EXPECT_TRUE(again.resting);
    EXPECT_EQ(Asked("/broken"), 1);
    EXPECT_TRUE(fetcher.Resting("data script"));
    // Another source on the same host is still asked.
    FetchResult other = fetcher.Get(Url("/data"), "", "net values");
    EXPECT_TRUE(other.ok) << other.error;
    EXPECT_FALSE(other.resting);

    // A missing item rests nothing.
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(fetcher.Get(Url("/missing"), "", "holdings").resting);
    EXPECT_EQ(Asked("/missing"), 2);
    EXPECT_FALSE(fetcher.Resting("holdings"));

    // A 200 answer the caller could not read rests its source like a failure.
    fetcher.Refused("net values");
    EXPECT_TRUE(fetcher.Resting("net values"));
    EXPECT_TRUE(fetcher.Get(Url("/data"), "", "net values").resting);
    EXPECT_EQ(Asked("/data"), 1);
    fetcher.Refused("");
    EXPECT_FALSE(fetcher.Resting(""));
    EXPECT_TRUE(fetcher.Get(Url("/data")).ok);
}

TEST_F(FetcherTest, CancelEndsAStalledRequestAndOneWaitingForItsTurn) {
    Fetcher fetcher(Quick(20000));
    auto stalled = std::async(std::launch::async, [&] { return fetcher.Get(Url("/stall"), "", "a"); });
    for (int i = 0; i < 2000 && !m_up.Asked("/stall"); ++i) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(m_up.Asked("/stall"));
    // Same host: its turn comes 20 s after the stalled one's.
    auto waiting = std::async(std::launch::async, [&] { return fetcher.Get(Url("/data"), "", "b"); });
    std::this_thread::sleep_for(100ms);

    const auto start = std::chrono::steady_clock::now();
    fetcher.Cancel();
    ASSERT_EQ(stalled.wait_for(1s), std::future_status::ready);
    ASSERT_EQ(waiting.wait_for(1s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    for (FetchResult r : {stalled.get(), waiting.get()}) {
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.cancelled) << r.error;
    }
    FetchResult later = fetcher.Get(Url("/data"), "", "c");
    EXPECT_TRUE(later.cancelled);
    EXPECT_EQ(later.error, "stopping");
    EXPECT_EQ(Asked("/data"), 0);
    // Stopping is not the source's fault.
    EXPECT_FALSE(fetcher.Resting("a"));
}

}  // namespace
