#pragma once

#include <string>

#include "db/SqliteConnection.h"

namespace zeza {

// Runs statements that return no rows on ./Zeza.db, with the values bound to
// the "?" of the text. 0 success, -1 no database, -2 the statement failed.
[[nodiscard]] int ExecSql(const std::string& sql, const SqlParams& params = {});

// Runs one query on ./Zeza.db into out. 0 success, -1 no database, -2 the
// query failed (out is then empty). err, when given, receives the error text.
[[nodiscard]] int QuerySql(const std::string& sql, const SqlParams& params, QueryTable& out,
                           std::string* err = nullptr);

}  // namespace zeza
