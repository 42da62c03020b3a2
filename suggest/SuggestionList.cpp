#include "suggest/SuggestionList.h"

#include <exception>

#include "db/SqliteConnection.h"

namespace zeza {

int LoadSuggestionList(std::vector<std::string>& list) {
    // A missing Zeza.db is a failure here, not a reason to leave an empty file behind.
    SqliteConnection db;
    if (!db.Open(kDatabasePath, false)) return 0;
    QueryTable table;
    if (db.Query("SELECT codel||'-'||name FROM fu_list ORDER BY name;", {}, table) != SQLITE_OK) return 0;
    int added = 0;
    try {
        for (int r = 0; r < table.rows; ++r) {
            // A fund without code or name gives no entry: it could never be typed.
            const char* entry = table.Text(r, 0);
            if (!entry) continue;
            list.emplace_back(entry);
            ++added;
        }
    } catch (const std::exception&) {
        return 0;
    }
    return added > 0 ? 1 : 0;
}

}  // namespace zeza
