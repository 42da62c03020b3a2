// The online synchronisation members of CFundDb: downloads, the server's
// control file, the sync plan and the three feeds.
#include "db/CFundDb.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>

#include "db/SqlAccess.h"
#include "platform/CacheFolder.h"
#include "platform/ControlFileIni.h"
#include "platform/ServerConfig.h"
#include "platform/UrlDownload.h"
#include "sync/Feeds.h"
#include "sync/MemoryFeeds.h"
#include "zeza/BuildConfig.h"

namespace zeza {
namespace {

// Shared by every CFundDb of the process; a stale read only causes an extra
// or a skipped refetch.
std::atomic<int64_t> g_lastControlFetch{0};

// The control file is refetched when the last fetch is older than this.
constexpr int64_t kControlRefetchSeconds = 3600;

// The control file's UpdatePath is read into a buffer of this many bytes.
constexpr size_t kUpdatePathBuffer = 260;

// The upgrade command (UI thread) and the refresh thread may fetch the control
// file at the same time; they would write the same temporary file.
std::mutex g_controlFileMutex;

int64_t Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

// The installation id goes into a query string; anything but the characters a
// URL carries as they are is percent-encoded (a normal id needs none).
std::string EncodeQueryValue(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// The path of a temporary download in the cache folder. The folder is made
// again when it has gone (the user cleared the cache while the program ran);
// otherwise every download would fail until the next start.
std::string CacheFile(const std::string& folder, const char* name) {
    MakeCacheFolder(folder);
    return folder + "/" + name;
}

std::string FeedUrl(const char* type, int32_t localTime) {
    return ServerBaseUrl() + "fund/gdata.php?tp=" + type + "&dt=" + std::to_string(localTime);
}

}  // namespace

int64_t CFundDb::LastControlFetchTime() {
    return g_lastControlFetch.load();
}

void CFundDb::SetLastControlFetchTimeForTesting(int64_t t) {
    g_lastControlFetch = t;
}

int CFundDb::DownloadToFile(const std::string& url, const std::string& path,
                            const DownloadProgress& progress) {
    return DownloadUrlToFile(url, path, progress) ? 1 : 0;
}

int CFundDb::SendThanks() {
    // Fire and forget: nobody waits for the thanks to arrive.
    (void)DownloadToFile(ServerBaseUrl() + "fund/thanks.php", CacheFile(m_strCacheFolder, "~FUthanks.tmp"));
    return 0;
}

int CFundDb::FetchControlFile(ServerControl& rec, const DownloadProgress& progress) {
    rec.Clear();
    const std::string url = ServerBaseUrl() + "fund/fund.php?gid=" + EncodeQueryValue(m_local.guid) +
                            "&ver=" + std::to_string(kProgramVersion);
    ControlFileIni ini;
    {
        std::lock_guard lock(g_controlFileMutex);
        const std::string path = CacheFile(m_strCacheFolder, "~FUini.tmp");
        if (!DownloadToFile(url, path, progress)) return 0;
        if (!ini.Load(path)) return 0;
    }
    // An answer without the feed section is not the control file (an error
    // page, a captive portal's login page) and must not start any feed.
    if (!ini.HasSection("FU")) return 0;
    for (const FeedDescriptor& feed : Feeds()) rec.*feed.serverTime = ini.GetInt("FU", feed.controlKey, 0);
    for (const MemoryFeedDescriptor& feed : MemoryFeeds())
        rec.*feed.serverTime = ini.GetInt("FU", feed.controlKey, 0);
    rec.LastVer = ini.GetInt("VER", "LastVer", 0);
    rec.UpdateVer = ini.GetInt("VER", "UpdateVer", 0);
    rec.UpdateFu = ini.GetInt("VER", "UpdateFu", 0);
    // Read one byte more than the buffer keeps: a path that does not fit is
    // dropped whole rather than cut into a different, wrong URL.
    std::string updatePath = ini.GetString("VER", "UpdatePath", "", kUpdatePathBuffer + 1);
    rec.UpdatePath = updatePath.size() < kUpdatePathBuffer ? updatePath : std::string();
    rec.UpdateSha256 = ini.GetString("VER", "UpdateSha256", "", 1024);
    g_lastControlFetch = Now();
    return 1;
}

int CFundDb::CheckServer() {
    if (!FetchControlFile(m_server)) return -1;
    if (m_server.UpdateFu != 0 && m_server.UpdateVer > kProgramVersion) return -2;
    return 1;
}

int CFundDb::LightSync() {
    ServerControl fresh;
    // A failed fetch keeps the times of the last good one, as SyncFeed's refetch does.
    if (!FetchControlFile(fresh)) return -1;
    m_server = fresh;
    const int result = SyncFeed(kEstimateFeed);
    for (const MemoryFeedDescriptor& feed : MemoryFeeds())
        if (feed.light) (void)SyncMemoryFeed(*this, feed);
    return result;
}

int CFundDb::SyncFeed(int kind) {
    const FeedDescriptor* feed = FindFeed(kind);
    if (!feed) return -2;
    const int64_t last = g_lastControlFetch.load();
    if (last != 0 && Now() - last > kControlRefetchSeconds) {
        // A failed refetch keeps the times of the last good fetch: cleared
        // times would run every feed and store 0 as the feed's time.
        ServerControl fresh;
        if (FetchControlFile(fresh)) m_server = fresh;
    }

    int32_t& local = m_local.*feed->storedTime;
    const int32_t server = m_server.*feed->serverTime;
    if (local == server) return 1;
    if (FetchFeed(*feed) <= 0) return feed->syncFailed;
    local = server;
    // When this fails the file keeps the old time and the next start repeats the feed.
    (void)ExecSql(std::string("UPDATE fu_iniLoc SET ") + feed->controlKey + "=?;",
                  {static_cast<long long>(server)});
    return 1;
}

int CFundDb::FetchFeed(const FeedDescriptor& feed) {
    const std::string path = CacheFile(m_strCacheFolder, feed.tempFile);
    if (!DownloadToFile(FeedUrl(feed.type, m_local.*feed.storedTime), path)) return feed.downloadFailed;
    return feed.apply(path);
}

int CFundDb::SaveUpdateTime(int t) {
    if (ExecSql("UPDATE fu_iniLoc SET updateTime=?;", {static_cast<long long>(t)}) != 0) return 0;
    m_local.updateTime = t;
    return 1;
}

}  // namespace zeza
