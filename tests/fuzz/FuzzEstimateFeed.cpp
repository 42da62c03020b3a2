// The estimate feed applied to a database file: only fu_list.estval may
// change, only for funds the file names, and only to a number.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sync/EstimateFeed.h"
#include "tests/fuzz/FuzzWorkspace.h"

using namespace zeza;
using namespace zeza::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const auto applied = ApplyFeed("est.tmp", data, size, ApplyEstimateFile, -7, "fu_list");
    if (!applied) return 0;
    const DbSnapshot& now = *applied;

    const auto& before = FuzzWorkspace::Get().Stored().tables.at("fu_list");
    const auto& after = now.tables.at("fu_list");
    if (after.size() != before.size()) Fail("the estimate feed added or removed funds");
    for (size_t i = 0; i < after.size(); ++i) {
        DbRow row = after[i], old = before[i];
        if (row.cols[kListEstval] != old.cols[kListEstval]) {
            if (!Contains(input, Value(old.cols[kListCode])))
                Fail("the estimate of a fund the file does not name changed: " + old.cols[kListCode]);
            if (!IsNumber(row.cols[kListEstval]))
                Fail("an estimate that is no number: " + row.cols[kListEstval]);
        }
        row.cols[kListEstval] = old.cols[kListEstval] = "";
        if (!(row == old)) Fail("the estimate feed changed more than estimates: " + old.cols[kListCode]);
    }
    return 0;
}
