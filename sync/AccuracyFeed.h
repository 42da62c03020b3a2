#pragma once

#include <string_view>

#include "sync/MemoryFeeds.h"

namespace zeza {

// The fields of a fund in the accuracy feed's table.
inline constexpr int kAccuracySource = 0;  // "公开" or "自算" (GBK)
inline constexpr int kAccuracyMae = 1;     // mean absolute error in %, nothing under kAccuracyMinDays
inline constexpr int kAccuracyDays = 2;    // days with both an estimate and a net value

// Fewer days than this make no track record: the error is not shown.
inline constexpr int kAccuracyMinDays = 5;

// Reads the accuracy feed (GBK lines code|source|mae|days, source 公开 or 自算,
// mae a number or empty) into out; lines that are none are skipped, and a code
// named twice takes its last line. 1 read (an empty text is an empty table);
// 0 text that is not empty yet has no valid line (an error page), out cleared.
[[nodiscard]] int ReadAccuracyFeed(std::string_view text, MemoryTable& out);

}  // namespace zeza
