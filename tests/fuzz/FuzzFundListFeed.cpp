// The fund list feed: cutting lines into fields, and applying a whole file to
// a database file. Only fu_list may change, and only in the ways a feed may.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "sync/FeedText.h"
#include "sync/FundListFeed.h"
#include "tests/fuzz/FuzzWorkspace.h"

using namespace zeza;
using namespace zeza::fuzz;

namespace {

// A line of no more fields than asked for is exactly its fields joined by "|".
void CheckSplit(std::string_view text) {
    ForEachLine(text, [](std::string_view line) {
        if (Contains(line, "\n")) Fail("a line holds a line feed");
        std::string_view fields[4];
        const size_t n = SplitFeedFields(line, fields, 3);
        if (n == 0 || n > 4) Fail("field count out of range: " + std::to_string(n));
        if (n > 3) return;
        std::string joined;
        for (size_t i = 0; i < n; ++i) joined += (i ? "|" : "") + std::string(fields[i]);
        if (joined != line) Fail("the fields do not make up the line");
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckSplit(input);

    const auto applied = ApplyFeed("list.tmp", data, size, ApplyFundListFile, -5, "fu_list");
    if (!applied) return 0;
    const DbSnapshot& now = *applied;

    const auto& before = FuzzWorkspace::Get().Stored().tables.at("fu_list");
    const auto& after = now.tables.at("fu_list");
    std::map<std::string, const DbRow*> byCode;
    for (const DbRow& row : after)
        if (!byCode.emplace(row.cols[kListCode], &row).second) Fail("a code has two rows");
    long long maxId = 0;
    std::map<std::string, std::string> watched;
    for (const DbRow& old : before) {
        maxId = std::max(maxId, old.rowid);
        auto it = byCode.find(old.cols[kListCode]);
        if (it == byCode.end()) Fail("a fund was removed: " + old.cols[kListCode]);
        const DbRow& row = *it->second;
        if (!Contains(input, Value(old.cols[kListCode]))) {
            if (!(row == old)) Fail("a fund the file does not name changed: " + old.cols[kListCode]);
        } else if (row.cols[kListLook] != old.cols[kListLook]) {
            Fail("a watch flag was lost: " + old.cols[kListCode]);
        }
    }
    for (const DbRow& row : after) {
        if (row.rowid <= maxId) continue;
        // A fund sent again loses its estimate until the next estimate feed.
        if (!IsNumber(row.cols[kListEstval]) || Value(row.cols[kListEstval]) != "0")
            Fail("a new row carries an estimate: " + row.cols[kListEstval]);
        if (row.cols[kListLook] != "i0" && row.cols[kListLook] != "i-1")
            Fail("odd watch flag " + row.cols[kListLook]);
    }
    return 0;
}
