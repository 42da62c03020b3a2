#include "server/relay/Fetcher.h"

#include <algorithm>
#include <thread>

#include <curl/curl.h>

namespace zeza::relay {
namespace {

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

}  // namespace

std::string HostOf(const std::string& url) {
    size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    size_t end = url.find_first_of("/?#", start);
    return Lower(url.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

bool LooksLikeHtml(std::string_view body, std::string_view contentType) {
    if (Lower(contentType).find("text/html") != std::string::npos) return true;
    size_t i = 0;
    if (body.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
    while (i < body.size() && (body[i] == ' ' || body[i] == '\t' || body[i] == '\r' || body[i] == '\n')) ++i;
    return i < body.size() && body[i] == '<';
}

Fetcher::Fetcher(FetchOptions options) : m_options(std::move(options)) {
    static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)init;
}

FetchResult Fetcher::Get(const std::string& url, const std::string& referer) {
    using clock = std::chrono::steady_clock;
    const std::string host = HostOf(url);
    clock::time_point start;
    {
        std::unique_lock lock(m_mutex);
        HostState& h = m_hosts[host];
        auto now = clock::now();
        if (now < h.restUntil) {
            FetchResult r;
            auto left = std::chrono::duration_cast<std::chrono::seconds>(h.restUntil - now).count();
            r.error = "host " + host + " is resting after " + std::to_string(h.failures) + " failure(s), " +
                      std::to_string(left + 1) + " s left";
            return r;
        }
        // Take the next free turn for this host before sleeping, so concurrent callers queue up.
        start = std::max(now, h.nextRequest);
        h.nextRequest = start + std::chrono::milliseconds(m_options.minIntervalMs);
    }
    std::this_thread::sleep_until(start);
    FetchResult result = Perform(url, referer);
    {
        std::lock_guard lock(m_mutex);
        HostState& h = m_hosts[host];
        if (result.ok) {
            h.failures = 0;
        } else if (result.status != 404) {
            // A missing single item says nothing about the host; anything else rests it.
            ++h.failures;
            long rest = m_options.backoffFirstMs;
            for (int i = 1; i < h.failures && rest < m_options.backoffMaxMs; ++i) rest *= 2;
            rest = std::min(rest, m_options.backoffMaxMs);
            h.restUntil = clock::now() + std::chrono::milliseconds(rest);
        }
    }
    return result;
}

FetchResult Fetcher::Perform(const std::string& url, const std::string& referer) {
    FetchResult r;
    CURL* curl = curl_easy_init();
    if (!curl) {
        r.error = "cannot start libcurl";
        return r;
    }
    Sink sink{&r.body, m_options.maxBytes};
    char errbuf[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
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
    CURLcode rc = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.status);
    const char* type = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) r.contentType = type;
    curl_easy_cleanup(curl);

    if (sink.tooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
        r.error = "answer larger than " + std::to_string(m_options.maxBytes) + " bytes";
    } else if (rc != CURLE_OK) {
        r.error = errbuf[0] ? errbuf : curl_easy_strerror(rc);
    } else if (r.status != 200) {
        r.error = "status " + std::to_string(r.status);
    } else if (r.body.empty()) {
        r.error = "empty answer";
    } else if (LooksLikeHtml(r.body, r.contentType)) {
        r.error = "an HTML page, not data";
    } else {
        r.ok = true;
    }
    return r;
}

}  // namespace zeza::relay
