#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
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

    // Who keeps two threads from using the connection at once.
    enum class Guard {
        Sqlite,  // SQLite, with a mutex taken on every call
        Owner,   // the owner, under a lock of its own; no mutex per call
    };

    // Opens an existing database read-write with the busy timeout set. With
    // create, a missing file is created; without, a missing file is a failure,
    // so that a stray write never leaves an empty Zeza.db behind.
    bool Open(const std::string& path = kDatabasePath, bool create = false, Guard guard = Guard::Sqlite);
    void Close();
    bool IsOpen() const { return m_db != nullptr; }
    sqlite3* Handle() const { return m_db; }

    // Runs statements without results. With parameters the text must be one
    // statement whose "?" take them in order. Returns the SQLite result code.
    [[nodiscard]] int Exec(const std::string& sql, const SqlParams& params = {});

    // Runs a query into a text table. Returns the SQLite result code.
    [[nodiscard]] int Query(const std::string& sql, const SqlParams& params, QueryTable& out);

    // The connection's last error text ("" when none).
    std::string ErrorMessage() const;

  private:
    sqlite3* m_db = nullptr;
};

// Binds params to the "?" of stmt in order (texts copied); returns the SQLite result code.
[[nodiscard]] int BindParams(sqlite3_stmt* stmt, const SqlParams& params);

// Bytes bound as a BLOB rather than as text.
struct SqlBlob {
    std::string_view bytes;
};

// The one prepared statement: compiled once, run or stepped many times,
// finalized by the destructor. Invalid when the text does not compile.
class SqlStatement {
  public:
    SqlStatement(sqlite3* db, std::string_view sql);
    ~SqlStatement();
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    bool IsValid() const { return m_stmt != nullptr; }
    explicit operator bool() const { return IsValid(); }
    // The result code of compiling it (SQLITE_OK with no statement for an empty text).
    int PrepareResult() const { return m_prepared; }
    sqlite3_stmt* Handle() const { return m_stmt; }

    // Binds values to the "?" in order, runs the statement to its end and makes
    // it ready for the next run (bindings cleared). Each value is NULL
    // (nullptr, an empty std::optional), an integer (bool too), a real, an
    // SqlBlob or text; texts and blobs are not copied and need to live only
    // for the call. SQLITE_OK when the statement ran to its end, else the code.
    template <typename... Values>
    [[nodiscard]] int Run(const Values&... values) {
        if (!m_stmt) return SQLITE_MISUSE;
        int rc = SQLITE_OK;
        int i = 0;
        ((rc = rc == SQLITE_OK ? Bind(++i, values) : rc), ...);
        return rc == SQLITE_OK ? RunToEnd() : Fail(rc);
    }
    // Same with a list of parameters (texts copied).
    [[nodiscard]] int RunParams(const SqlParams& params);

    // Row by row reading of a query: SQLITE_ROW while there is a row, then
    // SQLITE_DONE, or an error code.
    [[nodiscard]] int Step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_MISUSE; }
    int ColumnCount() const { return sqlite3_column_count(m_stmt); }
    long long ColumnInt(int column) const { return sqlite3_column_int64(m_stmt, column); }
    double ColumnReal(int column) const { return sqlite3_column_double(m_stmt, column); }
    bool ColumnIsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    // The bytes of a column of the current row ("" for NULL); valid until the next Step.
    std::string_view ColumnText(int column) const;
    // The same bytes as a string of their own.
    std::string ColumnString(int column) const { return std::string(ColumnText(column)); }

  private:
    template <typename T>
    struct IsOptional : std::false_type {};
    template <typename T>
    struct IsOptional<std::optional<T>> : std::true_type {};

    template <typename T>
    int Bind(int i, const T& v) {
        if constexpr (std::is_same_v<T, std::nullptr_t>) {
            return sqlite3_bind_null(m_stmt, i);
        } else if constexpr (IsOptional<T>::value) {
            return v ? Bind(i, *v) : sqlite3_bind_null(m_stmt, i);
        } else if constexpr (std::is_integral_v<T>) {
            return sqlite3_bind_int64(m_stmt, i, static_cast<sqlite3_int64>(v));
        } else if constexpr (std::is_floating_point_v<T>) {
            return sqlite3_bind_double(m_stmt, i, static_cast<double>(v));
        } else if constexpr (std::is_same_v<T, SqlBlob>) {
            return sqlite3_bind_blob(m_stmt, i, v.bytes.data(), static_cast<int>(v.bytes.size()),
                                     SQLITE_STATIC);
        } else {
            const std::string_view t(v);
            // The texts outlive the step, so SQLite need not copy them.
            return sqlite3_bind_text(m_stmt, i, t.data(), static_cast<int>(t.size()), SQLITE_STATIC);
        }
    }
    int RunToEnd();
    int Fail(int rc);

    sqlite3_stmt* m_stmt = nullptr;
    int m_prepared = SQLITE_OK;
};

// The one transaction guard: Begin starts it, Commit ends it; whatever ends
// before Commit succeeded is rolled back by the destructor, so the work is
// applied whole or not at all. The connection must stay open while it lives.
class SqlTransaction {
  public:
    explicit SqlTransaction(sqlite3* db) : m_db(db) {}
    ~SqlTransaction();
    SqlTransaction(const SqlTransaction&) = delete;
    SqlTransaction& operator=(const SqlTransaction&) = delete;

    // How the transaction starts: Immediate takes the write lock at once
    // (waiting out another connection's writes up to the busy timeout), so the
    // work never fails half-way for a lock; Deferred takes it at the first write.
    enum class Lock { Immediate, Deferred };

    // SQLITE_OK when the transaction began, else the SQLite result code.
    [[nodiscard]] int Begin(Lock lock = Lock::Immediate);
    // SQLITE_OK when committed; a failed COMMIT leaves it open for the destructor to roll back.
    [[nodiscard]] int Commit();

  private:
    sqlite3* m_db;
    bool m_open = false;
};

}  // namespace zeza
