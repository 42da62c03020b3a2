#pragma once

#include <functional>
#include <string>

namespace zeza {

// Columns of every fund view that the lookup reads.
inline constexpr int kFindCodeColumn = 1;  // "代码"
inline constexpr int kFindNameColumn = 3;  // "简称"

// Looks for text (GBK) among rowCount rows whose cell texts (GBK) cell(row,
// column) gives. A text whose first six characters are all ASCII digits (or
// that is all digits when shorter) is looked for inside the code column, any
// other text inside the name column, both case-sensitively and never across a
// double-byte character. A text of Latin letters (digits may join them, as
// in "hs300"; full-width ones count) also matches a row whose pinyin initials,
// as initials(row) gives them, contain it, letters without regard to case;
// without initials there is no such match. Rows are tried from start to the
// end, then from row 0; a start outside the rows means row 0. Returns the
// first matching row, or -1 when none matches, the list is empty or the text
// is empty.
int FindRow(const std::string& text, int start, int rowCount,
            const std::function<std::string(int row, int col)>& cell,
            const std::function<std::string(int row)>& initials = {});

}  // namespace zeza
