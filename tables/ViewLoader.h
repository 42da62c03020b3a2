#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tables/CellFormat.h"
#include "tables/ViewDefinition.h"

namespace zeza {

// One row of a loaded view, ready to be shown.
struct ViewRow {
    long long id = 0;                // row id: fu_list.idl, or fu_count.idc for holdings
    std::vector<std::string> cells;  // GBK; cells[0] is the 1-based row number
    bool hasTextColor = false;       // false when no colour was chosen (filling stopped first, or the value was NULL)
    RgbColor textColor = 0;
    bool checked = false;
};

// The rows of one load, and the error text when filling them failed.
struct ViewRows {
    std::vector<ViewRow> rows;
    std::string error;
};

// Runs view's query for quoteDate on ./Zeza.db and formats its rows into out.
// With sortColumn >= 0 the rows are ordered by that list column. A sort column
// the view ignores returns 0 at once with out untouched.
// A NULL value shows as an empty cell and does not stop the load.
// Results: -1 no database, -2 query failed (out empty), -3 the result lacks a
// column the view reads (the rows so far stay; error holds the database's own
// text), otherwise the index of the last row (0 when there is none). error is
// always the database's text, never one of our own.
int LoadViewRows(const ViewDefinition& view, const std::string& quoteDate, int sortColumn, bool ascending,
                 ViewRows& out);

// One result value as the database handed it over: cells are formatted from
// it when they are shown, and header clicks sort by it.
struct ViewValue {
    union {
        long long i;  // SQLITE_INTEGER
        double d;     // SQLITE_FLOAT
    };
    std::uint32_t textBegin = 0;  // into ViewTable::texts, NUL-terminated there
    std::uint32_t textSize = 0;
    int type = 0;  // SQLITE_INTEGER ... SQLITE_NULL; 0: the result has no such column
    ViewValue() : i(0) {}
};

// The rows of one view in the order the query returned them, unformatted.
struct ViewTable {
    const ViewDefinition* view = nullptr;
    int columns = 0;                  // values per row
    std::vector<ViewValue> values;    // row-major
    std::string texts;                // text values one after another
    std::vector<long long> ids;       // row id of each row
    std::vector<std::uint8_t> flags;  // per row: kChecked, kHasTextColor, kRises
    std::string error;                // the database's text when filling stopped

    static constexpr std::uint8_t kChecked = 1, kHasTextColor = 2, kRises = 4;

    int RowCount() const { return static_cast<int>(ids.size()); }
    const ViewValue& Value(int row, int column) const {
        return values[static_cast<size_t>(row) * static_cast<size_t>(columns) + static_cast<size_t>(column)];
    }
    const char* Text(const ViewValue& v) const { return texts.data() + v.textBegin; }
    bool Checked(int row) const { return flags[static_cast<size_t>(row)] & kChecked; }
    bool HasTextColor(int row) const { return flags[static_cast<size_t>(row)] & kHasTextColor; }
    RgbColor TextColor(int row) const {
        return flags[static_cast<size_t>(row)] & kRises ? kRiseColor : kFallColor;
    }
    // Text (GBK) of list column column (1 = the first after the check box) of
    // row, as LoadViewRows writes it; "" for a NULL or a missing value.
    std::string CellText(int row, int column) const;
};

// The rows of view for quoteDate, unsorted, with LoadViewRows' results. The
// program's own views are read once and handed out again while the database
// file and its content (SQLite's data_version, seen from one connection held
// for this) and the quote date stay the same; any commit by another
// connection, including a feed or the user's own changes, reads them anew.
int LoadViewTable(const ViewDefinition& view, const std::string& quoteDate,
                  std::shared_ptr<const ViewTable>& out);

// The rows of table (indices) in the order " ORDER BY n" of list column
// sortColumn gives them: NULLs first, then numbers by value, then texts
// bytewise; ties keep the query's order. False when the view does not sort by
// that column or the result has no such column.
bool SortViewRows(const ViewTable& table, int sortColumn, bool ascending, std::vector<int>& order);

}  // namespace zeza
