#pragma once

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

}  // namespace zeza
