// The trades file as a user hands it in: every trade read is one of its kind, with a
// fund code and placing time as the file gives them, money and units never negative,
// and every line either read, skipped with its reason, or blank.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ledger/LedgerMath.h"
#include "ledger/TradesFile.h"
#include "tests/fuzz/FuzzWorkspace.h"

using namespace zeza;
using namespace zeza::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const ledger::TradesFileContent content = ledger::ParseTradesText(input);
    size_t lines = 0;
    for (char c : input) lines += c == '\n';
    if (content.trades.size() + content.skipped.size() > lines + 1) Fail("more trades and skips than lines");
    for (const ledger::TradeLine& t : content.trades) {
        if (t.code.size() != 6 || !Contains(input, t.code)) Fail("a code the file does not give");
        if (!ledger::IsPlacedTime(t.trade.placed) || ledger::TradeDayOf(t.trade.placed).empty())
            Fail("a placing time that is none: " + t.trade.placed);
        const int kind = static_cast<int>(t.trade.kind);
        if (kind < 1 || kind > 6) Fail("a kind that is none");
        if (t.trade.amount < 0 || t.trade.units < 0 || t.trade.cost < 0 || t.trade.rate < 0 ||
            t.trade.rate > 100000)
            Fail("a negative or out-of-range figure");
        if (t.trade.kind == TradeKind::Convert && (t.trade.toCode.size() != 6 || t.trade.toCode == t.code))
            Fail("a conversion into nothing or into itself");
    }
    for (const std::string& reason : content.skipped)
        if (reason.empty()) Fail("a line skipped without its reason");
    const ledger::TradesFileContent again = ledger::ParseTradesText(input);
    if (again.trades.size() != content.trades.size() || again.skipped != content.skipped)
        Fail("two readings of one file differ");
    return 0;
}
