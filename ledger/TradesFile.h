#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ledger/LedgerTypes.h"

// The trades file: GBK, CR LF, the header line
// "基金代码,交易类型,下单时间,金额,份额,费率,转入代码,成本,备注" and one trade a line; an export adds
// "状态,确认日期,确认净值,确认份额,确认金额" after the nine, which a reader passes over.
namespace zeza::ledger {

// The header as written (GBK, without line end).
const std::string& TradesHeader();

// One line read: the code and the trade (holding left 0).
struct TradeLine {
    std::string code;
    TradeInput trade;
};

// Reads one line (without line end). False with the reason (GBK, e.g. "金额不是数字") when it is no
// trade of its kind.
bool ParseTradeLine(std::string_view line, TradeLine& out, std::string& reason);

struct TradesFileContent {
    std::vector<TradeLine> trades;
    std::vector<std::string> skipped;  // "第N行：reason", GBK
};
// The whole file: the header line (when it is one) and blank lines are passed over.
TradesFileContent ParseTradesText(std::string_view text);

// One exported line (CR LF included): the nine columns, then status, confirmation day, NAV,
// units and amount. A comma or line break in the remark becomes a full-width comma or a blank.
std::string TradeLineText(const TradeRecord& t);

}  // namespace zeza::ledger
