#include "tables/ViewLoader.h"

#include <cstdlib>

#include "db/SqliteConnection.h"

namespace zeza {

namespace {

// Finalizes the statement on every path.
struct Statement {
    sqlite3_stmt* stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

// Fills one row from the current result row of stmt. A NULL value shows as an
// empty cell (a number cell then chooses no colour, a NULL watch flag is no tick).
// False only when the result lacks a column the view reads; error then holds the
// database's own text for that, and the row keeps what was filled before it.
bool FillRow(const ViewDefinition& view, sqlite3_stmt* stmt, int r, ViewRow& row, std::string& error) {
    const int cols = sqlite3_column_count(stmt);
    auto present = [&](int c) {
        if (c >= 0 && c < cols) return true;
        error = sqlite3_errstr(SQLITE_RANGE);
        return false;
    };

    auto integer = [&](int c, long long& out) {
        if (!present(c)) return false;
        if (sqlite3_column_type(stmt, c) == SQLITE_INTEGER) {
            out = sqlite3_column_int64(stmt, c);
            return true;
        }
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        out = text ? std::strtoll(text, nullptr, 10) : 0;
        return true;
    };

    // A number cell shows the value read back from its text. A stored real
    // skips SQLite's slow text conversion but is rounded the way that text is.
    // has is false for a NULL: the cell stays empty.
    auto number = [&](int c, int decimals, bool plus, std::string& cell, double& v, bool& has) {
        if (!present(c)) return false;
        has = true;
        switch (sqlite3_column_type(stmt, c)) {
            case SQLITE_NULL:
                has = false;
                cell.clear();
                return true;
            case SQLITE_FLOAT:
                v = sqlite3_column_double(stmt, c);
                cell = FormatStoredReal(v, decimals, plus);
                return true;
            case SQLITE_INTEGER:
                v = static_cast<double>(sqlite3_column_int64(stmt, c));
                break;
            default:
                v = ParseNumber(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)));
                break;
        }
        cell = FormatFixed(v, decimals, plus);
        return true;
    };

    row.cells.resize(view.cells.size() + 1);
    row.cells[0] = std::to_string(r + 1);

    if (!integer(0, row.id)) return false;

    for (size_t i = 0; i < view.cells.size(); ++i) {
        const CellSource& src = view.cells[i];
        std::string& cell = row.cells[i + 1];
        if (src.rule == CellRule::Text) {
            if (!present(src.resultColumn)) return false;
            const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, src.resultColumn));
            if (text) cell.assign(text, static_cast<size_t>(sqlite3_column_bytes(stmt, src.resultColumn)));
            continue;
        }
        const bool change = src.rule == CellRule::SignedChange;
        const int decimals = src.rule == CellRule::Fixed4 || change ? 4 : 2;
        double v = 0.0;
        bool has = false;
        if (!number(src.resultColumn, decimals, change, cell, v, has)) return false;
        if (has && (change || src.rule == CellRule::ProfitLoss)) {
            // The row's colour: red above 0, green for 0 and below.
            row.hasTextColor = true;
            row.textColor = v > 0 ? kRiseColor : kFallColor;
        }
    }

    if (view.lookColumn < 0) {
        row.checked = true;  // the query holds watched funds only
    } else {
        long long look = 0;
        if (!integer(view.lookColumn, look)) return false;
        row.checked = look != 0;
    }
    return true;
}

}  // namespace

int LoadViewRows(const ViewDefinition& view, const std::string& quoteDate, int sortColumn, bool ascending,
                 ViewRows& out) {
    if (sortColumn >= 0 && view.IgnoresSortColumn(sortColumn)) return 0;
    out = ViewRows{};

    std::string sql = view.queryPrefix;
    if (sortColumn >= 0) sql += view.SortClause(sortColumn, ascending);

    SqliteConnection db;
    if (!db.Open()) {
        out.error = "unable to open database file";
        return -1;
    }
    // Rows are formatted as they are stepped, without a text table in between.
    Statement st;
    int rc = sqlite3_prepare_v2(db.Handle(), sql.c_str(), static_cast<int>(sql.size()), &st.stmt, nullptr);
    if (rc == SQLITE_OK && st.stmt) rc = BindParams(st.stmt, {quoteDate});
    if (rc != SQLITE_OK || !st.stmt) {
        out.error = db.ErrorMessage();
        return -2;
    }

    bool filled = true;
    int r = 0;
    while ((rc = sqlite3_step(st.stmt)) == SQLITE_ROW) {
        if (!filled) continue;  // the query still has to finish, as a whole table would
        filled = FillRow(view, st.stmt, r, out.rows.emplace_back(), out.error);
        ++r;
    }
    if (rc != SQLITE_DONE) {
        // The query failed part-way: nothing of it is shown.
        out.rows.clear();
        out.error = db.ErrorMessage();
        return -2;
    }
    if (!filled) return -3;
    return r > 0 ? r - 1 : 0;
}

}  // namespace zeza
