#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ledger/LedgerTypes.h"

// The rules of money and days the ledger confirms by, free of any storage.
namespace zeza::ledger {

// --- fixed-point text ---

// Reads an unsigned decimal with at most `decimals` places ("10000", "0.15", "1.2345") as an
// integer scaled by 10^decimals. Nothing else: no sign, exponent, blank or excess place.
std::optional<int64_t> ParseScaled(std::string_view text, int decimals);
// The value scaled by 10^decimals as text with exactly that many places ("-14.98").
std::string FormatScaled(int64_t value, int decimals);

// --- days ---

// Days since 1970-01-01 of "YYYY-MM-DD" (the first ten characters of a time too); nullopt for
// anything that is not a real date.
std::optional<int64_t> DayNumber(std::string_view day);
std::string DayText(int64_t dayNumber);
// "YYYY-MM-DD HH:MM" in Beijing (UTC+8, no daylight saving) of t, seconds since 1970 UTC.
std::string BeijingTime(int64_t t);
// 1 Monday .. 7 Sunday.
int Weekday(int64_t dayNumber);
// "YYYY-MM-DD HH:MM" with a real date and time.
bool IsPlacedTime(std::string_view placed);
// The trade day of a trade placed then: that day, or the next weekday when placed at or after
// 15:00 or on a weekend. A market holiday needs no calendar: no NAV is published for it, and the
// first NAV on or after the trade day confirms the trade. "" for a bad time.
std::string TradeDayOf(std::string_view placed);

// --- confirmations ---

// n * num / den rounded half up (n, num, den >= 0, den > 0), without overflow.
int64_t MulDivRoundHalfUp(int64_t n, int64_t num, int64_t den);
// n * num / den cut toward zero.
int64_t MulDivCut(int64_t n, int64_t num, int64_t den);

struct BuyConfirmation {
    Fen fee = 0;
    Hundredths units = 0;
};
// A purchase of amount at fee rate: fee = amount * rate / (1 + rate) rounded half up to the fen,
// units = (amount - fee) / nav cut to the hundredth.
BuyConfirmation ConfirmBuy(Fen amount, RatePpm rate, Nav4 nav);

struct SellConfirmation {
    Fen gross = 0;
    Fen fee = 0;
    Fen amount = 0;
};
// A sale of units: gross = units * nav, fee = gross * rate, each rounded half up to the fen.
SellConfirmation ConfirmSell(Hundredths units, RatePpm rate, Nav4 nav);

// A dividend of perUnit (millionths of a yuan a unit, as published to six places) on units:
// the cash, cut to the fen; reinvested at nav, the units it buys, cut to the hundredth.
Fen DividendCash(Hundredths units, int64_t perUnitMicro);
Hundredths DividendUnits(Hundredths units, int64_t perUnitMicro, Nav4 nav);
// Units after a split of ratio (given as text, up to nine places), cut to the hundredth.
Hundredths SplitUnits(Hundredths units, std::string_view ratio);

// Value of units at nav in millionths of a yuan (exact).
inline int64_t ValueMicro(Hundredths units, Nav4 nav) {
    return units * nav;
}

}  // namespace zeza::ledger
