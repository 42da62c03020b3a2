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

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
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

bool IsEmptyFeed(std::string_view text) {
    for (char c : text)
        if (!IsBlank(c) && c != '\r' && c != '\n') return false;
    return true;
}

std::string_view QuoteDateOf(std::string_view firstLine) {
    std::string_view date = firstLine;
    while (!date.empty() && IsBlank(date.front())) date.remove_prefix(1);
    while (!date.empty() && IsBlank(date.back())) date.remove_suffix(1);
    std::string_view field;
    // The "|" search steps over GBK characters, as the data lines' does.
    if (date.find('<') != std::string_view::npos || SplitFeedFields(date, &field, 1) != 1) return {};
    return date;
}

}  // namespace zeza
