#include "sync/NetValueFeed.h"

#include <array>
#include <string_view>

#include "db/SqliteConnection.h"
#include "sync/FeedText.h"
#include "sync/FeedTransaction.h"

namespace zeza {
namespace {

bool ApplyNetValues(SqliteConnection& db, std::string_view text) {
    // The first line is the quote date of every row, in whatever form the
    // server writes it. An answer without one (an error page) must not empty
    // the table.
    SkipByteOrderMark(text);
    if (text.empty()) return false;
    const size_t end = text.find('\n');
    std::string_view firstLine = text.substr(0, end);
    if (!firstLine.empty() && firstLine.back() == '\r') firstLine.remove_suffix(1);
    const std::string_view date = QuoteDateOf(firstLine);
    if (date.empty()) return false;
    const std::string_view data = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

    if (db.Exec("DELETE FROM fu_stk;") != SQLITE_OK) return false;
    SqlStatement insert(db.Handle(),
                        "INSERT INTO fu_stk (codes,valreal,valtd,valytd,gdate) VALUES (?,?,?,?,?);");
    if (!insert.IsValid()) return false;
    bool ok = true;
    long long rows = 0;
    ForEachLine(data, [&](std::string_view line) {
        if (!ok || line.size() < kMinFeedLineLength) return;
        std::array<std::string_view, 4> f;
        if (SplitFeedFields(line, f.data(), f.size()) != f.size() || !IsDecimalNumber(f[1]) ||
            !IsDecimalNumber(f[2]) || !IsDecimalNumber(f[3]))
            return;
        if (insert.Run(f[0], f[1], f[2], f[3], date) != SQLITE_OK) ok = false;
        ++rows;
    });
    // Without a single valid row the file is no net value file either.
    return ok && rows > 0;
}

}  // namespace

int ApplyNetValueFile(const std::string& path) {
    return ApplyFeedFile(path, {-3, -4, -5, -7}, ApplyNetValues);
}

}  // namespace zeza
