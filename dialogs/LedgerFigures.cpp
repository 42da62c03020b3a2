#include "dialogs/LedgerFigures.h"

namespace zeza {

namespace {

constexpr int64_t kLimit = 1'000'000'000'000'000;  // 10^15: far beyond any sum a person invests

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

bool ParseScaled(std::string_view text, int decimals, int64_t& value) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    int64_t whole = 0;
    int digits = 0;
    int fraction = -1;  // digits read after the point; -1 before it
    for (char c : text) {
        if (c == '.') {
            if (fraction >= 0) return false;
            fraction = 0;
            continue;
        }
        if (c < '0' || c > '9') return false;
        ++digits;
        if (fraction >= decimals) {
            if (c != '0') return false;  // finer than the ledger keeps
            continue;
        }
        whole = whole * 10 + (c - '0');
        if (whole >= kLimit) return false;
        if (fraction >= 0) ++fraction;
    }
    if (digits == 0) return false;
    for (int i = fraction < 0 ? 0 : fraction; i < decimals; ++i) {
        whole *= 10;
        if (whole >= kLimit) return false;
    }
    value = whole;
    return true;
}

std::string FormatScaled(int64_t value, int decimals) {
    const bool negative = value < 0;
    // Magnitude as unsigned, so the smallest int64 is written too.
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    if (decimals > 0) {
        if (digits.size() <= static_cast<size_t>(decimals))
            digits.insert(0, static_cast<size_t>(decimals) + 1 - digits.size(), '0');
        digits.insert(digits.size() - static_cast<size_t>(decimals), 1, '.');
    }
    return negative ? "-" + digits : digits;
}

std::string FormatRatePercent(int64_t ppm) {
    std::string text = FormatScaled(ppm, 4);
    // Trailing zeros go, down to two decimals.
    while (text.size() > 3 && text.back() == '0' && text[text.size() - 3] != '.') text.pop_back();
    return text;
}

}  // namespace zeza
