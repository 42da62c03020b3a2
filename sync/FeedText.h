#pragma once

#include <cstddef>
#include <string_view>

#include "platform/TextLines.h"

// How the three data feeds judge their lines and values; they cut their files
// into lines with ForEachLine and drop a byte order mark with SkipByteOrderMark.
namespace zeza {

// Lines shorter than this carry no fund and are skipped by every feed.
inline constexpr size_t kMinFeedLineLength = 11;

// Cuts line at each "|" that is a character of its own in GBK (a trail byte
// 0x7C belongs to its double-byte character) into fields, in one pass.
// Returns the number of fields; once there are more than max it stops and
// returns max + 1, so a line of a million separators costs no more than one.
size_t SplitFeedFields(std::string_view line, std::string_view* fields, size_t max);

// Optional sign, digits, optionally a point and more digits ("-1.5", "3", "1.0623").
bool IsDecimalNumber(std::string_view s);

// Six ASCII digits.
bool IsFundCode(std::string_view s);

// True when text holds nothing but blanks and line ends: the server has
// nothing new to send. Any other text must yield at least one valid line, or
// it is no feed (an error page, a proxy's notice).
bool IsEmptyFeed(std::string_view text);

// The quote date of a net value file, taken from its first line (without the
// line end) as sent, less surrounding blanks ("2008-11-14", "2008/11/14").
// Empty when the line cannot be one: empty, holding "<" (a markup page) or a
// "|" separator (a data line, the date missing).
std::string_view QuoteDateOf(std::string_view firstLine);

}  // namespace zeza
