#pragma once

#include <string>

namespace zeza {

// Applies a downloaded estimate file (lines of a six-digit code, one
// separator byte, the estimated net value) to fu_list.estval of ./Zeza.db in
// one transaction; funds not named keep their estimate, codes not in the
// catalogue change nothing. 1 applied; -3 file not opened, -4 database not
// opened, -5 transaction not begun, -7 read or database error (nothing changed).
[[nodiscard]] int ApplyEstimateFile(const std::string& path);

}  // namespace zeza
