#pragma once

#include <string>

namespace zeza {

// Applies a downloaded fund list file ("code|name|type" lines, GBK) to
// ./Zeza.db in one transaction. Each fund in the file replaces the catalogue
// rows with its code: a new row id (in file order), the estimate reset to 0,
// the watch flag kept. Funds not in the file stay as they are.
// 1 applied (also when there was nothing to apply); -2 file not opened,
// -3 database not opened, -4 transaction not begun, -5 read or database error
// (nothing changed).
[[nodiscard]] int ApplyFundListFile(const std::string& path);

}  // namespace zeza
