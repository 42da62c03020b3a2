#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace zeza::relay {

// How the relay talks to the public pages: as one polite browser.
struct FetchOptions {
    std::string userAgent =
        "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0 Safari/537.36";
    long connectTimeoutMs = 10000;
    long totalTimeoutMs = 60000;
    size_t maxBytes = 32u << 20;  // the whole catalogue is a few MB; anything far larger is not it
    long minIntervalMs = 500;     // between two requests to one host
    long backoffFirstMs = 60000;  // after a failure, the host rests this long, doubling per failure
    long backoffMaxMs = 30 * 60000;
};

struct FetchResult {
    bool ok = false;
    long status = 0;   // HTTP status, 0 when none came
    std::string body;  // kept also on failure, for the probe
    std::string contentType;
    std::string error;  // why it is not ok
};

// GET with libcurl: browser User-Agent, optional Referer, timeouts, a size cap, no
// redirects (a moved page is not the data), at most one request per host per interval,
// and a rest for a host after it failed. Thread-safe.
class Fetcher {
  public:
    explicit Fetcher(FetchOptions options = {});
    FetchResult Get(const std::string& url, const std::string& referer = "");
    const FetchOptions& Options() const { return m_options; }

  private:
    struct HostState {
        std::chrono::steady_clock::time_point nextRequest{};
        std::chrono::steady_clock::time_point restUntil{};
        int failures = 0;
    };
    FetchResult Perform(const std::string& url, const std::string& referer);

    FetchOptions m_options;
    std::mutex m_mutex;
    std::map<std::string, HostState> m_hosts;
};

// The host (and port) part of an http or https URL.
std::string HostOf(const std::string& url);
// True for a body that is an HTML page (error and "not found" pages come with status 200).
bool LooksLikeHtml(std::string_view body, std::string_view contentType);

}  // namespace zeza::relay
