// The accuracy feed read into memory: every fund kept is a code the text
// names, with a known source, a non-negative error only from enough days, and
// a whole count of days; a text that is no feed leaves nothing behind.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "platform/GbkCodec.h"
#include "sync/AccuracyFeed.h"
#include "tests/fuzz/FuzzWorkspace.h"

using namespace zeza;
using namespace zeza::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string kPublic = Utf8ToGbk("公开"), kOwn = Utf8ToGbk("自算");
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    MemoryTable table{{"stale", {}}};
    const int r = ReadAccuracyFeed(input, table);
    if (r != 0 && r != 1) Fail("a result the contract does not list: " + std::to_string(r));
    if (r == 0 && !table.empty()) Fail("a text that is no feed left funds behind");
    for (const auto& [code, row] : table) {
        if (code.size() != 6 || !Contains(input, code)) Fail("a fund the text does not name: " + code);
        if (row.size() != 3) Fail("a fund without its three values: " + code);
        const auto* source = std::get_if<std::string>(&row[kAccuracySource]);
        if (!source || (*source != kPublic && *source != kOwn)) Fail("an unknown source for " + code);
        const auto* days = std::get_if<double>(&row[kAccuracyDays]);
        if (!days || *days < 0 || *days > 99999 || std::floor(*days) != *days) Fail("days that are no count");
        if (const auto* mae = std::get_if<double>(&row[kAccuracyMae])) {
            if (!(*mae >= 0)) Fail("a negative or unreadable error for " + code);
            if (*days < kAccuracyMinDays) Fail("an error shown from too few days for " + code);
        } else if (!std::holds_alternative<std::monostate>(row[kAccuracyMae])) {
            Fail("an error that is no number for " + code);
        }
    }
    MemoryTable again;
    if (ReadAccuracyFeed(input, again) != r || again != table) Fail("two readings of one text differ");
    return 0;
}
