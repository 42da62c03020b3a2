#pragma once

#include <string>
#include <vector>

namespace zeza {

// Appends one suggestion entry per catalogue fund, code "-" short name (GBK),
// ordered by name, read from ./Zeza.db. 1 when at least one entry was added;
// 0 when the database is missing or unreadable, the query failed or the
// catalogue is empty (entries appended before a failure while appending stay).
int LoadSuggestionList(std::vector<std::string>& list);

}  // namespace zeza
