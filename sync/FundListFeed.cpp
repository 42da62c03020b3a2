#include "sync/FundListFeed.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/SqliteConnection.h"
#include "platform/GbkCodec.h"
#include "sync/FeedText.h"
#include "sync/FeedTransaction.h"

namespace zeza {
namespace {

// The server's short type codes and the type texts the catalogue holds.
struct TypeName {
    std::string_view code;
    std::string text;
};

const std::vector<TypeName>& TypeNames() {
    static const std::vector<TypeName> names = {
        {"gu", Utf8ToGbk("股票型")},
        {"zhai", Utf8ToGbk("债券型")},
        {"hun", Utf8ToGbk("混合型")},
        {"zhi", Utf8ToGbk("指数型")},
    };
    return names;
}

std::string_view StoredType(std::string_view field) {
    for (const TypeName& t : TypeNames())
        if (field == t.code) return t.text;
    return field;
}

struct ListLine {
    std::string_view code;
    std::string_view name;
    std::string_view type;
    bool superseded = false;  // a later line carries the same code
};

// Reads the watch flags once (the first non-zero flag of each code, by row id):
// a watched fund stays watched when the server sends it again.
bool ReadWatchFlags(SqliteConnection& db, std::unordered_map<std::string, std::string>& looks) {
    QueryTable t;
    if (db.Query("SELECT codel,look FROM main.fu_list WHERE look<>0 AND codel IS NOT NULL ORDER BY idl;", {},
                 t) != SQLITE_OK)
        return false;
    for (int r = 0; r < t.rows; ++r) looks.emplace(t.Str(r, 0), t.Str(r, 1));
    return true;
}

// The catalogue is read once for the row ids of the codes in the file; those
// rows are deleted by id (or, when the file replaces every row, all at once)
// and the new rows inserted after the highest old id, all with prepared
// statements. So the unindexed catalogue is scanned once, not once per line.
bool ApplyFundList(SqliteConnection& db, std::string_view text) {
    SkipByteOrderMark(text);
    const size_t expected = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    std::vector<ListLine> lines;
    lines.reserve(expected);
    // A code sent twice ends as its last line, as if each line replaced the row before it.
    std::unordered_map<std::string_view, size_t> lastLine;
    lastLine.reserve(expected);
    ForEachLine(text, [&](std::string_view line) {
        if (line.size() < kMinFeedLineLength) return;
        std::array<std::string_view, 3> f;
        // A line whose code is no fund code is no fund (a line of an error page).
        if (SplitFeedFields(line, f.data(), f.size()) != f.size() || !IsFundCode(f[0])) return;
        auto [it, added] = lastLine.try_emplace(f[0], lines.size());
        if (!added) {
            lines[it->second].superseded = true;
            it->second = lines.size();
        }
        lines.push_back({f[0], f[1], StoredType(f[2])});
    });
    // Nothing new is an empty answer; text without a single fund is no fund list.
    if (lines.empty()) return IsEmptyFeed(text);

    std::unordered_map<std::string, std::string> looks;
    if (!ReadWatchFlags(db, looks)) return false;

    long long maxId = 0;
    size_t rowCount = 0;
    std::vector<long long> replaced;
    {
        SqlStatement scan(db.Handle(), "SELECT idl,codel FROM main.fu_list;");
        if (!scan.IsValid()) return false;
        int rc;
        while ((rc = scan.Step()) == SQLITE_ROW) {
            const long long id = scan.ColumnInt(0);
            maxId = std::max(maxId, id);
            ++rowCount;
            if (!scan.ColumnIsNull(1) && lastLine.count(scan.ColumnText(1))) replaced.push_back(id);
        }
        if (rc != SQLITE_DONE) return false;
    }

    if (!replaced.empty() && replaced.size() == rowCount) {
        // Clearing the table is far cheaper than deleting each of its rows.
        if (db.Exec("DELETE FROM main.fu_list;") != SQLITE_OK) return false;
    } else if (!replaced.empty()) {
        SqlStatement remove(db.Handle(), "DELETE FROM main.fu_list WHERE idl=?;");
        if (!remove.IsValid()) return false;
        for (long long id : replaced)
            if (remove.Run(id) != SQLITE_OK) return false;
    }

    // New ids follow every old one, so a fund sent again never gets its old id back.
    SqlStatement insert(db.Handle(),
                        "INSERT INTO main.fu_list (idl,codel,name,type,look) VALUES (?,?,?,?,?);");
    if (!insert.IsValid()) return false;
    const std::string notWatched = "0";
    std::string code;
    long long nextId = maxId;
    for (const ListLine& l : lines) {
        if (l.superseded) continue;
        const std::string* look = &notWatched;
        if (!looks.empty()) {
            code.assign(l.code);
            auto watched = looks.find(code);
            if (watched != looks.end()) look = &watched->second;
        }
        if (insert.Run(++nextId, l.code, l.name, l.type, *look) != SQLITE_OK) return false;
    }
    return true;
}

}  // namespace

int ApplyFundListFile(const std::string& path) {
    return ApplyFeedFile(path, {-2, -3, -4, -5}, ApplyFundList);
}

}  // namespace zeza
