#include "db/SqlAccess.h"

namespace zeza {

int ExecSql(const std::string& sql, const SqlParams& params) {
    SqliteConnection db;
    if (!db.Open()) return -1;
    return db.Exec(sql, params) == SQLITE_OK ? 0 : -2;
}

int QuerySql(const std::string& sql, const SqlParams& params, QueryTable& out, std::string* err) {
    out = QueryTable{};
    SqliteConnection db;
    if (!db.Open()) {
        if (err) *err = "unable to open database file";
        return -1;
    }
    if (db.Query(sql, params, out) != SQLITE_OK) {
        if (err) *err = db.ErrorMessage();
        return -2;
    }
    return 0;
}

}  // namespace zeza
