#pragma once

#include <initializer_list>
#include <string_view>

#include <sqlite3.h>

namespace zeza {

// One statement compiled once and run for many lines of a feed. Finalized by
// the destructor.
class PreparedStatement {
  public:
    PreparedStatement(sqlite3* db, std::string_view sql);
    ~PreparedStatement();
    PreparedStatement(const PreparedStatement&) = delete;
    PreparedStatement& operator=(const PreparedStatement&) = delete;

    bool IsValid() const { return m_stmt != nullptr; }

    // Binds the texts to the "?" in order, runs the statement to its end and
    // makes it ready for the next run. SQLITE_OK on success, else the error code.
    // The texts need to live only for the call.
    int Run(std::initializer_list<std::string_view> texts);
    // Same with a text for the first "?" and an integer for the second.
    int Run(std::string_view text, long long value);
    // Same with an integer for the first "?" and texts for the others.
    int Run(long long value, std::initializer_list<std::string_view> texts);
    // Same with one integer.
    int Run(long long value);

    // Row by row reading of a query: SQLITE_ROW while there is a row, then
    // SQLITE_DONE, or an error code.
    int Step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_MISUSE; }
    long long ColumnInt(int column) const { return sqlite3_column_int64(m_stmt, column); }
    bool ColumnIsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    // The text of a column of the current row; valid until the next Step.
    std::string_view ColumnText(int column) const;

  private:
    int BindTexts(int first, std::initializer_list<std::string_view> texts);
    int RunToEnd();
    int Fail(int rc);

    sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace zeza
