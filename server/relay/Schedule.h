#pragma once

#include <cstdint>
#include <string>

// When the relay asks the sources, in Beijing time (UTC+8 all year: China keeps no
// summer time), whatever the machine's own zone. Pure functions of the time.
namespace zeza::relay {

enum class Feed { Catalogue, NetValues, Estimates };

// The latest moment at or before nowUtc at which feed is to be fetched (seconds since
// 1970 UTC); 0 when there was none in the week before.
//   Catalogue: 08:30 and 18:00 every day (new funds are listed before their first values).
//   NetValues: every 20 minutes from 16:00 to 23:20 every day (most funds publish by 21:00,
//     late ones through the evening).
//   Estimates: every 2 minutes 09:30-11:30 and 13:00-15:00, Monday to Friday.
int64_t LatestSlot(Feed feed, int64_t nowUtc);

// True when a moment of the schedule has passed since the last successful run.
inline bool IsDue(Feed feed, int64_t lastSuccessUtc, int64_t nowUtc) {
    return lastSuccessUtc < LatestSlot(feed, nowUtc);
}

// Monday to Friday 09:15-15:05 Beijing time: when quotes move and estimates are made.
bool InTradingHours(int64_t nowUtc);

// "2026-08-20 21:40" in Beijing time.
std::string BeijingTime(int64_t utc);

const char* FeedLabel(Feed feed);

}  // namespace zeza::relay
