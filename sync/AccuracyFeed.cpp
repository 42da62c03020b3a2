#include "sync/AccuracyFeed.h"

#include <charconv>
#include <cstdlib>
#include <string>

#include "platform/GbkCodec.h"
#include "sync/FeedText.h"

namespace zeza {
namespace {

// A count of days: digits only, at most five of them (a track record is weeks long).
bool ReadDays(std::string_view s, int& days) {
    if (s.empty() || s.size() > 5) return false;
    // from_chars would take a sign.
    for (char c : s)
        if (c < '0' || c > '9') return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), days);
    return ec == std::errc() && end == s.data() + s.size();
}

}  // namespace

int ReadAccuracyFeed(std::string_view text, MemoryTable& out) {
    // Only the two sources the view names; anything else is no line of this feed.
    static const std::string kPublic = Utf8ToGbk("公开");
    static const std::string kOwn = Utf8ToGbk("自算");
    out.clear();
    SkipByteOrderMark(text);
    ForEachLine(text, [&](std::string_view line) {
        std::string_view f[4];
        if (SplitFeedFields(line, f, 4) != 4 || !IsFundCode(f[0])) return;
        if (f[1] != kPublic && f[1] != kOwn) return;
        int days = 0;
        if (!ReadDays(f[3], days)) return;
        // An error is never negative; a signed or unreadable one makes the line no line.
        if (!f[2].empty() && (!IsDecimalNumber(f[2]) || f[2].front() == '-' || f[2].front() == '+')) return;
        MemoryValue mae;
        // Fewer days make no record, whatever the server sent.
        if (!f[2].empty() && days >= kAccuracyMinDays) mae = std::strtod(std::string(f[2]).c_str(), nullptr);
        std::vector<MemoryValue>& row = out[std::string(f[0])];
        row = {std::string(f[1]), mae, static_cast<double>(days)};
    });
    if (!out.empty() || IsEmptyFeed(text)) return 1;
    return 0;
}

}  // namespace zeza
