#pragma once

#include <array>
#include <string_view>

#include "sync/MemoryFeeds.h"

namespace zeza {

// The fields of an index in the index feed's table.
inline constexpr int kIndexName = 0;    // GBK text
inline constexpr int kIndexLevel = 1;   // number
inline constexpr int kIndexChange = 2;  // % against the previous close, a number
inline constexpr int kIndexTime = 3;    // "YYYY-MM-DD HH:MM:SS", Beijing time

// The indices of the main window's market line, in the order it shows them.
inline constexpr std::array<std::string_view, 5> kMarketLineIndices = {"sh000001", "sz399001", "sz399006",
                                                                       "sh000300", "hkHSI"};

// Reads the index feed (GBK lines code|name|level|change%|time; code two lower-case
// letters and one to eight letters or digits, level and change decimal numbers, the
// level above 0) into out by code; lines that are none are skipped, and a code named
// twice takes its last line. 1 read (an empty text is an empty table); 0 text that is
// not empty yet has no valid line (an error page), out cleared.
[[nodiscard]] int ReadIndexFeed(std::string_view text, MemoryTable& out);

}  // namespace zeza
