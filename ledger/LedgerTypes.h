#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The investor's ledger in figures. Money is held in fen, units in hundredths of a unit, NAVs in
// ten-thousandths and fee rates in millionths (0.15 % is 1500), so no binary fraction ever
// decides a confirmation. Days are "YYYY-MM-DD", times "YYYY-MM-DD HH:MM", both Beijing time.
namespace zeza {

using Fen = int64_t;         // 1 = 0.01 CNY
using Hundredths = int64_t;  // units: 1 = 0.01 unit
using Nav4 = int64_t;        // NAV: 1 = 0.0001 CNY a unit
using RatePpm = int64_t;     // fee rate: 1 = 0.0001 %

// Stored as these numbers in ZezaLedger.db: never renumber.
enum class TradeKind : int {
    Buy = 1,           // 买入: an amount and a fee rate
    Sell = 2,          // 卖出: units and a fee rate
    Convert = 3,       // 转换: units sold out of this fund into toCode on the same trade day
    CashDividend = 4,  // 现金分红: cash per the fund's event (automatic) or the amount received
    Reinvest = 5,      // 红利再投资: the dividend bought as units at no cost
    Adjust = 6,        // 份额调整: sets units and cost (a split multiplies them instead)
};

enum class TradeStatus : int {
    Pending = 0,    // 待确认: no NAV on or after its trade day yet
    Confirmed = 1,  // 已确认
    Cancelled = 2,  // 已撤销: cancelled while pending, or an automatic trade undone
    Failed = 3,     // 失败: a sale of more units than were held on its trade day
};

// The kind's GBK text ("买入" ...); and back, false for any other text.
const std::string& TradeKindText(TradeKind kind);
bool TradeKindFromText(std::string_view gbk, TradeKind& kind);
// The status's GBK text ("待确认", "已确认", "已撤销", "失败").
const std::string& TradeStatusText(TradeStatus status);

// What the user (or an imported line) says about a trade.
struct TradeInput {
    long long holding = 0;  // idc of the holding in fu_count
    TradeKind kind = TradeKind::Buy;
    std::string placed;    // when it was placed, "YYYY-MM-DD HH:MM"
    Fen amount = 0;        // buys and dividends
    Hundredths units = 0;  // sells, conversions and adjustments
    RatePpm rate = 0;      // buys, sells and conversions
    std::string toCode;    // conversions: the fund bought (six digits)
    Fen cost = 0;          // adjustments: the cost it sets
    std::string remark;    // GBK
};

// A trade as the ledger keeps it, with what its confirmation gave.
struct TradeRecord : TradeInput {
    long long id = 0;
    std::string code;        // the holding's fund
    bool automatic = false;  // applied from a fund's event; undone, never edited
    long long link = 0;      // conversions: the other half (the sale's id on the purchase, and back)
    long long plan = 0;      // made by this regular plan
    std::string eventDay;    // automatic: the ex-date; plans: the due day
    std::string splitRatio;  // an applied split: the ratio as published
    TradeStatus status = TradeStatus::Pending;
    std::string tradeDay;    // the day whose NAV confirms it
    std::string confirmDay;  // the NAV's day ("" while pending)
    Nav4 confirmNav = 0;
    Hundredths confirmUnits = 0;  // buys: units bought; sells: units sold; dividends: units added
    Fen confirmAmount = 0;        // sells: paid out; buys: paid in; cash dividends: paid out
    Fen fee = 0;
    Hundredths unitsAfter = 0;  // the holding's units once it applied
    Fen costAfter = 0;
};

// A regular plan (定投).
enum class PlanSchedule : int { EveryTradingDay = 0, Weekly = 1, Monthly = 2 };
struct PlanInput {
    long long holding = 0;
    Fen amount = 0;
    RatePpm rate = 0;
    PlanSchedule schedule = PlanSchedule::Monthly;
    int day = 1;        // weekly: 1 Monday .. 5 Friday; monthly: 1..31 (a short month's last day)
    std::string start;  // first day
    std::string end;    // last day, "" for none
    std::string remark;
};
struct PlanRecord : PlanInput {
    long long id = 0;
    std::string code;
};

// One day's income: a holding's (holding != 0) or the total over holdings.
struct DayIncome {
    std::string day;
    long long holding = 0;
    std::string code;
    Fen income = 0;
    std::string name;  // the fund's name in the catalogue (GBK), by holding only
};

}  // namespace zeza
