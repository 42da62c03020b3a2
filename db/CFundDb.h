#pragma once

#include <functional>
#include <string>
#include <vector>

#include "db/LocalState.h"
#include "db/ServerControl.h"
#include "platform/UrlDownload.h"
#include "sync/Feeds.h"

namespace zeza {

// The program's data object. Constructing one provisions ./Zeza.db (creates it
// from the template, or rebuilds an old file around its holdings) and finds the
// cache folder. Every operation opens and closes its own connection.
class CFundDb {
  public:
    CFundDb();
    virtual ~CFundDb();

    // --- provisioning ---

    // 1 present and current, written from the template, or rebuilt (or the
    // rebuild abandoned, old file kept); 0 old file unreadable or new file not made.
    [[nodiscard]] int EnsureDatabase();
    // Writes the template to a temporary name and renames it to Zeza.db. 1 ok, 0 failed.
    [[nodiscard]] static int WriteTemplateDatabase();
    // 1 row read (creates and stores the installation id when missing), 0 no database or query failed.
    [[nodiscard]] int ReadLocalState(LocalState& state);
    // 1 with a new 36-character id in text; 0 with "noGuid".
    [[nodiscard]] static int CreateInstallGuid(std::string& text);
    // The folder for downloaded temporary files.
    static std::string GetCacheFolder();
    // The stored start-up password; "" when none or unreadable.
    std::string ReadPassword();
    // The installation id sent to the server and shown in the banner URL.
    const std::string& GetInstallId() const { return m_local.guid; }
    // True when the template could not be written, so there is no usable Zeza.db.
    bool TemplateWriteFailed() const { return m_bTemplateWriteFailed; }

    // --- the user's own data: every write a widget (or a test of one) makes goes through these ---

    // Reads holding idc as stored (code and remark GBK; a NULL field "" or 0); the outputs change only
    // on 1. 1 read, 0 no such holding, -1 no database, -2 query failed.
    [[nodiscard]] static int ReadHolding(long long idc, std::string& code, double& cost, double& units,
                                         std::string& remark);
    // Appends a holding (code and remark GBK) to fu_count. 0 stored, -1 no database, -2 not stored.
    [[nodiscard]] static int AddHolding(const std::string& code, double cost, double units,
                                        const std::string& remark);
    // Replaces the fields of holding idc. 0 done (also when there is no idc), -1 no database, -2 not stored.
    [[nodiscard]] static int UpdateHolding(long long idc, const std::string& code, double cost, double units,
                                           const std::string& remark);
    // Deletes holding idc. 0 done (also when there is no idc), -1 no database, -2 not deleted.
    [[nodiscard]] static int DeleteHolding(long long idc);
    // Stores the watch flag on every catalogue row of code (GBK). 0 done, -1 no database, -2 not stored.
    [[nodiscard]] static int SetWatchFlag(const std::string& code, bool watched);
    // Stores the start-up password (GBK, "" none). 0 the statement ran (a file without its settings row takes
    // it and stores nothing, so read it back), -1 no database, -2 not stored.
    [[nodiscard]] static int StorePassword(const std::string& password);

    // --- quote dates and totals ---

    // Inserts the quote dates (newest first) at the front of list, or today's
    // date when there are no net values. 1 ok, 0 failed (list unchanged).
    [[nodiscard]] int GetQuoteDates(std::vector<std::string>& list);
    // The four sums over the holdings. 1 ok, 0 failed (outputs unchanged).
    [[nodiscard]] int GetPortfolioTotals(double& value, double& previousValue, double& estimatedValue,
                                         double& cost);

    // --- online synchronisation ---

    // 1 the whole resource saved to path, 0 otherwise (HTTP error status included, and a download
    // that progress aborted).
    [[nodiscard]] int DownloadToFile(const std::string& url, const std::string& path,
                                     const DownloadProgress& progress = {});
    // Fire-and-forget thanks request; always 0.
    int SendThanks();
    // 1 fetched and parsed, 0 download failed (or progress aborted it) or no control file.
    [[nodiscard]] int FetchControlFile(ServerControl& rec, const DownloadProgress& progress = {});
    // 1 go on, -1 control file not fetched, -2 forced update required.
    [[nodiscard]] int CheckServer();
    // The light pass of a trading day: the control file (its [VER] asks nothing), then the estimate
    // feed when estTime moved and each feed kept in memory a light pass runs when its time moved (a
    // failure of those keeps their last values). 1 done or nothing new, -1 control file not fetched
    // (nothing else asked), -4 estimate feed failed.
    [[nodiscard]] int LightSync();
    // Runs the feed of kind (a FeedKind) when the server has newer data, then stores its time.
    // 1 done or nothing to do, -2 unknown kind, -3/-4/-5 net value/estimate/fund list feed failed.
    [[nodiscard]] int SyncFeed(int kind);
    // Downloads and applies the feed whatever the times say. 1 applied; feed.downloadFailed (-1 fund
    // list, -2 the others) not downloaded; else what feed.apply returned.
    [[nodiscard]] int FetchFeed(const FeedDescriptor& feed);
    // 1 stored, 0 failed.
    [[nodiscard]] int SaveUpdateTime(int t);
    // "预估净值更新时间：..." in GBK, from the local estimate time; "...：暂无" before the first estimates.
    std::string GetEstimateTimeText() const;
    // Time (seconds since 1970, UTC) of the latest successful control fetch of
    // any CFundDb in the process; 0 before the first.
    static int64_t LastControlFetchTime();
    // Test hook: pretends the last control fetch happened at t.
    static void SetLastControlFetchTimeForTesting(int64_t t);

    // --- self-update ---

    // Downloads the program file the server offers, writes and starts the
    // updater and ends the process (exit code 0). progress, when given, is told
    // how far the program file got (0 of 0 while the offer is fetched), and
    // answering false cancels. Returns only on failure: -1 control file not
    // fetched, 0 no newer version, -4 program file not downloaded (or its
    // checksum differs, or it is not a program), -5 updater not written or not
    // started, -6 cancelled through progress (nothing left behind).
    [[nodiscard]] int LaunchSelfUpdate(const DownloadProgress& progress = {});
    // Deletes what an update left in the current folder.
    void RemoveUpdateLeftovers();
    // Tests: the program file to replace ("" = the running program).
    static void SetProgramPathForTesting(const std::string& path);
    // True when the package manager installed the program file, which the
    // self-update must then leave alone.
    static bool IsPackagedProgram();

    // --- holdings exchange ---

    // Writes every holding to the holdings file at path (GBK, CR LF) through a temporary file renamed into
    // place; a link at path is written through, an existing file keeps its permissions. 1 written; -1 no
    // database, -2 query failed, -3 file not written (what stood at path is kept).
    [[nodiscard]] int ExportHoldings(const std::string& path);
    // Appends the holdings of the file at path to fu_count, all or nothing; *added and *skipped receive the
    // counts (0 on failure). 1 done; -1 no database, -2 no transaction, -3 file not opened, -4 file not read
    // to its end, -5 a holding not stored or not committed (nothing added).
    [[nodiscard]] int ImportHoldings(const std::string& path, int* added = nullptr, int* skipped = nullptr);

    const LocalState& Local() const { return m_local; }
    const ServerControl& Server() const { return m_server; }
    const std::string& CacheFolder() const { return m_strCacheFolder; }

    // Test hook: called with a stage name between the steps of a rebuild, so a
    // test can end the process there and check what a crash would leave.
    static void SetRebuildStageHookForTesting(std::function<void(const char*)> hook);

  private:
    std::string m_strCacheFolder;
    ServerControl m_server;
    LocalState m_local;
    bool m_bTemplateWriteFailed = false;
};

}  // namespace zeza
