#pragma once

#include <cstddef>
#include <string_view>

// How the three data feeds cut their files into lines and judge their values.
namespace zeza {

// Lines shorter than this carry no fund and are skipped by every feed.
inline constexpr size_t kMinFeedLineLength = 11;

// Calls f(line) for each line of text in order: a line ends at a line feed, a
// carriage return before it (or at the very end) is not part of the line, and
// the last line may end without a terminator. No line follows a final LF.
template <typename F>
void ForEachFeedLine(std::string_view text, F&& f) {
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        f(line);
    }
}

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

// Drops a UTF-8 byte order mark from the front of text, which an editor may
// have put before the first line of a hand-made file.
void SkipByteOrderMark(std::string_view& text);

// The quote date of a net value file, taken from its first line (without the
// line end) as sent, less surrounding blanks ("2008-11-14", "2008/11/14").
// Empty when the line cannot be one: empty, holding "<" (a markup page) or a
// "|" separator (a data line, the date missing).
std::string_view QuoteDateOf(std::string_view firstLine);

}  // namespace zeza
