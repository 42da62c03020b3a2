#include "sync/FeedText.h"

#include "platform/GbkCodec.h"

namespace zeza {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Consumes a run of digits from the front of s; returns how many.
size_t TakeDigits(std::string_view& s) {
    size_t n = 0;
    while (n < s.size() && IsDigit(s[n])) ++n;
    s.remove_prefix(n);
    return n;
}

// Consumes one or two digits and checks the value's range.
bool TakeSmallNumber(std::string_view& s, int lo, int hi) {
    std::string_view before = s;
    size_t n = TakeDigits(s);
    if (n < 1 || n > 2) return false;
    int v = 0;
    for (size_t i = 0; i < n; ++i) v = v * 10 + (before[i] - '0');
    return v >= lo && v <= hi;
}

}  // namespace

size_t SplitFeedFields(std::string_view line, std::string_view* fields, size_t max) {
    size_t n = 0;
    size_t start = 0;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == '|') {
            if (n == max) return max + 1;
            fields[n++] = line.substr(start, i - start);
            start = ++i;
            continue;
        }
        i += GbkCharLength(line, i);
    }
    if (n == max) return max + 1;
    fields[n++] = line.substr(start);
    return n;
}

bool IsDecimalNumber(std::string_view s) {
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) s.remove_prefix(1);
    if (TakeDigits(s) == 0) return false;
    if (s.empty()) return true;
    if (s.front() != '.') return false;
    s.remove_prefix(1);
    return TakeDigits(s) > 0 && s.empty();
}

bool IsFundCode(std::string_view s) {
    if (s.size() != 6) return false;
    for (char c : s)
        if (!IsDigit(c)) return false;
    return true;
}

bool IsQuoteDate(std::string_view s) {
    if (TakeDigits(s) != 4) return false;
    if (s.empty() || s.front() != '-') return false;
    s.remove_prefix(1);
    if (!TakeSmallNumber(s, 1, 12)) return false;
    if (s.empty() || s.front() != '-') return false;
    s.remove_prefix(1);
    if (!TakeSmallNumber(s, 1, 31)) return false;
    return s.empty();
}

}  // namespace zeza
