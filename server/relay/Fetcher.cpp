#include "server/relay/Fetcher.h"

#include <algorithm>

#include <curl/curl.h>

namespace zeza::relay {
namespace {

using Clock = std::chrono::steady_clock;

// Redirects followed after the first answer; a third is not the data's place any more.
constexpr int kMaxRedirects = 2;
// How often a running transfer looks whether it was cancelled.
constexpr int kCancelCheckMs = 50;

struct Sink {
    std::string* body;
    size_t maxBytes;
    bool tooLarge = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    size_t n = size * count;
    if (sink->body->size() + n > sink->maxBytes) {
        sink->tooLarge = true;
        return 0;  // ends the transfer
    }
    sink->body->append(data, n);
    return n;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The host name of a URL without its port, for comparing where a redirect points.
std::string NameOf(const std::string& url) {
    std::string host = HostOf(url);
    if (!host.empty() && host[0] == '[') return host.substr(0, host.find(']') + 1);
    return host.substr(0, host.find(':'));
}

bool IsHttps(const std::string& url) {
    return Lower(url.substr(0, 8)) == "https://";
}

FetchResult Stopping() {
    FetchResult r;
    r.error = "stopping";
    r.cancelled = true;
    return r;
}

}  // namespace

std::string HostOf(const std::string& url) {
    size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    size_t end = url.find_first_of("/?#", start);
    return Lower(url.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

bool LooksLikeHtml(std::string_view body) {
    size_t i = 0;
    if (body.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
    while (i < body.size() && (body[i] == ' ' || body[i] == '\t' || body[i] == '\r' || body[i] == '\n')) ++i;
    if (i < body.size() && body[i] == '<') return true;
    // A page behind a short preamble (a comment, a stray line of script) still shows its tags early.
    const std::string head = Lower(body.substr(0, 1024));
    for (const char* tag : {"<html", "<body", "<!doctype"})
        if (head.find(tag) != std::string::npos) return true;
    return false;
}

Fetcher::Fetcher(FetchOptions options) : m_options(std::move(options)) {
    static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)init;
}

FetchResult Fetcher::Get(const std::string& url, const std::string& referer, const std::string& source) {
    const std::string key = source.empty() ? "host " + HostOf(url) : source;
    if (m_cancelled) return Stopping();
    {
        std::lock_guard lock(m_mutex);
        auto it = m_rests.find(key);
        const auto now = Now();
        if (it != m_rests.end() && now < it->second.until) {
            FetchResult r;
            r.resting = true;
            auto left = std::chrono::duration_cast<std::chrono::seconds>(it->second.until - now).count();
            r.error = key + " is resting after " + std::to_string(it->second.failures) + " failure(s), " +
                      std::to_string(left + 1) + " s left";
            return r;
        }
    }
    std::string current = url;
    FetchResult result;
    for (int hop = 0;; ++hop) {
        if (!WaitTurn(HostOf(current))) return Stopping();
        std::string location;
        result = Perform(current, referer, location);
        if (result.cancelled) return result;  // says nothing about the source
        if (location.empty()) break;
        const bool sameHost = NameOf(location) == NameOf(current) && (IsHttps(location) || !IsHttps(current));
        if (hop >= kMaxRedirects || !sameHost) {
            result.error = "redirected to " + location;
            break;
        }
        current = location;
    }
    std::lock_guard lock(m_mutex);
    if (result.ok) {
        m_rests.erase(key);
    } else if (result.status != 404) {
        // A missing single item says nothing about the source; anything else rests it.
        Failed(key);
    }
    return result;
}

void Fetcher::Refused(const std::string& source) {
    if (source.empty()) return;
    std::lock_guard lock(m_mutex);
    Failed(source);
}

bool Fetcher::Resting(const std::string& source) const {
    if (source.empty()) return false;
    std::lock_guard lock(m_mutex);
    auto it = m_rests.find(source);
    return it != m_rests.end() && Now() < it->second.until;
}

void Fetcher::Cancel() {
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
    }
    m_wake.notify_all();
}

Clock::time_point Fetcher::Now() const {
    return m_options.simulatedNow ? m_options.simulatedNow() : Clock::now();
}

bool Fetcher::WaitTurn(const std::string& host) {
    std::unique_lock lock(m_mutex);
    // Take the next free turn for this host before waiting, so concurrent callers queue up.
    auto& next = m_nextRequest[host];
    const auto start = std::max(Now(), next);
    next = start + std::chrono::milliseconds(m_options.minIntervalMs);
    if (m_options.simulatedWaitUntil) {
        lock.unlock();
        m_options.simulatedWaitUntil(start);
        return !m_cancelled;
    }
    return !m_wake.wait_until(lock, start, [this] { return m_cancelled.load(); });
}

void Fetcher::Failed(const std::string& key) {
    Rest& rest = m_rests[key];
    ++rest.failures;
    long ms = m_options.backoffFirstMs;
    for (int i = 1; i < rest.failures && ms < m_options.backoffMaxMs; ++i) ms *= 2;
    ms = std::min(ms, m_options.backoffMaxMs);
    rest.until = Now() + std::chrono::milliseconds(ms);
}

FetchResult Fetcher::Perform(const std::string& url, const std::string& referer, std::string& location) {
    FetchResult r;
    CURL* curl = curl_easy_init();
    CURLM* multi = curl_multi_init();
    if (!curl || !multi) {
        if (curl) curl_easy_cleanup(curl);
        if (multi) curl_multi_cleanup(multi);
        r.error = "cannot start libcurl";
        return r;
    }
    Sink sink{&r.body, m_options.maxBytes};
    char errbuf[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are judged here, one hop at a time, so each hop keeps to the host's spacing.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, m_options.userAgent.c_str());
    if (!referer.empty()) curl_easy_setopt(curl, CURLOPT_REFERER, referer.c_str());
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, m_options.connectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, m_options.totalTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(m_options.maxBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);

    // The multi interface with a short poll, so Cancel ends a stalled transfer within a tick.
    curl_multi_add_handle(multi, curl);
    CURLcode rc = CURLE_OK;
    int running = 1;
    while (running > 0) {
        if (m_cancelled) {
            r.cancelled = true;
            break;
        }
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            rc = CURLE_FAILED_INIT;
            break;
        }
        if (running > 0) curl_multi_poll(multi, nullptr, 0, kCancelCheckMs, nullptr);
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left))
        if (msg->msg == CURLMSG_DONE) rc = msg->data.result;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.status);
    const char* type = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) r.contentType = type;
    const char* redirect = nullptr;
    if (r.status >= 300 && r.status < 400 &&
        curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &redirect) == CURLE_OK && redirect)
        location = redirect;
    curl_multi_remove_handle(multi, curl);
    curl_easy_cleanup(curl);
    curl_multi_cleanup(multi);

    if (r.cancelled) {
        r.error = "stopping";
    } else if (sink.tooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
        r.error = "answer larger than " + std::to_string(m_options.maxBytes) + " bytes";
    } else if (rc != CURLE_OK) {
        r.error = errbuf[0] ? errbuf : curl_easy_strerror(rc);
    } else if (!location.empty()) {
        r.error = "redirected to " + location;
    } else if (r.status != 200) {
        r.error = "status " + std::to_string(r.status);
    } else if (r.body.empty()) {
        r.error = "empty answer";
    } else if (LooksLikeHtml(r.body)) {
        r.error = "an HTML page, not data";
    } else {
        r.ok = true;
    }
    return r;
}

}  // namespace zeza::relay
