#pragma once

#include <string>

namespace zeza {

// Applies a downloaded net value file (a quote date line, then
// "code|accumulated|latest|previous" lines) to ./Zeza.db: all rows of fu_stk
// are replaced by the file's in one transaction. 1 applied; -3 file not
// opened, -4 database not opened, -5 transaction not begun, -7 read or
// database error, or no quote date, or no valid data line (nothing changed).
[[nodiscard]] int ApplyNetValueFile(const std::string& path);

}  // namespace zeza
