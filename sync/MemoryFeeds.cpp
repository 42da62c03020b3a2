#include "sync/MemoryFeeds.h"

#include <array>
#include <atomic>
#include <mutex>

#include "db/CFundDb.h"
#include "platform/CacheFolder.h"
#include "platform/ServerConfig.h"
#include "platform/WholeFile.h"
#include "sync/AccuracyFeed.h"
#include "sync/IndexFeed.h"

namespace zeza {
namespace {

constexpr std::array kMemoryFeeds = {
    MemoryFeedDescriptor{.type = "acc",
                         .tempFile = "~FUacc.tmp",
                         .controlKey = "accTime",
                         .serverTime = &ServerControl::accTime,
                         .read = ReadAccuracyFeed,
                         .statusText = "更新估值误差...",
                         .light = false},
    MemoryFeedDescriptor{.type = "idx",
                         .tempFile = "~FUidx.tmp",
                         .controlKey = "idxTime",
                         .serverTime = &ServerControl::idxTime,
                         .read = ReadIndexFeed,
                         .statusText = "更新市场指数...",
                         .light = true},
};

// The refresh thread replaces the tables, the UI thread's view loads read them.
struct Stored {
    std::string type;
    int32_t time = 0;
    std::shared_ptr<const MemoryTable> table;
};
std::mutex g_mutex;
std::vector<Stored> g_stored;
std::atomic<uint64_t> g_generation{0};

}  // namespace

std::span<const MemoryFeedDescriptor> MemoryFeeds() {
    return kMemoryFeeds;
}

const MemoryValue* MemoryFeedSnapshot::Find(std::string_view type, const std::string& code,
                                            long long field) const {
    for (const auto& [name, table] : m_tables) {
        if (name != type) continue;
        const auto it = table->find(code);
        if (it == table->end() || field < 0 || field >= static_cast<long long>(it->second.size()))
            return nullptr;
        return &it->second[static_cast<size_t>(field)];
    }
    return nullptr;
}

MemoryFeedSnapshot TakeMemoryFeeds() {
    MemoryFeedSnapshot s;
    std::lock_guard lock(g_mutex);
    for (const Stored& st : g_stored) s.m_tables.emplace_back(st.type, st.table);
    return s;
}

uint64_t MemoryFeedGeneration() {
    return g_generation.load();
}

int32_t MemoryFeedTime(std::string_view type) {
    std::lock_guard lock(g_mutex);
    for (const Stored& st : g_stored)
        if (st.type == type) return st.time;
    return 0;
}

void StoreMemoryFeed(std::string_view type, int32_t time, MemoryTable table) {
    auto shared = std::make_shared<const MemoryTable>(std::move(table));
    std::lock_guard lock(g_mutex);
    Stored* slot = nullptr;
    for (Stored& st : g_stored)
        if (st.type == type) slot = &st;
    if (!slot) slot = &g_stored.emplace_back(Stored{std::string(type), 0, nullptr});
    slot->time = time;
    slot->table = std::move(shared);
    ++g_generation;
}

void ResetMemoryFeedsForTesting() {
    std::lock_guard lock(g_mutex);
    g_stored.clear();
    ++g_generation;
}

int SyncMemoryFeed(CFundDb& db, const MemoryFeedDescriptor& feed) {
    const int32_t server = db.Server().*feed.serverTime;
    // An older server announces nothing: it has no such feed to ask for.
    if (server == 0) return 0;
    if (server == MemoryFeedTime(feed.type)) return 1;
    // A folder cleared while the program runs is made again, as for the stored feeds.
    MakeCacheFolder(db.CacheFolder());
    const std::string path = db.CacheFolder() + "/" + feed.tempFile;
    const std::string url = ServerBaseUrl() + "fund/gdata.php?tp=" + feed.type + "&dt=0";
    if (!db.DownloadToFile(url, path)) return -1;
    std::string text;
    if (ReadWholeFile(path, text) != WholeFileRead::Read) return -1;
    MemoryTable table;
    if (feed.read(text, table) != 1) return -2;
    StoreMemoryFeed(feed.type, server, std::move(table));
    return 1;
}

}  // namespace zeza
