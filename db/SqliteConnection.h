#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <sqlite3.h>

namespace zeza {

// The one database file, relative to the current working directory.
inline constexpr const char* kDatabasePath = "./Zeza.db";

// How long a statement waits for the other thread's transaction before it fails.
inline constexpr int kBusyTimeoutMs = 5000;

// A value bound to a "?" of a statement: NULL, integer, real or (GBK) text.
using SqlParam = std::variant<std::nullptr_t, long long, double, std::string>;
using SqlParams = std::vector<SqlParam>;

// A query result as text, like sqlite3_get_table gives it: NULL stays distinct from "".
struct QueryTable {
    int rows = 0;
    int cols = 0;
    std::vector<std::string> names;
    std::vector<std::optional<std::string>> values;  // row-major, rows * cols

    // Text of row r (0-based) and column c; nullptr for SQL NULL.
    const char* Text(int r, int c) const {
        const auto& v = values[static_cast<size_t>(r) * cols + c];
        return v ? v->c_str() : nullptr;
    }
    // Text with NULL read as "".
    std::string Str(int r, int c) const {
        const char* t = Text(r, c);
        return t ? std::string(t) : std::string();
    }
};

// One connection for the life of one operation; closed on every path by the destructor.
class SqliteConnection {
public:
    SqliteConnection() = default;
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // Opens an existing database read-write with the busy timeout set. With
    // create, a missing file is created; without, a missing file is a failure,
    // so that a stray write never leaves an empty Zeza.db behind.
    bool Open(const std::string& path = kDatabasePath, bool create = false);
    void Close();
    bool IsOpen() const { return m_db != nullptr; }
    sqlite3* Handle() const { return m_db; }

    // Runs statements without results. With parameters the text must be one
    // statement whose "?" take them in order. Returns the SQLite result code.
    int Exec(const std::string& sql, const SqlParams& params = {});

    // Runs a query into a text table. Returns the SQLite result code.
    int Query(const std::string& sql, const SqlParams& params, QueryTable& out);

    // The connection's last error text ("" when none).
    std::string ErrorMessage() const;

private:
    sqlite3* m_db = nullptr;
};

// Binds params to the "?" of stmt in order; returns the SQLite result code.
int BindParams(sqlite3_stmt* stmt, const SqlParams& params);

}  // namespace zeza
