#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// The one way the program and the data server cut a text into lines.
namespace zeza {

// What becomes of a carriage return at the end of a line.
enum class LineCr {
    Drop,  // LF or CR LF line ends: one CR before the LF (or at the very end) is not part of the line
    Keep,  // LF line ends only: a CR stays in the line
};

// Calls f(line) for each line of text in order: a line ends at a line feed,
// the last line may end without one, and no (empty) line follows a final LF.
template <typename F>
void ForEachLine(std::string_view text, F&& f, LineCr cr = LineCr::Drop) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (cr == LineCr::Drop && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        f(line);
    }
}

// The lines of text as ForEachLine gives them.
inline std::vector<std::string_view> SplitLines(std::string_view text, LineCr cr = LineCr::Drop) {
    std::vector<std::string_view> lines;
    ForEachLine(
        text, [&](std::string_view line) { lines.push_back(line); }, cr);
    return lines;
}

// Drops a UTF-8 byte order mark from the front of text, which an editor may
// have put before the first line of a hand-made file.
inline void SkipByteOrderMark(std::string_view& text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
}

}  // namespace zeza
