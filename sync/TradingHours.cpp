#include "sync/TradingHours.h"

namespace zeza {
namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kBeijingOffset = 8 * 3600;

// The sessions as seconds of the Beijing day, the end excluded (the last minute counts).
struct Session {
    int64_t begin;
    int64_t end;
};
constexpr Session kSessions[] = {{9 * 3600 + 30 * 60, 11 * 3600 + 31 * 60}, {13 * 3600, 15 * 3600 + 3 * 60}};

// Floor division, so moments before 1970 fall on the right day too.
int64_t DayOf(int64_t beijing) {
    return beijing >= 0 ? beijing / kDay : -((-beijing + kDay - 1) / kDay);
}

bool IsWeekday(int64_t day) {
    // 1970-01-01 was a Thursday; 0 is Sunday.
    const int64_t dow = ((day + 4) % 7 + 7) % 7;
    return dow >= 1 && dow <= 5;
}

// The session t lies in, or nullptr; dayStart receives the UTC moment its Beijing day began.
const Session* SessionOf(int64_t t, int64_t& dayStart) {
    const int64_t beijing = t + kBeijingOffset;
    const int64_t day = DayOf(beijing);
    dayStart = day * kDay - kBeijingOffset;
    if (!IsWeekday(day)) return nullptr;
    const int64_t second = beijing - day * kDay;
    for (const Session& s : kSessions)
        if (second >= s.begin && second < s.end) return &s;
    return nullptr;
}

}  // namespace

bool IsTradingTime(int64_t t) {
    int64_t dayStart = 0;
    return SessionOf(t, dayStart) != nullptr;
}

int64_t NextLightPass(int64_t t) {
    int64_t dayStart = 0;
    if (const Session* s = SessionOf(t, dayStart)) {
        if (IsTradingTime(t + kLightPassInterval)) return t + kLightPassInterval;
        const int64_t lastMinute = dayStart + s->end - 60;
        if (lastMinute > t) return lastMinute;
    }
    // A week always holds a weekday's opening.
    const int64_t today = DayOf(t + kBeijingOffset);
    for (int64_t day = today; day <= today + 7; ++day) {
        if (!IsWeekday(day)) continue;
        for (const Session& s : kSessions) {
            const int64_t opening = day * kDay - kBeijingOffset + s.begin;
            if (opening > t) return opening;
        }
    }
    return t + kDay;
}

}  // namespace zeza
