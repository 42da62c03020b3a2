#include "db/SqliteConnection.h"

namespace zeza {

SqliteConnection::~SqliteConnection() { Close(); }

bool SqliteConnection::Open(const std::string& path, bool create) {
    Close();
    int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
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
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return rc;
    }
    rc = BindParams(stmt, params);
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        }
        if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    return rc;
}

int SqliteConnection::Query(const std::string& sql, const SqlParams& params, QueryTable& out) {
    out = QueryTable{};
    if (!m_db) return SQLITE_MISUSE;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK || !stmt) {
        sqlite3_finalize(stmt);
        return rc != SQLITE_OK ? rc : SQLITE_ERROR;
    }
    rc = BindParams(stmt, params);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return rc;
    }
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
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        out = QueryTable{};
        return rc;
    }
    return SQLITE_OK;
}

std::string SqliteConnection::ErrorMessage() const {
    if (!m_db) return std::string();
    const char* m = sqlite3_errmsg(m_db);
    return m ? std::string(m) : std::string();
}

}  // namespace zeza
