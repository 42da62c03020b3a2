#include "ledger/LedgerMath.h"

#include <cstdio>

namespace zeza::ledger {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int64_t Pow10(int n) {
    int64_t p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

int TwoDigits(std::string_view s, size_t at) {
    return (s[at] - '0') * 10 + (s[at + 1] - '0');
}

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

unsigned DaysInMonth(int64_t y, unsigned m) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

}  // namespace

std::optional<int64_t> ParseScaled(std::string_view text, int decimals) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    int64_t whole = 0;
    size_t i = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) whole = whole * 10 + (text[i] - '0');
    if (i == 0) return std::nullopt;
    int64_t frac = 0;
    int places = 0;
    if (i < text.size()) {
        if (text[i] != '.' || i + 1 == text.size()) return std::nullopt;
        for (++i; i < text.size(); ++i, ++places) {
            if (!IsDigit(text[i]) || places == decimals) return std::nullopt;
            frac = frac * 10 + (text[i] - '0');
        }
    }
    return whole * Pow10(decimals) + frac * Pow10(decimals - places);
}

std::string FormatScaled(int64_t value, int decimals) {
    const int64_t p = Pow10(decimals);
    const bool negative = value < 0;
    const uint64_t v = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char buf[48];
    if (decimals == 0)
        std::snprintf(buf, sizeof buf, "%s%llu", negative ? "-" : "", static_cast<unsigned long long>(v));
    else
        std::snprintf(buf, sizeof buf, "%s%llu.%0*llu", negative ? "-" : "",
                      static_cast<unsigned long long>(v / p), decimals,
                      static_cast<unsigned long long>(v % p));
    return buf;
}

std::optional<int64_t> DayNumber(std::string_view day) {
    if (day.size() < 10 || day[4] != '-' || day[7] != '-') return std::nullopt;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (!IsDigit(day[i])) return std::nullopt;
    const int64_t y = TwoDigits(day, 0) * 100 + TwoDigits(day, 2);
    const unsigned m = static_cast<unsigned>(TwoDigits(day, 5));
    const unsigned d = static_cast<unsigned>(TwoDigits(day, 8));
    if (y < 1900 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return std::nullopt;
    return DaysFromCivil(y, m, d);
}

std::string DayText(int64_t z) {
    // H. Hinnant's civil_from_days.
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
    return buf;
}

std::string BeijingTime(int64_t t) {
    const int64_t local = t + 8 * 3600;
    const int64_t day = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    const int64_t minute = (local - day * 86400) / 60;
    char clock[8];
    std::snprintf(clock, sizeof clock, " %02d:%02d", static_cast<int>(minute / 60),
                  static_cast<int>(minute % 60));
    return DayText(day) + clock;
}

int Weekday(int64_t dayNumber) {
    // 1970-01-01 was a Thursday.
    const int64_t w = (dayNumber + 3) % 7;
    return static_cast<int>(w < 0 ? w + 7 : w) + 1;
}

bool IsPlacedTime(std::string_view placed) {
    if (placed.size() != 16 || placed[10] != ' ' || placed[13] != ':') return false;
    for (size_t i : {11, 12, 14, 15})
        if (!IsDigit(placed[i])) return false;
    return DayNumber(placed) && TwoDigits(placed, 11) < 24 && TwoDigits(placed, 14) < 60;
}

std::string TradeDayOf(std::string_view placed) {
    if (!IsPlacedTime(placed)) return std::string();
    int64_t day = *DayNumber(placed);
    if (TwoDigits(placed, 11) >= 15 || Weekday(day) > 5) ++day;
    while (Weekday(day) > 5) ++day;
    return DayText(day);
}

int64_t MulDivRoundHalfUp(int64_t n, int64_t num, int64_t den) {
    const __int128 p = static_cast<__int128>(n) * num;
    return static_cast<int64_t>((p * 2 + den) / (static_cast<__int128>(den) * 2));
}

int64_t MulDivCut(int64_t n, int64_t num, int64_t den) {
    return static_cast<int64_t>(static_cast<__int128>(n) * num / den);
}

BuyConfirmation ConfirmBuy(Fen amount, RatePpm rate, Nav4 nav) {
    BuyConfirmation c;
    c.fee = MulDivRoundHalfUp(amount, rate, 1000000 + rate);
    // Units in hundredths: (amount - fee) fen / 100 / (nav / 10000) * 100.
    c.units = nav > 0 ? MulDivCut(amount - c.fee, 10000, nav) : 0;
    return c;
}

SellConfirmation ConfirmSell(Hundredths units, RatePpm rate, Nav4 nav) {
    SellConfirmation c;
    // units/100 * nav/10000 yuan = units * nav / 10000 fen.
    c.gross = MulDivRoundHalfUp(units, nav, 10000);
    c.fee = MulDivRoundHalfUp(c.gross, rate, 1000000);
    c.amount = c.gross - c.fee;
    return c;
}

Fen DividendCash(Hundredths units, int64_t perUnitMicro) {
    // units/100 * micro/1e6 yuan = units * micro / 1e6 fen.
    return MulDivCut(units, perUnitMicro, 1000000);
}

Hundredths DividendUnits(Hundredths units, int64_t perUnitMicro, Nav4 nav) {
    // Cash in micro-yuan (units * micro / 100) bought at nav/1e4: units*micro/100 / (nav*100) * 100.
    return nav > 0 ? MulDivCut(units, perUnitMicro, nav * 100) : 0;
}

Hundredths SplitUnits(Hundredths units, std::string_view ratio) {
    const std::optional<int64_t> r = ParseScaled(ratio, 9);
    return r ? MulDivCut(units, *r, 1000000000) : units;
}

}  // namespace zeza::ledger
