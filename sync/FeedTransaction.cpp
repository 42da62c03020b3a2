#include "sync/FeedTransaction.h"

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

}  // namespace zeza
