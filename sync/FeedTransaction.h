#pragma once

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

}  // namespace zeza
