#include "sync/PreparedStatement.h"

namespace zeza {

PreparedStatement::PreparedStatement(sqlite3* db, std::string_view sql) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

PreparedStatement::~PreparedStatement() {
    sqlite3_finalize(m_stmt);
}

int PreparedStatement::RunToEnd() {
    int rc;
    while ((rc = sqlite3_step(m_stmt)) == SQLITE_ROW) {
    }
    sqlite3_reset(m_stmt);
    // The texts were bound without a copy; drop them with the call.
    sqlite3_clear_bindings(m_stmt);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int PreparedStatement::BindTexts(int first, std::initializer_list<std::string_view> texts) {
    int i = first;
    for (std::string_view t : texts) {
        // The texts outlive the step, so SQLite need not copy them.
        int rc = sqlite3_bind_text(m_stmt, i++, t.data(), static_cast<int>(t.size()), SQLITE_STATIC);
        if (rc != SQLITE_OK) return rc;
    }
    return SQLITE_OK;
}

int PreparedStatement::Run(std::initializer_list<std::string_view> texts) {
    if (!m_stmt) return SQLITE_MISUSE;
    int rc = BindTexts(1, texts);
    return rc == SQLITE_OK ? RunToEnd() : Fail(rc);
}

int PreparedStatement::Run(std::string_view text, long long value) {
    if (!m_stmt) return SQLITE_MISUSE;
    int rc = BindTexts(1, {text});
    if (rc == SQLITE_OK) rc = sqlite3_bind_int64(m_stmt, 2, value);
    return rc == SQLITE_OK ? RunToEnd() : Fail(rc);
}

int PreparedStatement::Run(long long value, std::initializer_list<std::string_view> texts) {
    if (!m_stmt) return SQLITE_MISUSE;
    int rc = sqlite3_bind_int64(m_stmt, 1, value);
    if (rc == SQLITE_OK) rc = BindTexts(2, texts);
    return rc == SQLITE_OK ? RunToEnd() : Fail(rc);
}

int PreparedStatement::Run(long long value) {
    if (!m_stmt) return SQLITE_MISUSE;
    int rc = sqlite3_bind_int64(m_stmt, 1, value);
    return rc == SQLITE_OK ? RunToEnd() : Fail(rc);
}

int PreparedStatement::Fail(int rc) {
    sqlite3_clear_bindings(m_stmt);
    return rc;
}

std::string_view PreparedStatement::ColumnText(int column) const {
    const unsigned char* t = sqlite3_column_text(m_stmt, column);
    if (!t) return std::string_view();
    return std::string_view(reinterpret_cast<const char*>(t),
                            static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)));
}

}  // namespace zeza
