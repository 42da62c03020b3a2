#include "suggest/FindRow.h"

#include <string_view>

#include "platform/GbkCodec.h"
#include "suggest/PinyinInitials.h"

namespace zeza {
namespace {

bool IsAllAsciiDigits(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Substring test that only tries character starts of hay, so that the trail
// byte of one character and the lead byte of the next never make a hit.
bool ContainsGbk(std::string_view hay, std::string_view needle) {
    if (needle.size() > hay.size()) return false;
    for (size_t i = 0; i + needle.size() <= hay.size(); i += GbkCharLength(hay, i))
        if (hay.compare(i, needle.size(), needle) == 0) return true;
    return false;
}

}  // namespace

int FindRow(const std::string& text, int start, int rowCount,
            const std::function<std::string(int row, int col)>& cell,
            const std::function<std::string(int row)>& initials) {
    if (rowCount <= 0 || text.empty()) return -1;
    if (start < 0 || start >= rowCount) start = 0;

    // Six ASCII digits are six single bytes, so the first six bytes decide.
    const std::string_view key = std::string_view(text).substr(0, 6);
    const bool byCode = IsAllAsciiDigits(key);
    const int column = byCode ? kFindCodeColumn : kFindNameColumn;
    const std::string_view needle = byCode ? key : std::string_view(text);
    // Initials are upper-case ASCII; the typed text is brought to the same form.
    const std::string typed = (byCode || !initials) ? std::string() : TypedInitials(text);

    for (int k = 0; k < rowCount; ++k) {
        const int row = (start + k) % rowCount;
        if (ContainsGbk(cell(row, column), needle)) return row;
        if (!typed.empty() && initials(row).find(typed) != std::string::npos) return row;
    }
    return -1;
}

}  // namespace zeza
