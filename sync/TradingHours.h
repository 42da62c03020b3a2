#pragma once

#include <cstdint>

namespace zeza {

// Seconds between two light passes of a trading session.
inline constexpr int64_t kLightPassInterval = 120;

// True when t (seconds since 1970, UTC) lies in a trading session, Beijing time
// (UTC+8, whatever the machine's zone): a weekday from 09:30 through 11:30 or
// from 13:00 through 15:02, each last minute included.
bool IsTradingTime(int64_t t);

// When the next light pass after t is due: two minutes on while that is still
// in the session, else the session's last minute (so its close is seen), else
// the opening of the next session.
int64_t NextLightPass(int64_t t);

}  // namespace zeza
