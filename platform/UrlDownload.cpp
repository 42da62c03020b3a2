#include "platform/UrlDownload.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include <curl/curl.h>

namespace zeza {
namespace {

constexpr long kConnectTimeoutSeconds = 10;
constexpr long kMaxRedirects = 5;
constexpr long kLowSpeedBytesPerSecond = 100;
constexpr long kLowSpeedSeconds = 30;

std::atomic<long> g_lowSpeedBytes{0};
std::atomic<long> g_lowSpeedSeconds{0};
std::atomic<int64_t> g_sizeLimit{0};
std::atomic<bool> g_abort{false};

// Called by libcurl about once a second even when no data flows, so a closing
// program, or a user who gave up, never waits for a slow server.
int CheckAbort(void* user, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t) {
    if (g_abort.load()) return 1;
    const DownloadProgress* progress = static_cast<const DownloadProgress*>(user);
    if (*progress && !(*progress)(static_cast<int64_t>(received), static_cast<int64_t>(total))) return 1;
    return 0;
}

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Sink {
    std::FILE* file = nullptr;
    int64_t written = 0;
    int64_t limit = 0;
    bool writeFailed = false;
};

size_t WriteToFile(char* data, size_t size, size_t count, void* user) {
    Sink* sink = static_cast<Sink*>(user);
    const size_t bytes = size * count;
    // Returning less than given makes libcurl abort the transfer.
    if (sink->written + static_cast<int64_t>(bytes) > sink->limit) return 0;
    if (bytes > 0 && std::fwrite(data, 1, bytes, sink->file) != bytes) {
        sink->writeFailed = true;
        return 0;
    }
    sink->written += static_cast<int64_t>(bytes);
    return bytes;
}

class CurlHandle {
  public:
    CurlHandle() : m_curl(curl_easy_init()) {}
    ~CurlHandle() {
        if (m_headers) curl_slist_free_all(m_headers);
        if (m_curl) curl_easy_cleanup(m_curl);
    }
    CurlHandle(const CurlHandle&) = delete;
    CurlHandle& operator=(const CurlHandle&) = delete;

    CURL* get() const { return m_curl; }
    void AddHeader(const char* h) { m_headers = curl_slist_append(m_headers, h); }
    curl_slist* Headers() const { return m_headers; }

  private:
    CURL* m_curl;
    curl_slist* m_headers = nullptr;
};

bool Transfer(const std::string& url, Sink& sink, const DownloadProgress& progress) {
    CurlHandle h;
    if (!h.get()) return false;
    CURL* c = h.get();
    // Both headers, so that no cache between us and the server answers in its place.
    h.AddHeader("Cache-Control: no-cache");
    h.AddHeader("Pragma: no-cache");
    if (!h.Headers()) return false;

    const long lowBytes = g_lowSpeedBytes.load();
    const long lowSeconds = g_lowSpeedSeconds.load();

    bool ok = curl_easy_setopt(c, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_HTTPHEADER, h.Headers()) == CURLE_OK;
    // A proxy from the environment is used for the data server, never for this machine itself.
    ok = ok && curl_easy_setopt(c, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT,
                                lowBytes > 0 ? lowBytes : kLowSpeedBytesPerSecond) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, lowSeconds > 0 ? lowSeconds : kLowSpeedSeconds) ==
                   CURLE_OK;
    // A declared length above the limit is refused before any byte is written;
    // an undeclared one is cut off by the write callback.
    ok =
        ok && curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(sink.limit)) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &WriteToFile) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_USERAGENT, "Zeza") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &CheckAbort) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_XFERINFODATA, &progress) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    if (!ok) return false;
    return curl_easy_perform(c) == CURLE_OK && !sink.writeFailed;
}

}  // namespace

bool DownloadUrlToFile(const std::string& url, const std::string& path, const DownloadProgress& progress) {
    InitCurlOnce();
    if (g_abort.load()) return false;
    Sink sink;
    const int64_t limit = g_sizeLimit.load();
    sink.limit = limit > 0 ? limit : kDownloadSizeLimit;
    sink.file = std::fopen(path.c_str(), "wb");
    if (!sink.file) return false;
    bool ok = Transfer(url, sink, progress);
    if (std::fclose(sink.file) != 0) ok = false;
    // An error status or an aborted transfer leaves an empty or partial file.
    if (!ok) std::remove(path.c_str());
    return ok;
}

void SetDownloadLowSpeedForTesting(long bytesPerSecond, long seconds) {
    g_lowSpeedBytes = bytesPerSecond;
    g_lowSpeedSeconds = seconds;
}

void AbortDownloads(bool abort) {
    g_abort = abort;
}

void SetDownloadSizeLimitForTesting(int64_t bytes) {
    g_sizeLimit = bytes;
}

}  // namespace zeza
