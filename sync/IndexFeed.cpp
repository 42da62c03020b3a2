#include "sync/IndexFeed.h"

#include <cstdlib>
#include <string>

#include "sync/FeedText.h"

namespace zeza {
namespace {

bool IsLower(char c) {
    return c >= 'a' && c <= 'z';
}

bool IsAlnum(char c) {
    return IsLower(c) || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// "sh000001", "sz399006", "hkHSI": the market, then the index's own code.
bool IsIndexCode(std::string_view s) {
    if (s.size() < 3 || s.size() > 10 || !IsLower(s[0]) || !IsLower(s[1])) return false;
    for (char c : s.substr(2))
        if (!IsAlnum(c)) return false;
    return true;
}

double Number(std::string_view s) {
    return std::strtod(std::string(s).c_str(), nullptr);
}

}  // namespace

int ReadIndexFeed(std::string_view text, MemoryTable& out) {
    out.clear();
    SkipByteOrderMark(text);
    ForEachLine(text, [&](std::string_view line) {
        std::string_view f[5];
        if (SplitFeedFields(line, f, 5) != 5 || !IsIndexCode(f[0]) || f[1].empty()) return;
        if (!IsDecimalNumber(f[2]) || !IsDecimalNumber(f[3])) return;
        const double level = Number(f[2]);
        // A level is never zero or below: such a line is a quote that failed.
        if (!(level > 0)) return;
        out[std::string(f[0])] = {std::string(f[1]), level, Number(f[3]), std::string(f[4])};
    });
    if (!out.empty() || IsEmptyFeed(text)) return 1;
    return 0;
}

}  // namespace zeza
