#include "tables/ColumnLayout.h"

#include <cctype>
#include <climits>

#include "platform/GbkCodec.h"

namespace zeza {

int ParseLeadingInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

std::vector<ColumnLayout> ParseColumnLayout(std::string_view layout) {
    std::vector<ColumnLayout> columns;
    size_t p = 0;
    while (p < layout.size()) {
        // Captions are GBK, so separators are found by whole characters.
        const size_t end = [&] {
            size_t e = FindGbkChar(layout, ';', p);
            return e == std::string_view::npos ? layout.size() : e;
        }();
        const std::string_view group = layout.substr(p, end - p);
        const size_t comma1 = FindGbkChar(group, ',');
        if (comma1 == std::string_view::npos) break;

        ColumnLayout col;
        col.caption = std::string(group.substr(0, comma1));
        const size_t comma2 = FindGbkChar(group, ',', comma1 + 1);
        if (comma2 == std::string_view::npos) {
            col.align = ParseLeadingInt(group.substr(comma1 + 1));
        } else {
            col.align = ParseLeadingInt(group.substr(comma1 + 1, comma2 - comma1 - 1));
            col.width = ParseLeadingInt(group.substr(comma2 + 1));
        }
        columns.push_back(std::move(col));
        p = end + 1;
    }
    return columns;
}

}  // namespace zeza
