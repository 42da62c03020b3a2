#pragma once

#include <string>
#include <string_view>
#include <vector>

// GBK is the program's text encoding everywhere except at the widgets.
// These helpers are the only place that knows how GBK is laid out.
namespace zeza {

// Converts GBK bytes to UTF-8; bytes that are not valid GBK become U+FFFD.
std::string GbkToUtf8(std::string_view gbk);

// Converts UTF-8 to GBK; characters GBK cannot hold become '?'.
std::string Utf8ToGbk(std::string_view utf8);

// Number of bytes of the GBK character that starts at s[i]: 2 for a lead byte
// (0x81..0xFE) that has a following byte, else 1.
size_t GbkCharLength(std::string_view s, size_t i);

// Position of the first character c at or after `from`, stepping whole GBK
// characters so that a trail byte equal to c is never taken for it; npos if none.
size_t FindGbkChar(std::string_view s, char c, size_t from = 0);

// Splits s at every character sep found by FindGbkChar.
std::vector<std::string_view> SplitGbk(std::string_view s, char sep);

// True when the whole text is valid GBK (ASCII included).
bool IsValidGbk(std::string_view s);

}  // namespace zeza
