#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zeza {

// One column of a view as its column layout text describes it.
struct ColumnLayout {
    std::string caption;  // GBK
    int align = 0;        // 0 left, 1 right, 2 centred
    int width = 0;        // pixels
};

// Alignment codes of a column layout.
inline constexpr int kAlignLeft = 0;
inline constexpr int kAlignRight = 1;
inline constexpr int kAlignCenter = 2;

// Reads a column layout of "caption,align,width;" groups (GBK). The last group
// may end at the end of the text instead of ";"; numbers are read like atoi, so
// text that is not a number gives 0. Reading stops at the first group without a
// comma. Never fails; an empty text gives no columns.
std::vector<ColumnLayout> ParseColumnLayout(std::string_view layout);

// The leading integer of text as atoi reads it (spaces, sign, digits), 0 when
// there is none; clamped to the int range instead of overflowing.
int ParseLeadingInt(std::string_view text);

}  // namespace zeza
