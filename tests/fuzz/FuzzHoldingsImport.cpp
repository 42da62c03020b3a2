// The holdings import applied to a database file: the file's holdings are
// appended to fu_count all together, exactly as the file's reader sees them,
// or nothing is; no other table changes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "db/CFundDb.h"
#include "exchange/HoldingsExchange.h"
#include "tests/fuzz/FuzzWorkspace.h"

using namespace zeza;
using namespace zeza::fuzz;

namespace {

double Number(const std::string& col) {
    if (!IsNumber(col)) Fail("a number column holds " + col);
    return std::strtod(std::string(Value(col)).c_str(), nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzWorkspace& ws = FuzzWorkspace::Get();
    static CFundDb* db = new CFundDb();
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    ws.Prepare("import.txt", data, size);
    int added = -1, skipped = -1;
    const int r = db->ImportHoldings("import.txt", &added, &skipped);
    const DbSnapshot now = ExpectOnlyOwnTableWritten(r, -5, "fu_count");
    if (r != 1) {
        if (added != 0) Fail("a failed import reports holdings added");
        return 0;
    }

    const HoldingsFileContent expected = ParseHoldingsText(input);
    if (added != static_cast<int>(expected.holdings.size()) || skipped != expected.skipped)
        Fail("the counts differ from what the file holds");
    const auto& before = ws.Stored().tables.at("fu_count");
    const auto& after = now.tables.at("fu_count");
    if (after.size() != before.size() + expected.holdings.size()) Fail("not every holding was added");
    for (size_t i = 0; i < before.size(); ++i)
        if (!(after[i] == before[i])) Fail("an existing holding changed");
    for (size_t i = 0; i < expected.holdings.size(); ++i) {
        const HoldingLine& h = expected.holdings[i];
        const DbRow& row = after[before.size() + i];
        if (row.cols[kCountCode] != "t" + h.code)
            Fail("a code was not stored as written: " + row.cols[kCountCode]);
        if (Number(row.cols[kCountCost]) != h.cost || Number(row.cols[kCountUnits]) != h.units)
            Fail("a number was not stored as written");
        if (row.cols[kCountRemark] != "t" + h.remark) Fail("a remark was not stored as written");
    }
    return 0;
}
