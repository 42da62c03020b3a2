#include "sync/FeedTransaction.h"

#include <exception>

#include "platform/WholeFile.h"

namespace zeza {

int ApplyFeedFile(const std::string& path, const FeedFailureCodes& codes,
                  const std::function<bool(SqliteConnection&, const std::string&)>& apply) {
    try {
        // Read before the write lock is taken; a read error counts only after
        // the database and the transaction, as the results are ordered.
        std::string text;
        const WholeFileRead read = ReadWholeFile(path, text);
        if (read == WholeFileRead::NotOpened) return codes.fileNotOpened;
        SqliteConnection db;
        if (!db.Open()) return codes.noDatabase;
        SqlTransaction tx(db.Handle());
        if (tx.Begin() != SQLITE_OK) return codes.notBegun;
        if (read != WholeFileRead::Read || !apply(db, text)) return codes.notApplied;
        return tx.Commit() == SQLITE_OK ? 1 : codes.notApplied;
    } catch (const std::exception&) {
        // Out of memory while reading or splitting: the transaction was rolled back.
        return codes.notApplied;
    }
}

}  // namespace zeza
