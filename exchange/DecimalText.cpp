#include "exchange/DecimalText.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace zeza {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the run of digits at s[i].
size_t DigitRun(std::string_view s, size_t i) {
    size_t n = 0;
    while (i + n < s.size() && IsDigit(s[i + n])) ++n;
    return n;
}

}  // namespace

bool ParseDecimal(std::string_view text, double& value) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    std::string_view s = text.substr(b, e - b);

    // The grammar is checked here, because from_chars would also take "inf",
    // "nan" and hexadecimal forms, which are no decimal numbers.
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    const size_t mantissa = i;
    size_t digits = DigitRun(s, i);
    i += digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        const size_t fraction = DigitRun(s, i);
        i += fraction;
        digits += fraction;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        const size_t exponent = DigitRun(s, i);
        if (exponent == 0) return false;
        i += exponent;
    }
    if (i != s.size()) return false;

    double parsed = 0;
    const char* first = s.data() + mantissa;
    const char* last = s.data() + s.size();
    auto [end, ec] = std::from_chars(first, last, parsed, std::chars_format::general);
    if (ec != std::errc() || end != last || !std::isfinite(parsed)) return false;
    value = negative ? -parsed : parsed;
    return true;
}

std::string FormatDecimal15(double value) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

std::string FormatFixed4(double value) {
    // Fixed notation of a double needs up to 309 digits before the point.
    char buf[400];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 4);
    return ec == std::errc() ? std::string(buf, end) : std::string("0.0000");
}

}  // namespace zeza
