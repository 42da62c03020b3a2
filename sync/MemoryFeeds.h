#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "db/ServerControl.h"

namespace zeza {

class CFundDb;

// One value of a feed kept in memory, as a view's query reads it: nothing, a
// number or a text (GBK).
using MemoryValue = std::variant<std::monostate, double, std::string>;

// A feed kept in memory: the values of each fund, by its six-digit code.
using MemoryTable = std::unordered_map<std::string, std::vector<MemoryValue>>;

// Everything that tells one feed kept in memory from another. Such a feed is
// asked for whole (dt=0) whenever the server's time of it moved, and never
// touches Zeza.db: its time lives beside its table for the life of the process.
struct MemoryFeedDescriptor {
    const char* type;        // "tp" of the feed's URL, also its name for a view's query
    const char* tempFile;    // its download, in the cache folder
    const char* controlKey;  // its time in the control file's [FU] section
    int32_t ServerControl::*serverTime;
    // Reads the downloaded text into out. 1 read; 0 the text is no such feed (out unusable).
    int (*read)(std::string_view text, MemoryTable& out);
    const char* statusText;  // shown (UTF-8) while a refresh pass runs the feed
    bool light;              // a light pass of the trading day runs it too
};

// Every feed kept in memory, in the order a refresh pass runs them (after the stored feeds).
std::span<const MemoryFeedDescriptor> MemoryFeeds();

// Fetches feed when the control file db holds announces a time for it that
// differs from the time fetched last in this process (or nothing was fetched
// yet), and then replaces its table. A failure keeps the last table and its
// time, so the next pass asks again. 1 fetched or nothing new; 0 the server
// announces no time for it (nothing asked); -1 not downloaded; -2 the answer is
// no such feed.
[[nodiscard]] int SyncMemoryFeed(CFundDb& db, const MemoryFeedDescriptor& feed);

// The values of every feed kept in memory at one moment, for one view load.
class MemoryFeedSnapshot {
  public:
    // The value of field of fund code in the feed of type; nullptr when there is none.
    const MemoryValue* Find(std::string_view type, const std::string& code, long long field) const;

  private:
    friend MemoryFeedSnapshot TakeMemoryFeeds();
    std::vector<std::pair<std::string, std::shared_ptr<const MemoryTable>>> m_tables;
};

// The tables as they stand now.
MemoryFeedSnapshot TakeMemoryFeeds();
// Changes whenever any table is replaced: views read from it load their rows anew.
uint64_t MemoryFeedGeneration();
// The time of the feed of type fetched last in this process; 0 before the first fetch.
int32_t MemoryFeedTime(std::string_view type);
// Replaces the table of type and its time (as a successful fetch does).
void StoreMemoryFeed(std::string_view type, int32_t time, MemoryTable table);
// Tests: forgets every table and time, as a fresh start has them.
void ResetMemoryFeedsForTesting();

}  // namespace zeza
