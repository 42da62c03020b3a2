#pragma once

#include <functional>
#include <string>

#include "db/SqliteConnection.h"

namespace zeza {

// The one transaction of a feed: whatever ends before Commit succeeded is
// rolled back, so a feed is applied whole or not at all.
class FeedTransaction {
  public:
    explicit FeedTransaction(SqliteConnection& db) : m_db(db) {}
    ~FeedTransaction();
    FeedTransaction(const FeedTransaction&) = delete;
    FeedTransaction& operator=(const FeedTransaction&) = delete;

    // Takes the write lock at once (waiting out the other thread's writes up
    // to the busy timeout), so the feed never fails half-way for a lock.
    bool Begin();
    bool Commit();

  private:
    SqliteConnection& m_db;
    bool m_open = false;
};

// The result codes one feed reports for each way it can fail.
struct FeedFailureCodes {
    int fileNotOpened;
    int noDatabase;
    int notBegun;
    int notApplied;  // read error, database error or invalid content; nothing changed
};

// Reads the downloaded file at path and runs apply on its text inside one
// transaction on ./Zeza.db. 1 when applied and committed, else the matching
// failure code (the transaction is rolled back).
int ApplyFeedFile(const std::string& path, const FeedFailureCodes& codes,
                  const std::function<bool(SqliteConnection&, const std::string&)>& apply);

}  // namespace zeza
