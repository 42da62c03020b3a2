#include "sync/EstimateFeed.h"

#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "db/SqliteConnection.h"
#include "sync/FeedText.h"
#include "sync/FeedTransaction.h"

namespace zeza {
namespace {

// The estimates are collected by code, the catalogue is read once to find the
// rows of those codes, and one prepared UPDATE by row id writes each of them,
// so the unindexed catalogue is scanned once, not once per line.
bool ApplyEstimates(SqliteConnection& db, std::string_view text) {
    // A code named twice takes its last value, as line-by-line updates would.
    std::unordered_map<std::string_view, std::string_view> values;
    SkipByteOrderMark(text);
    ForEachLine(text, [&](std::string_view line) {
        if (line.size() < kMinFeedLineLength) return;
        std::string_view code = line.substr(0, 6);
        std::string_view value = line.substr(7);
        if (!IsFundCode(code) || !IsDecimalNumber(value)) return;
        values[code] = value;
    });
    // Nothing new is an empty answer; text without a single estimate is no estimate file.
    if (values.empty()) return IsEmptyFeed(text);

    std::vector<std::pair<long long, std::string_view>> rows;
    {
        SqlStatement scan(db.Handle(), "SELECT idl,codel FROM main.fu_list;");
        if (!scan.IsValid()) return false;
        int rc;
        while ((rc = scan.Step()) == SQLITE_ROW) {
            auto it = values.find(scan.ColumnText(1));
            if (it != values.end()) rows.emplace_back(scan.ColumnInt(0), it->second);
        }
        if (rc != SQLITE_DONE) return false;
    }
    SqlStatement update(db.Handle(), "UPDATE main.fu_list SET estval=? WHERE idl=?;");
    if (!update.IsValid()) return false;
    for (const auto& [id, value] : rows)
        if (update.Run(value, id) != SQLITE_OK) return false;
    return true;
}

}  // namespace

int ApplyEstimateFile(const std::string& path) {
    return ApplyFeedFile(path, {-3, -4, -5, -7}, ApplyEstimates);
}

}  // namespace zeza
