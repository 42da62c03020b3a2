#pragma once

#include <string>
#include <vector>

namespace zeza {

// The views of the fund list; each has one entry in the view table (ViewDefinition.cpp).
enum class ViewKind { Latest, Forecast, Watch, Holdings };

// The list columns every view shares; the view's own columns follow them.
inline constexpr int kCheckColumn = 0;  // "关注", the watch flag's check box
inline constexpr int kCodeColumn = 1;   // "代码"
inline constexpr int kTypeColumn = 2;   // "类型"
inline constexpr int kNameColumn = 3;   // "简称"

// Which commands the list's context menu offers on a view's rows.
enum class ViewMenu {
    Catalogue,  // add to the holdings, add to the watch list
    Watch,      // remove from the watch list, add to the holdings
    Holdings,   // delete, add to the watch list, edit
};

// How a result value becomes a cell text.
enum class CellRule {
    Text,          // as the database returns it
    Fixed4,        // "%0.4f"
    Fixed2,        // "%0.2f"
    SignedChange,  // "%+0.4f" above 0 (row red), else "%0.4f" (row green)
    ProfitLoss,    // "%0.2f"; row red above 0, else green
};

// Where list column 1, 2, ... takes its value from.
struct CellSource {
    int resultColumn;
    CellRule rule;
};

// Everything that tells one view from another: its query, columns, sorting and cells.
struct ViewDefinition {
    ViewKind kind;
    // The query up to and including "gdate=?"; the quote date is bound to the "?".
    std::string queryPrefix;
    // The columns after the check box column, as a column layout text (GBK).
    std::string columnSpec;
    // Result column number (counted from 1) of list column c is c + sortOffset.
    int sortOffset;
    // Result column of the watch flag; -1 when the view holds watched funds only.
    int lookColumn;
    // False when a click on the check box column does not sort.
    bool checkColumnSorts;
    // The context menu of its rows.
    ViewMenu menu;
    // Sources of list columns 1, 2, ... in order; result column 0 is always the row id.
    std::vector<CellSource> cells;

    // True when a sort request on list column column is ignored.
    bool IgnoresSortColumn(int column) const { return column == 0 && !checkColumnSorts; }
    // " ORDER BY n" for list column column, with " DESC" unless ascending.
    std::string SortClause(int column, bool ascending) const;
};

// The definition of kind; the same object for the life of the program.
const ViewDefinition& GetViewDefinition(ViewKind kind);

}  // namespace zeza
