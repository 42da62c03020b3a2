#include "ledger/LedgerSync.h"

#include <filesystem>
#include <utility>
#include <vector>

#include "db/CFundDb.h"
#include "ledger/Ledger.h"
#include "platform/CacheFolder.h"
#include "platform/ServerConfig.h"
#include "platform/WholeFile.h"

namespace zeza {

int SyncLedger(CFundDb& db, const std::string& today, const std::function<bool()>& stop, int* missing) {
    if (missing) *missing = 0;
    std::vector<std::pair<std::string, std::string>> requests;
    const int asked = Ledger::HistoryRequests(today, requests);
    if (asked == -1 || asked == -5) return asked;
    // A folder cleared while the program runs is made again, as for the feeds.
    (void)MakeCacheFolder(db.CacheFolder());
    const std::string path = db.CacheFolder() + "/~FUnavhist.tmp";
    for (const auto& [code, from] : requests) {
        if (stop && stop()) return 0;
        std::string text;
        // A fund whose answer did not come (or was no history) keeps what it had and is asked
        // again on the next pass; the others go on.
        const bool got =
            db.DownloadToFile(ServerBaseUrl() + "fund/navhist.php?code=" + code + "&from=" + from, path) &&
            ReadWholeFile(path, text) == WholeFileRead::Read;
        if ((!got || Ledger::StoreHistory(code, text) != 0) && missing) ++*missing;
    }
    std::error_code ec;
    std::filesystem::remove(path, ec);
    if (stop && stop()) return 0;
    const int confirmed = Ledger::ConfirmAll(today);
    return confirmed == 0 ? 1 : confirmed;
}

}  // namespace zeza
