#include "tables/ViewLoader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <sys/stat.h>

#include "db/SqliteConnection.h"
#include "sync/MemoryFeeds.h"

namespace zeza {

namespace {

// Result columns a view reads, which of them it shows as text, and which it
// reads as a whole number (the row id, the watch flag).
struct ColumnUse {
    int count = 0;
    std::vector<bool> asText;
    std::vector<bool> asInteger;
};

ColumnUse UseOf(const ViewDefinition& view) {
    ColumnUse use;
    use.count = std::max(1, view.lookColumn + 1);
    for (const CellSource& src : view.cells) use.count = std::max(use.count, src.resultColumn + 1);
    use.asText.assign(static_cast<size_t>(use.count), false);
    for (const CellSource& src : view.cells)
        if (src.rule == CellRule::Text && src.resultColumn >= 0)
            use.asText[static_cast<size_t>(src.resultColumn)] = true;
    use.asInteger.assign(static_cast<size_t>(use.count), false);
    use.asInteger[0] = true;
    if (view.lookColumn >= 0) use.asInteger[static_cast<size_t>(view.lookColumn)] = true;
    return use;
}

long long IntegerOf(const ViewTable& t, const ViewValue& v) {
    if (v.type == SQLITE_INTEGER) return v.i;
    return v.type == SQLITE_NULL || v.type == 0 ? 0 : std::strtoll(t.Text(v), nullptr, 10);
}

// The number a cell shows, read as FillRow always did: a stored real as
// itself, an integer as a double, anything else through its text. False for NULL.
bool NumberOf(const ViewTable& t, const ViewValue& v, double& out) {
    switch (v.type) {
        case SQLITE_FLOAT:
            out = v.d;
            return true;
        case SQLITE_INTEGER:
            out = static_cast<double>(v.i);
            return true;
        case SQLITE_TEXT:
        case SQLITE_BLOB:
            out = ParseNumber(t.Text(v));
            return true;
        default:
            return false;
    }
}

// Stores the current result row of stmt. A value is kept as its type and
// number; as text only where it is text, or shown as text. A column the
// result lacks is stored as missing (type 0); error then holds the
// database's own text for that.
void StoreRow(const ViewDefinition& view, const ColumnUse& use, sqlite3_stmt* stmt, ViewTable& t) {
    const int cols = sqlite3_column_count(stmt);
    for (int c = 0; c < use.count; ++c) {
        ViewValue& v = t.values.emplace_back();
        if (c >= cols) {
            if (t.error.empty()) t.error = sqlite3_errstr(SQLITE_RANGE);
            continue;
        }
        v.type = sqlite3_column_type(stmt, c);
        if (v.type == SQLITE_INTEGER) v.i = sqlite3_column_int64(stmt, c);
        if (v.type == SQLITE_FLOAT) v.d = sqlite3_column_double(stmt, c);
        // The row id and the watch flag are read like atoll reads their text,
        // which a stored integer does not need.
        const bool text = v.type == SQLITE_TEXT || v.type == SQLITE_BLOB ||
                          (v.type != SQLITE_NULL && use.asText[static_cast<size_t>(c)]) ||
                          (v.type == SQLITE_FLOAT && use.asInteger[static_cast<size_t>(c)]);
        if (!text) continue;
        const char* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        const int n = sqlite3_column_bytes(stmt, c);
        v.textBegin = static_cast<std::uint32_t>(t.texts.size());
        v.textSize = static_cast<std::uint32_t>(n);
        if (p) t.texts.append(p, static_cast<size_t>(n));
        t.texts.push_back('\0');
    }
    const int r = static_cast<int>(t.ids.size());
    const ViewValue* row = &t.Value(r, 0);
    t.ids.push_back(row[0].type ? IntegerOf(t, row[0]) : 0);
    std::uint8_t flags = 0;
    // The row's colour: red above 0, green for 0 and below; a NULL chooses none.
    for (const CellSource& src : view.cells) {
        if (src.resultColumn < 0 || !row[src.resultColumn].type) break;  // filling stops here
        if (src.rule != CellRule::SignedChange && src.rule != CellRule::ProfitLoss) continue;
        double v = 0;
        if (!NumberOf(t, row[src.resultColumn], v)) continue;
        flags = static_cast<std::uint8_t>((flags & ~ViewTable::kRises) | ViewTable::kHasTextColor |
                                          (v > 0 ? ViewTable::kRises : 0));
    }
    // A view of watched funds only is all ticked; a NULL flag is no tick.
    if (view.lookColumn < 0 || (row[view.lookColumn].type && IntegerOf(t, row[view.lookColumn]) != 0))
        flags |= ViewTable::kChecked;
    t.flags.push_back(flags);
}

// memfeed(type, code, field): a value of a feed kept in memory, joined to a
// view's rows by the fund's code; NULL when the feed has nothing for it. The
// values are those of the moment the query started.
void MemoryFeedFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    const auto* feeds = static_cast<const MemoryFeedSnapshot*>(sqlite3_user_data(ctx));
    const char* type = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const char* code = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
    if (!type || !code) return sqlite3_result_null(ctx);
    const MemoryValue* v = feeds->Find(type, code, sqlite3_value_int64(argv[2]));
    if (!v) return sqlite3_result_null(ctx);
    if (const double* d = std::get_if<double>(v)) return sqlite3_result_double(ctx, *d);
    if (const std::string* t = std::get_if<std::string>(v))
        return sqlite3_result_text(ctx, t->data(), static_cast<int>(t->size()), SQLITE_TRANSIENT);
    sqlite3_result_null(ctx);
}

// Gives db's view queries the tables of the feeds kept in memory as they stand now.
int RegisterMemoryFeeds(SqliteConnection& db) {
    auto* feeds = new MemoryFeedSnapshot(TakeMemoryFeeds());
    // Replacing the function frees the tables of the previous query.
    return sqlite3_create_function_v2(db.Handle(), "memfeed", 3, SQLITE_UTF8 | SQLITE_DIRECTONLY, feeds,
                                      MemoryFeedFunction, nullptr, nullptr,
                                      [](void* p) { delete static_cast<MemoryFeedSnapshot*>(p); });
}

}  // namespace

int QueryViewTable(SqliteConnection& db, const ViewDefinition& view, const std::string& quoteDate,
                   int sortColumn, bool ascending, ViewTable& t) {
    t = ViewTable{};
    t.view = &view;
    const ColumnUse use = UseOf(view);
    t.columns = use.count;

    std::string sql = view.queryPrefix;
    if (sortColumn >= 0) sql += view.SortClause(sortColumn, ascending);
    if (RegisterMemoryFeeds(db) != SQLITE_OK) {
        t.error = db.ErrorMessage();
        return -2;
    }
    SqlStatement st(db.Handle(), sql);
    int rc = st.PrepareResult();
    if (st) rc = BindParams(st.Handle(), {quoteDate});
    if (rc != SQLITE_OK || !st) {
        t.error = db.ErrorMessage();
        return -2;
    }
    // Rows are kept as they are stepped, without a text table in between.
    const bool complete = st.ColumnCount() >= use.count;
    int r = 0;
    while ((rc = st.Step()) == SQLITE_ROW) {
        // After a row the result cannot fill, the query still has to finish.
        if (complete || r == 0) StoreRow(view, use, st.Handle(), t);
        ++r;
    }
    if (rc != SQLITE_DONE) {
        // The query failed part-way: nothing of it is shown.
        const std::string error = db.ErrorMessage();
        t = ViewTable{};
        t.view = &view;
        t.columns = use.count;
        t.error = error;
        return -2;
    }
    if (!complete && r > 0) return -3;
    return r > 0 ? r - 1 : 0;
}

namespace {

// The view rows the program has read, while the database says nothing changed.
class ViewTableCache {
  public:
    int Load(const ViewDefinition& view, const std::string& quoteDate,
             std::shared_ptr<const ViewTable>& out) {
        std::lock_guard<std::mutex> lock(m_mutex);
        struct stat st {};
        if (::stat(kDatabasePath, &st) != 0) {
            Forget();
            auto t = std::make_shared<ViewTable>();
            t->view = &view;
            t->error = "unable to open database file";
            out = std::move(t);
            return -1;
        }
        // The held connection keeps its file alive, so a replaced file never
        // shows the same device and inode.
        if (!m_db.IsOpen() || st.st_dev != m_dev || st.st_ino != m_ino) {
            Forget();
            // Every use of the connection is under m_mutex: SQLite's own mutex,
            // taken on each of the 200,000 column reads of a view, only costs.
            if (!m_db.Open(kDatabasePath, false, SqliteConnection::Guard::Owner)) {
                auto t = std::make_shared<ViewTable>();
                t->view = &view;
                t->error = "unable to open database file";
                out = std::move(t);
                return -1;
            }
            m_dev = st.st_dev;
            m_ino = st.st_ino;
        }
        // Read before the query: a commit in between only costs a reload.
        const long long version = DataVersion();
        // A feed kept in memory changes what a view shows without a commit.
        const uint64_t memory = MemoryFeedGeneration();
        const bool same = version >= 0 && version == m_version && st.st_size == m_size &&
                          st.st_mtim.tv_sec == m_mtime.tv_sec && st.st_mtim.tv_nsec == m_mtime.tv_nsec &&
                          memory == m_memory;
        if (!same) {
            m_entries.clear();
            m_version = version;
            m_memory = memory;
            m_size = st.st_size;
            m_mtime = st.st_mtim;
        }
        // Only the program's own definitions live as long as the cache.
        const bool cacheable = &view == &GetViewDefinition(view.kind);
        if (cacheable) {
            for (const Entry& e : m_entries) {
                if (e.view == &view && e.date == quoteDate) {
                    out = e.table;
                    return e.result;
                }
            }
        }
        auto t = std::make_shared<ViewTable>();
        const int result = QueryViewTable(m_db, view, quoteDate, -1, true, *t);
        if (cacheable && result >= 0 && version >= 0) {
            std::erase_if(m_entries, [&](const Entry& e) { return e.view == &view; });
            m_entries.push_back({&view, quoteDate, t, result});
        }
        out = std::move(t);
        return result;
    }

  private:
    struct Entry {
        const ViewDefinition* view;
        std::string date;
        std::shared_ptr<const ViewTable> table;
        int result;
    };

    void Forget() {
        m_entries.clear();
        m_db.Close();
        m_version = -1;
    }

    // Changes whenever another connection commits to the file; -1 when unreadable.
    long long DataVersion() {
        SqlStatement st(m_db.Handle(), "PRAGMA data_version");
        if (!st || st.Step() != SQLITE_ROW) return -1;
        return st.ColumnInt(0);
    }

    std::mutex m_mutex;
    SqliteConnection m_db;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    long long m_version = -1;
    uint64_t m_memory = 0;
    off_t m_size = 0;
    timespec m_mtime{};
    std::vector<Entry> m_entries;
};

// SQLite's ORDER BY order of two values: NULL, then numbers, then text, then blobs.
int CompareValues(const ViewTable& t, const ViewValue& a, const ViewValue& b) {
    auto rank = [](int type) {
        switch (type) {
            case SQLITE_INTEGER:
            case SQLITE_FLOAT:
                return 1;
            case SQLITE_TEXT:
                return 2;
            case SQLITE_BLOB:
                return 3;
            default:
                return 0;
        }
    };
    const int ra = rank(a.type), rb = rank(b.type);
    if (ra != rb) return ra < rb ? -1 : 1;
    if (ra == 0) return 0;
    if (ra == 1) {
        if (a.type == SQLITE_INTEGER && b.type == SQLITE_INTEGER) return a.i < b.i ? -1 : a.i > b.i;
        if (a.type == SQLITE_FLOAT && b.type == SQLITE_FLOAT) return a.d < b.d ? -1 : a.d > b.d;
        // An integer against a real, exactly as the database compares them.
        const bool aInt = a.type == SQLITE_INTEGER;
        const long long i = aInt ? a.i : b.i;
        const double r = aInt ? b.d : a.d;
        int c;
        if (r < -9223372036854775808.0) {
            c = 1;
        } else if (r >= 9223372036854775808.0) {
            c = -1;
        } else {
            const long long y = static_cast<long long>(r);
            const double s = static_cast<double>(i);
            c = i < y ? -1 : i > y ? 1 : s < r ? -1 : s > r ? 1 : 0;
        }
        return aInt ? c : -c;
    }
    const int n = std::memcmp(t.Text(a), t.Text(b), std::min(a.textSize, b.textSize));
    if (n != 0) return n < 0 ? -1 : 1;
    return a.textSize < b.textSize ? -1 : a.textSize > b.textSize;
}

}  // namespace

std::string ViewTable::CellText(int row, int column) const {
    if (!view || column < 1 || column > static_cast<int>(view->cells.size())) return std::string();
    const CellSource& src = view->cells[static_cast<size_t>(column - 1)];
    if (src.resultColumn < 0 || src.resultColumn >= columns) return std::string();
    const ViewValue& v = Value(row, src.resultColumn);
    if (src.rule == CellRule::Text) {
        if (v.type == 0 || v.type == SQLITE_NULL) return std::string();
        return std::string(Text(v), v.textSize);
    }
    const bool change = src.rule == CellRule::SignedChange;
    const int decimals = src.rule == CellRule::Fixed4 || change ? 4 : 2;
    // A stored real skips SQLite's slow text conversion but is rounded the way that text is.
    if (v.type == SQLITE_FLOAT) return FormatStoredReal(v.d, decimals, change);
    double d = 0;
    if (!NumberOf(*this, v, d)) return std::string();
    return FormatFixed(d, decimals, change);
}

int LoadViewTable(const ViewDefinition& view, const std::string& quoteDate,
                  std::shared_ptr<const ViewTable>& out) {
    static ViewTableCache cache;
    return cache.Load(view, quoteDate, out);
}

bool SortViewRows(const ViewTable& table, int sortColumn, bool ascending, std::vector<int>& order) {
    if (!table.view || sortColumn < 0 || table.view->IgnoresSortColumn(sortColumn)) return false;
    // " ORDER BY n" counts result columns from 1.
    const int column = sortColumn + table.view->sortOffset - 1;
    if (column < 0 || column >= table.columns) return false;
    order.resize(static_cast<size_t>(table.RowCount()));
    for (int r = 0; r < table.RowCount(); ++r) order[static_cast<size_t>(r)] = r;
    // The database's sorter keeps ties in the order the join produced them, in
    // both directions.
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int c = CompareValues(table, table.Value(a, column), table.Value(b, column));
        return ascending ? c < 0 : c > 0;
    });
    return true;
}

bool SameViewRows(const ViewTable& a, const ViewTable& b) {
    return a.view == b.view && a.columns == b.columns && a.ids == b.ids;
}

void DiffViewTables(const ViewTable& a, const ViewTable& b, std::vector<int>& columns,
                    std::vector<int>& colorRows) {
    columns.clear();
    colorRows.clear();
    auto same = [&](const ViewValue& x, const ViewValue& y) {
        if (x.type != y.type) return false;
        switch (x.type) {
            case SQLITE_INTEGER:
                return x.i == y.i;
            case SQLITE_FLOAT:
                return x.d == y.d;
            case SQLITE_TEXT:
            case SQLITE_BLOB:
                return x.textSize == y.textSize && std::memcmp(a.Text(x), b.Text(y), x.textSize) == 0;
            default:
                return true;
        }
    };
    const int rows = a.RowCount();
    std::vector<bool> changed(static_cast<size_t>(a.columns), false);
    for (int c = 0; c < a.columns; ++c) {
        for (int r = 0; r < rows; ++r) {
            if (!same(a.Value(r, c), b.Value(r, c))) {
                changed[static_cast<size_t>(c)] = true;
                break;
            }
        }
    }
    if (a.view) {
        for (size_t i = 0; i < a.view->cells.size(); ++i) {
            const int source = a.view->cells[i].resultColumn;
            if (source >= 0 && source < a.columns && changed[static_cast<size_t>(source)])
                columns.push_back(static_cast<int>(i) + 1);
        }
    }
    constexpr std::uint8_t kColor = ViewTable::kHasTextColor | ViewTable::kRises;
    for (int r = 0; r < rows; ++r)
        if ((a.flags[static_cast<size_t>(r)] & kColor) != (b.flags[static_cast<size_t>(r)] & kColor))
            colorRows.push_back(r);
}

}  // namespace zeza
