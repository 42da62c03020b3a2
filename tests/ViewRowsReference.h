#pragma once

// The reference loader of a view, for the tests and the benchmarks: the database
// orders the rows (" ORDER BY" of the view's column) and every cell is formatted
// at once, so the program's own path (LoadViewTable, SortViewRows, cells formatted
// when drawn) can be held to it. Header-only, so bench/ can include it too.

#include <string>
#include <vector>

#include "db/SqliteConnection.h"
#include "tables/ViewLoader.h"

namespace zeza::test {

// One row of a loaded view, ready to be shown.
struct ViewRow {
    long long id = 0;                // row id: fu_list.idl, or fu_count.idc for holdings
    std::vector<std::string> cells;  // GBK; cells[0] is the 1-based row number
    bool hasTextColor =
        false;  // false when no colour was chosen (filling stopped first, or the value was NULL)
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
inline int LoadViewRows(const ViewDefinition& view, const std::string& quoteDate, int sortColumn,
                        bool ascending, ViewRows& out) {
    if (sortColumn >= 0 && view.IgnoresSortColumn(sortColumn)) return 0;
    out = ViewRows{};

    SqliteConnection db;
    if (!db.Open()) {
        out.error = "unable to open database file";
        return -1;
    }
    ViewTable t;
    const int result = QueryViewTable(db, view, quoteDate, sortColumn, ascending, t);
    out.error = t.error;
    out.rows.resize(static_cast<size_t>(t.RowCount()));
    for (int r = 0; r < t.RowCount(); ++r) {
        ViewRow& row = out.rows[static_cast<size_t>(r)];
        row.id = t.ids[static_cast<size_t>(r)];
        row.cells.resize(view.cells.size() + 1);
        row.cells[0] = std::to_string(r + 1);
        // A row the result cannot fill keeps the cells before the first missing value.
        bool missing = false;
        for (size_t c = 0; c < view.cells.size() && !missing; ++c) {
            const int rc = view.cells[c].resultColumn;
            missing = rc < 0 || rc >= t.columns || t.Value(r, rc).type == 0;
            if (!missing) row.cells[c + 1] = t.CellText(r, static_cast<int>(c) + 1);
        }
        row.hasTextColor = t.HasTextColor(r);
        row.textColor = row.hasTextColor ? t.TextColor(r) : 0;
        row.checked = !missing && t.Checked(r);
    }
    return result;
}

}  // namespace zeza::test
