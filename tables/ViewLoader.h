#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tables/CellFormat.h"
#include "tables/ViewDefinition.h"

namespace zeza {

class SqliteConnection;

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
    // row, as the list shows it; "" for a NULL or a missing value.
    std::string CellText(int row, int column) const;
};

// Runs view's query for quoteDate on db into out, ordered by the database
// (" ORDER BY" list column sortColumn) when sortColumn >= 0. A NULL value does
// not stop the load. Results: -2 query failed (out empty; error holds the
// database's own text), -3 the result lacks a column the view reads (the rows
// so far stay), otherwise the index of the last row (0 when there is none).
int QueryViewTable(SqliteConnection& db, const ViewDefinition& view, const std::string& quoteDate,
                   int sortColumn, bool ascending, ViewTable& out);

// The rows of view for quoteDate, unsorted, with QueryViewTable's results (and
// -1 when there is no database). The
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

// True when a and b hold the rows of one view, row by row the same row ids.
bool SameViewRows(const ViewTable& a, const ViewTable& b);

// What differs between a and b, which hold the same rows (SameViewRows): the list
// columns (1, 2, ..., ascending) with a value that differs in some row, and the
// rows (of the tables) whose text colour differs.
void DiffViewTables(const ViewTable& a, const ViewTable& b, std::vector<int>& columns,
                    std::vector<int>& colorRows);

}  // namespace zeza
