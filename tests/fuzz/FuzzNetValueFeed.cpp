// The net value feed applied to a database file: fu_stk is replaced whole by
// the file's rows under its quote date, or left exactly as it was.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sync/NetValueFeed.h"
#include "tests/fuzz/FuzzWorkspace.h"

using namespace zeza;
using namespace zeza::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const auto applied = ApplyFeed("stk.tmp", data, size, ApplyNetValueFile, -7, "fu_stk");
    if (!applied) return 0;
    const DbSnapshot& now = *applied;

    // The quote date is the first line less a byte order mark, its line end and surrounding blanks.
    std::string_view date = input.substr(input.starts_with("\xEF\xBB\xBF") ? 3 : 0);
    date = date.substr(0, date.find('\n'));
    if (!date.empty() && date.back() == '\r') date.remove_suffix(1);
    while (!date.empty() && (date.front() == ' ' || date.front() == '\t')) date.remove_prefix(1);
    while (!date.empty() && (date.back() == ' ' || date.back() == '\t')) date.remove_suffix(1);
    if (date.empty() || Contains(date, "<")) Fail("applied under a quote date that is none");
    const auto& rows = now.tables.at("fu_stk");
    if (rows.empty()) Fail("an applied net value file left no rows");
    for (const DbRow& row : rows) {
        // The date column's numeric affinity stores a date that reads as a number as one.
        const bool numericDate = IsNumber(row.cols[kStkDate]) &&
                                 date.find_first_not_of("0123456789+-.eE \t\r\v\f") == std::string_view::npos;
        if (row.cols[kStkDate] != "t" + std::string(date) && !numericDate)
            Fail("a row without the file's date: " + row.cols[kStkDate]);
        if (row.cols[kStkCode][0] != 't' || !Contains(input, Value(row.cols[kStkCode])))
            Fail("a row whose code is not in the file: " + row.cols[kStkCode]);
        for (int c = 1; c <= 3; ++c)
            if (!IsNumber(row.cols[c])) Fail("a net value that is no number: " + row.cols[c]);
    }
    return 0;
}
