// The index feed read into memory: every index kept is a code the text names, with
// a name, a level above 0, a change and a time; a text that is no feed keeps nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "sync/IndexFeed.h"
#include "tests/fuzz/FuzzWorkspace.h"

using namespace zeza;
using namespace zeza::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    MemoryTable table{{"stale", {}}};
    const int r = ReadIndexFeed(input, table);
    if (r != 0 && r != 1) Fail("a result the contract does not list: " + std::to_string(r));
    if (r == 0 && !table.empty()) Fail("a text that is no feed left indices behind");
    for (const auto& [code, row] : table) {
        if (code.size() < 3 || code.size() > 10 || !Contains(input, code))
            Fail("an index the text does not name");
        if (row.size() != 4) Fail("an index without its four values: " + code);
        if (!std::holds_alternative<std::string>(row[kIndexName])) Fail("a name that is no text for " + code);
        const auto* level = std::get_if<double>(&row[kIndexLevel]);
        if (!level || !(*level > 0)) Fail("a level that is not above 0 for " + code);
        if (!std::holds_alternative<double>(row[kIndexChange]))
            Fail("a change that is no number for " + code);
    }
    MemoryTable again;
    if (ReadIndexFeed(input, again) != r || again != table) Fail("two readings of one text differ");
    return 0;
}
