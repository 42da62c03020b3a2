#include "tables/CellFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace zeza {

namespace {

constexpr double kPow10[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};

// The integer k with k / 10^decimals nearest to |value|, when |value| lies
// clearly inside one rounding interval: farther than margin (relative) from
// the half-way point. Then any value within that margin rounds the same way,
// and printf's exact rounding agrees with this one. False near a half-way
// point or for large values, which take the exact slow path.
bool RoundClearOfHalfway(double value, int decimals, double margin, long long& k) {
    if (decimals < 0 || decimals > 8 || !std::isfinite(value)) return false;
    const double scaled = std::fabs(value) * kPow10[decimals];
    if (scaled >= 1e12) return false;
    const double whole = std::floor(scaled);
    const double frac = scaled - whole;
    if (std::fabs(frac - 0.5) <= margin * std::max(1.0, scaled)) return false;
    k = static_cast<long long>(whole) + (frac > 0.5 ? 1 : 0);
    return true;
}

// k / 10^decimals written out with its sign.
std::string WriteScaled(long long k, int decimals, bool negative, bool plus) {
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof(digits), k);
    const int n = static_cast<int>(r.ptr - digits);
    std::string out;
    out.reserve(static_cast<size_t>(n + decimals + 3));
    if (negative)
        out += '-';
    else if (plus)
        out += '+';
    if (n <= decimals) {
        out += '0';
        if (decimals > 0) {
            out += '.';
            out.append(static_cast<size_t>(decimals - n), '0');
            out.append(digits, static_cast<size_t>(n));
        }
    } else {
        out.append(digits, static_cast<size_t>(n - decimals));
        if (decimals > 0) {
            out += '.';
            out.append(digits + n - decimals, static_cast<size_t>(decimals));
        }
    }
    return out;
}

// to_chars writes what printf would, exactly; the buffer holds any double in full.
std::string FormatExact(double value, int decimals, bool plus) {
    char buf[400];
    char* p = buf;
    if (plus) *p++ = '+';
    const auto r = std::to_chars(p, buf + sizeof(buf), value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return std::string();
    return std::string(buf, r.ptr);
}

}  // namespace

double ParseNumber(const char* text) {
    if (!text) return 0.0;
    // Plain decimal text (all that SQLite writes for a number) takes the fast
    // path; anything else gets atof's own reading (spaces, "+", hex, overflow).
    const char c = text[0];
    if ((c >= '0' && c <= '9') || c == '-' || c == '.') {
        const char* end = text + std::strlen(text);
        double v = 0.0;
        const auto r = std::from_chars(text, end, v);
        if (r.ec == std::errc() && r.ptr == end) return v;
    }
    return std::atof(text);
}

std::string FormatFixed(double value, int decimals, bool plusIfPositive) {
    const bool plus = plusIfPositive && value > 0;
    long long k = 0;
    // The margin covers the rounding error of scaling by 10^decimals.
    if (RoundClearOfHalfway(value, decimals, 1e-15, k))
        return WriteScaled(k, decimals, std::signbit(value), plus);
    return FormatExact(value, decimals, plus);
}

double RealAsText(double stored) {
    if (stored == 0) return 0.0;  // SQLite writes -0.0 as "0.0"
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof(buf) - 1, stored, std::chars_format::general, 15);
    if (r.ec != std::errc()) return stored;
    *r.ptr = '\0';
    return ParseNumber(buf);
}

std::string FormatStoredReal(double stored, int decimals, bool plusIfPositive) {
    if (stored == 0) stored = 0.0;
    const bool plus = plusIfPositive && stored > 0;
    long long k = 0;
    // Fifteen significant digits move a value by at most 5e-15 of itself; far
    // enough from a half-way point that cannot change the shown digits.
    if (RoundClearOfHalfway(stored, decimals, 1e-13, k)) return WriteScaled(k, decimals, stored < 0, plus);
    return FormatFixed(RealAsText(stored), decimals, plusIfPositive);
}

}  // namespace zeza
