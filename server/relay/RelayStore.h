#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "server/relay/Schedule.h"
#include "server/relay/Snapshot.h"

struct sqlite3;

namespace zeza::relay {

// When each feed last came in well, so a restarted relay keeps to its schedule.
struct RunTimes {
    int64_t catalogue = 0, netValues = 0, estimates = 0;
};

// The relay's own SQLite file: the last good snapshot and a log of its fetches. Each
// snapshot is written in one transaction (rollback journal, full sync), so a crash
// leaves the old snapshot or the new one, never a mix.
class RelayStore {
  public:
    RelayStore() = default;
    ~RelayStore();
    RelayStore(const RelayStore&) = delete;
    RelayStore& operator=(const RelayStore&) = delete;

    // Opens or creates the file; a file of an older layout is upgraded in place.
    bool Open(const std::filesystem::path& file, std::string& error);
    // The stored snapshot (built) and run times; an empty snapshot from a new file. Of the
    // record it reads the latest kTrackDays days, each fund's days oldest first.
    bool Load(Snapshot& snapshot, RunTimes& runs, std::string& error);
    // Replaces what the feed holds with the snapshot's part, and its run time.
    bool Save(Feed feed, const Snapshot& snapshot, const RunTimes& runs, std::string& error);
    // The relay's own estimates: holdings as fetched, and days of the record (kept until
    // PruneTrack). Each call is one transaction.
    bool SaveHoldings(const std::vector<std::pair<std::string, FundHoldings>>& funds, std::string& error);
    bool SaveTrack(const std::vector<std::pair<std::string, TrackDay>>& days, std::string& error);
    // Funds' and indices' daily histories as they are now, each replacing what was stored.
    bool SaveHistories(
        const std::vector<std::pair<std::string, std::shared_ptr<const NavHistory>>>& funds,
        const std::vector<std::pair<std::string, std::shared_ptr<const IndexHistory>>>& indices,
        std::string& error);
    // The funds asked for by navhist.php whose history came, each its whole answer as served
    // (History.h NavHistoryAnswer), read at the start; saving one replaces what it had.
    bool LoadAskedHistories(std::vector<std::pair<std::string, std::string>>& out, std::string& error);
    bool SaveAskedHistory(const std::string& code, const std::string& answer, std::string& error);
    // The nightly trim, one transaction: drops the record's days before `before` and the fetch
    // log's lines beyond the latest 2,000. The relay asks at every run, so a call with the
    // `before` of the last trim done returns true at once.
    bool PruneTrack(const std::string& before, std::string& error);
    // One fetch; the log grows until the next PruneTrack.
    void Log(int64_t at, const std::string& source, long status, size_t bytes, size_t rows, bool ok,
             const std::string& message);

  private:
    bool Exec(const char* sql, std::string& error);
    bool Transaction(const std::function<bool(sqlite3*)>& work, std::string& error);
    // Brings a file of an older layout to the current one (user_version); false with the reason.
    bool Upgrade(std::string& error);
    sqlite3* m_db = nullptr;
    std::string m_prunedBefore;
};

}  // namespace zeza::relay
