#include "ledger/TradesFile.h"

#include "ledger/LedgerMath.h"
#include "platform/GbkCodec.h"
#include "platform/TextLines.h"
#include "sync/FeedText.h"

namespace zeza::ledger {
namespace {

enum Column { kCode, kKind, kPlaced, kAmount, kUnits, kRate, kToCode, kCost, kRemark, kColumns };

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool Fail(std::string& reason, const char* utf8) {
    reason = Utf8ToGbk(utf8);
    return false;
}

// An optional number field: empty is 0.
bool ReadNumber(std::string_view field, int decimals, int64_t& out) {
    field = Trim(field);
    if (field.empty()) {
        out = 0;
        return true;
    }
    const auto v = ParseScaled(field, decimals);
    if (!v) return false;
    out = *v;
    return true;
}

}  // namespace

const std::string& TradesHeader() {
    static const std::string header =
        Utf8ToGbk("基金代码,交易类型,下单时间,金额,份额,费率,转入代码,成本,备注");
    return header;
}

bool ParseTradeLine(std::string_view line, TradeLine& out, std::string& reason) {
    std::vector<std::string_view> f = SplitGbk(line, ',');
    if (f.size() < kColumns) return Fail(reason, "栏目不足九个");
    TradeLine t;
    t.code = std::string(Trim(f[kCode]));
    if (!IsFundCode(t.code)) return Fail(reason, "基金代码不是六位数字");
    if (!TradeKindFromText(Trim(f[kKind]), t.trade.kind)) return Fail(reason, "交易类型不认识");
    t.trade.placed = std::string(Trim(f[kPlaced]));
    if (!IsPlacedTime(t.trade.placed)) return Fail(reason, "下单时间不是 YYYY-MM-DD HH:MM");
    if (!ReadNumber(f[kAmount], 2, t.trade.amount)) return Fail(reason, "金额不是数字");
    if (!ReadNumber(f[kUnits], 2, t.trade.units)) return Fail(reason, "份额不是数字");
    if (!ReadNumber(f[kRate], 4, t.trade.rate)) return Fail(reason, "费率不是数字");
    if (!ReadNumber(f[kCost], 2, t.trade.cost)) return Fail(reason, "成本不是数字");
    t.trade.toCode = std::string(Trim(f[kToCode]));
    t.trade.remark = std::string(f[kRemark]);
    switch (t.trade.kind) {
        case TradeKind::Buy:
        case TradeKind::CashDividend:
        case TradeKind::Reinvest:
            if (t.trade.amount <= 0) return Fail(reason, "金额须大于零");
            break;
        case TradeKind::Sell:
            if (t.trade.units <= 0) return Fail(reason, "份额须大于零");
            break;
        case TradeKind::Convert:
            if (t.trade.units <= 0) return Fail(reason, "份额须大于零");
            if (!IsFundCode(t.trade.toCode) || t.trade.toCode == t.code) return Fail(reason, "转入代码不对");
            break;
        case TradeKind::Adjust:
            break;
    }
    if (t.trade.rate > 100000) return Fail(reason, "费率超过 10%");
    out = std::move(t);
    return true;
}

TradesFileContent ParseTradesText(std::string_view text) {
    TradesFileContent content;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    int number = 0;
    ForEachLine(text, [&](std::string_view line) {
        ++number;
        if (Trim(line).empty()) return;
        if (number == 1 && line.starts_with(TradesHeader().substr(0, TradesHeader().find(',')))) return;
        TradeLine t;
        std::string reason;
        if (ParseTradeLine(line, t, reason))
            content.trades.push_back(std::move(t));
        else
            content.skipped.push_back(Utf8ToGbk("第") + std::to_string(number) + Utf8ToGbk("行：") + reason);
    });
    return content;
}

std::string TradeLineText(const TradeRecord& t) {
    static const std::string kFullWidthComma = Utf8ToGbk("，");
    std::string remark;
    for (size_t i = 0; i < t.remark.size();) {
        const size_t n = GbkCharLength(t.remark, i);
        if (n == 1 && t.remark[i] == ',')
            remark += kFullWidthComma;
        else if (n == 1 && (t.remark[i] == '\r' || t.remark[i] == '\n'))
            remark += ' ';
        else
            remark.append(t.remark, i, n);
        i += n;
    }
    const bool money =
        t.kind == TradeKind::Buy || t.kind == TradeKind::CashDividend || t.kind == TradeKind::Reinvest;
    const bool units = !money;
    const bool rated = t.kind == TradeKind::Buy || t.kind == TradeKind::Sell || t.kind == TradeKind::Convert;
    std::string line = t.code + "," + TradeKindText(t.kind) + "," + t.placed + ",";
    line += (money ? FormatScaled(t.amount, 2) : std::string()) + ",";
    line += (units ? FormatScaled(t.units, 2) : std::string()) + ",";
    line += (rated ? FormatScaled(t.rate, 4) : std::string()) + ",";
    line += (t.kind == TradeKind::Convert ? t.toCode : std::string()) + ",";
    line += (t.kind == TradeKind::Adjust ? FormatScaled(t.cost, 2) : std::string()) + ",";
    line += remark + ",";
    line += TradeStatusText(t.status) + "," + t.confirmDay + ",";
    line += (t.confirmNav ? FormatScaled(t.confirmNav, 4) : std::string()) + ",";
    line += (t.status == TradeStatus::Confirmed ? FormatScaled(t.confirmUnits, 2) : std::string()) + ",";
    line += (t.status == TradeStatus::Confirmed ? FormatScaled(t.confirmAmount, 2) : std::string()) + "\r\n";
    return line;
}

}  // namespace zeza::ledger
