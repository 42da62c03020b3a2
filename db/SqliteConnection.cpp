#include "db/SqliteConnection.h"

namespace zeza {

SqliteConnection::~SqliteConnection() {
    Close();
}

bool SqliteConnection::Open(const std::string& path, bool create, Guard guard) {
    Close();
    int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) |
                (guard == Guard::Owner ? SQLITE_OPEN_NOMUTEX : 0);
    int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        Close();
        return false;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    return true;
}

void SqliteConnection::Close() {
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

int BindParams(sqlite3_stmt* stmt, const SqlParams& params) {
    int i = 1;
    for (const SqlParam& p : params) {
        int rc = SQLITE_OK;
        if (std::holds_alternative<std::nullptr_t>(p)) {
            rc = sqlite3_bind_null(stmt, i);
        } else if (const long long* n = std::get_if<long long>(&p)) {
            rc = sqlite3_bind_int64(stmt, i, *n);
        } else if (const double* d = std::get_if<double>(&p)) {
            rc = sqlite3_bind_double(stmt, i, *d);
        } else {
            const std::string& s = std::get<std::string>(p);
            rc = sqlite3_bind_text(stmt, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        }
        if (rc != SQLITE_OK) return rc;
        ++i;
    }
    return SQLITE_OK;
}

int SqliteConnection::Exec(const std::string& sql, const SqlParams& params) {
    if (!m_db) return SQLITE_MISUSE;
    if (params.empty()) return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr);
    SqlStatement statement(m_db, sql);
    if (statement.PrepareResult() != SQLITE_OK) return statement.PrepareResult();
    // Like sqlite3_step on no statement, binding to an empty text's none is a misuse.
    if (!statement) return SQLITE_MISUSE;
    return statement.RunParams(params);
}

int SqliteConnection::Query(const std::string& sql, const SqlParams& params, QueryTable& out) {
    out = QueryTable{};
    if (!m_db) return SQLITE_MISUSE;
    SqlStatement statement(m_db, sql);
    if (!statement) return statement.PrepareResult() != SQLITE_OK ? statement.PrepareResult() : SQLITE_ERROR;
    sqlite3_stmt* const stmt = statement.Handle();
    int rc = BindParams(stmt, params);
    if (rc != SQLITE_OK) return rc;
    out.cols = sqlite3_column_count(stmt);
    for (int c = 0; c < out.cols; ++c) {
        const char* n = sqlite3_column_name(stmt, c);
        out.names.emplace_back(n ? n : "");
    }
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        for (int c = 0; c < out.cols; ++c) {
            const unsigned char* t = sqlite3_column_text(stmt, c);
            if (t)
                out.values.emplace_back(std::string(reinterpret_cast<const char*>(t),
                                                    static_cast<size_t>(sqlite3_column_bytes(stmt, c))));
            else
                out.values.emplace_back(std::nullopt);
        }
        ++out.rows;
    }
    if (rc != SQLITE_DONE) {
        out = QueryTable{};
        return rc;
    }
    return SQLITE_OK;
}

SqlStatement::SqlStatement(sqlite3* db, std::string_view sql) {
    m_prepared = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_stmt, nullptr);
    if (m_prepared != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

SqlStatement::~SqlStatement() {
    sqlite3_finalize(m_stmt);
}

int SqlStatement::RunToEnd() {
    int rc;
    while ((rc = sqlite3_step(m_stmt)) == SQLITE_ROW) {
    }
    sqlite3_reset(m_stmt);
    // The texts were bound without a copy; drop them with the call.
    sqlite3_clear_bindings(m_stmt);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int SqlStatement::Fail(int rc) {
    sqlite3_clear_bindings(m_stmt);
    return rc;
}

int SqlStatement::RunParams(const SqlParams& params) {
    if (!m_stmt) return SQLITE_MISUSE;
    const int rc = BindParams(m_stmt, params);
    return rc == SQLITE_OK ? RunToEnd() : Fail(rc);
}

std::string_view SqlStatement::ColumnText(int column) const {
    const unsigned char* t = sqlite3_column_text(m_stmt, column);
    if (!t) return std::string_view();
    return std::string_view(reinterpret_cast<const char*>(t),
                            static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)));
}

SqlTransaction::~SqlTransaction() {
    // Nothing to report from here: a failed ROLLBACK leaves the transaction to
    // end with the connection, which rolls it back as well.
    if (m_open) (void)sqlite3_exec(m_db, "ROLLBACK;", nullptr, nullptr, nullptr);
}

int SqlTransaction::Begin(Lock lock) {
    const int rc = sqlite3_exec(m_db, lock == Lock::Immediate ? "BEGIN IMMEDIATE;" : "BEGIN;", nullptr,
                                nullptr, nullptr);
    m_open = rc == SQLITE_OK;
    return rc;
}

int SqlTransaction::Commit() {
    if (!m_open) return SQLITE_MISUSE;
    const int rc = sqlite3_exec(m_db, "COMMIT;", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) m_open = false;
    return rc;
}

std::string SqliteConnection::ErrorMessage() const {
    if (!m_db) return std::string();
    const char* m = sqlite3_errmsg(m_db);
    return m ? std::string(m) : std::string();
}

}  // namespace zeza
