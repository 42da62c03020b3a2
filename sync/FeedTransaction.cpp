#include "sync/FeedTransaction.h"

#include <exception>

#include "sync/FeedFile.h"

namespace zeza {

FeedTransaction::~FeedTransaction() {
    if (m_open) m_db.Exec("ROLLBACK;");
}

bool FeedTransaction::Begin() {
    m_open = m_db.Exec("BEGIN IMMEDIATE;") == SQLITE_OK;
    return m_open;
}

bool FeedTransaction::Commit() {
    if (!m_open) return false;
    // A failed COMMIT leaves the transaction open; the destructor rolls it back.
    if (m_db.Exec("COMMIT;") != SQLITE_OK) return false;
    m_open = false;
    return true;
}

int ApplyFeedFile(const std::string& path, const FeedFailureCodes& codes,
                  const std::function<bool(SqliteConnection&, const std::string&)>& apply) {
    try {
        FeedFile file;
        if (!file.Open(path)) return codes.fileNotOpened;
        SqliteConnection db;
        if (!db.Open()) return codes.noDatabase;
        FeedTransaction tx(db);
        if (!tx.Begin()) return codes.notBegun;
        std::string text;
        if (!file.ReadAll(text) || !apply(db, text)) return codes.notApplied;
        return tx.Commit() ? 1 : codes.notApplied;
    } catch (const std::exception&) {
        // Out of memory while reading or splitting: the transaction was rolled back.
        return codes.notApplied;
    }
}

}  // namespace zeza
