#pragma once

#include <functional>
#include <string>

#include "db/SqliteConnection.h"

namespace zeza {

// The result codes one feed reports for each way it can fail.
struct FeedFailureCodes {
    int fileNotOpened;
    int noDatabase;
    int notBegun;
    int notApplied;  // read error, database error or invalid content; nothing changed
};

// Reads the downloaded file at path and runs apply on its text inside one
// transaction on ./Zeza.db. 1 when applied and committed, else the matching
// failure code (the transaction is rolled back).
[[nodiscard]] int ApplyFeedFile(const std::string& path, const FeedFailureCodes& codes,
                                const std::function<bool(SqliteConnection&, const std::string&)>& apply);

}  // namespace zeza
