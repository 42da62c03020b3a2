#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace zeza::relay {

// How the relay talks to the public pages: as one polite browser.
struct FetchOptions {
    std::string userAgent =
        "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0 Safari/537.36";
    long connectTimeoutMs = 10000;
    long totalTimeoutMs = 60000;
    size_t maxBytes = 32u << 20;  // the whole catalogue is a few MB; anything far larger is not it
    long minIntervalMs = 500;     // between two requests to one host
    long backoffFirstMs = 60000;  // after a failure, the source rests this long, doubling per failure
    long backoffMaxMs = 30 * 60000;
    // Simulated time, for a bench that replays hours of fetching in seconds: when set, turns,
    // rests and waits are on this clock and waiting for a turn moves it on instead of sleeping.
    std::function<std::chrono::steady_clock::time_point()> simulatedNow;
    std::function<void(std::chrono::steady_clock::time_point)> simulatedWaitUntil;
};

struct FetchResult {
    bool ok = false;
    long status = 0;   // HTTP status, 0 when none came
    std::string body;  // kept also on failure, for the probe
    std::string contentType;
    std::string error;       // why it is not ok
    bool resting = false;    // not asked: the source rests after a failure
    bool cancelled = false;  // ended or not asked because the fetcher was cancelled
};

// GET with libcurl: browser User-Agent, optional Referer, timeouts, a size cap, at most two
// redirects on the same host, at most one request per host per interval, and a rest for a
// source after it failed. Thread-safe.
class Fetcher {
  public:
    explicit Fetcher(FetchOptions options = {});
    // source: the name a rest is kept under ("net values", "data script", ...); "" = the host.
    FetchResult Get(const std::string& url, const std::string& referer = "", const std::string& source = "");
    // A 200 answer the caller could not use (unreadable, refused for size): the source rests as
    // after a network failure, so a bad page is not fetched again every 30 s. "" names no source
    // (it cannot tell which host was meant) and rests nothing.
    void Refused(const std::string& source);
    // Whether a Get under source would now come back resting without asking; "" is always false.
    bool Resting(const std::string& source) const;
    // Ends every running request at once and makes later ones fail with "stopping" without
    // asking; for shutdown.
    void Cancel();
    const FetchOptions& Options() const { return m_options; }

  private:
    struct Rest {
        std::chrono::steady_clock::time_point until{};
        int failures = 0;
    };
    // Waits for the host's next free turn; false when cancelled meanwhile.
    bool WaitTurn(const std::string& host);
    // One transfer, no redirect followed; location gets where a redirect points.
    FetchResult Perform(const std::string& url, const std::string& referer, std::string& location);
    void Failed(const std::string& key);
    std::chrono::steady_clock::time_point Now() const;

    FetchOptions m_options;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;  // Cancel wakes the callers waiting for their turn
    std::map<std::string, std::chrono::steady_clock::time_point> m_nextRequest;  // per host
    std::map<std::string, Rest> m_rests;  // per source, or "host " + host
    std::atomic<bool> m_cancelled{false};
};

// The host (and port) part of an http or https URL.
std::string HostOf(const std::string& url);
// True for a body that is an HTML page (error and "not found" pages come with status 200,
// and under any label: the quote service labels its script text/html).
bool LooksLikeHtml(std::string_view body);

}  // namespace zeza::relay
