#include "server/relay/Schedule.h"

#include <cstdio>
#include <ctime>
#include <vector>

namespace zeza::relay {
namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kBeijingOffset = 8 * 3600;

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Seconds after Beijing midnight of the feed's moments on a day (0 = Sunday), ascending.
std::vector<int> SlotsOfDay(Feed feed, int weekday) {
    std::vector<int> slots;
    auto every = [&](int fromMin, int toMin, int stepMin) {
        for (int m = fromMin; m <= toMin; m += stepMin) slots.push_back(m * 60);
    };
    switch (feed) {
        case Feed::Catalogue:
            slots = {8 * 3600 + 30 * 60, 18 * 3600};
            break;
        case Feed::NetValues:
            every(16 * 60, 23 * 60 + 30, 20);
            break;
        case Feed::Estimates:
            if (weekday >= 1 && weekday <= 5) {
                every(9 * 60 + 30, 11 * 60 + 30, 2);
                every(13 * 60, 15 * 60, 2);
            }
            break;
    }
    return slots;
}

}  // namespace

int64_t LatestSlot(Feed feed, int64_t nowUtc) {
    const int64_t local = nowUtc + kBeijingOffset;
    const int64_t today = FloorDiv(local, kDay);
    for (int64_t day = today; day > today - 8; --day) {
        int weekday = static_cast<int>(((day + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
        auto slots = SlotsOfDay(feed, weekday);
        for (auto it = slots.rbegin(); it != slots.rend(); ++it) {
            int64_t at = day * kDay + *it - kBeijingOffset;
            if (at <= nowUtc) return at;
        }
    }
    return 0;
}

bool InTradingHours(int64_t nowUtc) {
    const int64_t local = nowUtc + kBeijingOffset;
    const int64_t day = FloorDiv(local, kDay);
    const int weekday = static_cast<int>(((day + 4) % 7 + 7) % 7);
    const int64_t sec = local - day * kDay;
    return weekday >= 1 && weekday <= 5 && sec >= 9 * 3600 + 15 * 60 && sec <= 15 * 3600 + 5 * 60;
}

std::string BeijingTime(int64_t utc) {
    std::time_t t = static_cast<std::time_t>(utc + kBeijingOffset);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M", &tm);
    return buf;
}

const char* FeedLabel(Feed feed) {
    switch (feed) {
        case Feed::Catalogue:
            return "catalogue";
        case Feed::NetValues:
            return "net values";
        case Feed::Estimates:
            return "estimates";
    }
    return "";
}

}  // namespace zeza::relay
