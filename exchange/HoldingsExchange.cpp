#include "exchange/HoldingsExchange.h"

#include <cstdio>
#include <memory>

#include "db/CFundDb.h"
#include "db/SqliteConnection.h"
#include "exchange/DecimalText.h"
#include "platform/AtomicFile.h"
#include "platform/GbkCodec.h"

namespace zeza {
namespace {

bool IsBlankLine(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

// The value as one field of a line: a line break would end the holding early.
std::string OneLine(std::string value) {
    for (char& c : value)
        if (c == '\r' || c == '\n') c = ' ';
    return value;
}

// The whole file. 1 read, -3 not opened, -4 not read to its end.
int ReadWholeFile(const std::string& path, std::string& bytes) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return -3;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file.get())) > 0) bytes.append(buf, n);
    return std::ferror(file.get()) ? -4 : 1;
}

// Rolls the import back unless it was committed, so it adds all or nothing.
class ImportTransaction {
  public:
    explicit ImportTransaction(SqliteConnection& db) : m_db(db) {}
    ~ImportTransaction() {
        if (m_open) m_db.Exec("ROLLBACK;");
    }
    ImportTransaction(const ImportTransaction&) = delete;
    ImportTransaction& operator=(const ImportTransaction&) = delete;

    // Takes the write lock at once, waiting out a refresh pass's feed up to the
    // busy timeout, so no holding fails half-way for a lock.
    bool Begin() { return m_open = m_db.Exec("BEGIN IMMEDIATE;") == SQLITE_OK; }
    bool Commit() {
        if (m_db.Exec("COMMIT;") != SQLITE_OK) return false;
        m_open = false;
        return true;
    }

  private:
    SqliteConnection& m_db;
    bool m_open = false;
};

// Adds every holding inside the open transaction. False at the first failure.
bool InsertHoldings(sqlite3* db, const std::vector<HoldingLine>& holdings) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES (?,?,?,?);", -1, &raw,
                           nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return false;
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, &sqlite3_finalize);
    for (const HoldingLine& h : holdings) {
        sqlite3_reset(stmt.get());
        if (sqlite3_bind_text(stmt.get(), 1, h.code.data(), static_cast<int>(h.code.size()), SQLITE_STATIC) !=
                SQLITE_OK ||
            sqlite3_bind_double(stmt.get(), 2, h.cost) != SQLITE_OK ||
            sqlite3_bind_double(stmt.get(), 3, h.units) != SQLITE_OK ||
            sqlite3_bind_text(stmt.get(), 4, h.remark.data(), static_cast<int>(h.remark.size()),
                              SQLITE_STATIC) != SQLITE_OK)
            return false;
        if (sqlite3_step(stmt.get()) != SQLITE_DONE) return false;
    }
    return true;
}

}  // namespace

const std::string& HoldingsHeader() {
    static const std::string header = Utf8ToGbk("代码,成本,份数,备注");
    return header;
}

bool ParseHoldingLine(std::string_view line, HoldingLine& out) {
    // The comma is ASCII and never a GBK trail byte; FindGbkChar steps whole
    // characters all the same.
    const size_t c1 = FindGbkChar(line, ',');
    if (c1 == std::string_view::npos) return false;
    const size_t c2 = FindGbkChar(line, ',', c1 + 1);
    if (c2 == std::string_view::npos) return false;
    const size_t c3 = FindGbkChar(line, ',', c2 + 1);
    if (c3 == std::string_view::npos) return false;

    HoldingLine h;
    if (!ParseDecimal(line.substr(c1 + 1, c2 - c1 - 1), h.cost)) return false;
    if (!ParseDecimal(line.substr(c2 + 1, c3 - c2 - 1), h.units)) return false;
    h.code = std::string(line.substr(0, c1));
    h.remark = std::string(line.substr(c3 + 1));
    out = std::move(h);
    return true;
}

HoldingsFileContent ParseHoldingsText(std::string_view text) {
    HoldingsFileContent content;
    bool first = true;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        const size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = next;

        HoldingLine h;
        const bool isHolding = ParseHoldingLine(line, h);
        const bool isHeader = first && !isHolding;
        first = false;
        if (isHolding)
            content.holdings.push_back(std::move(h));
        else if (!isHeader && !IsBlankLine(line))
            ++content.skipped;
    }
    return content;
}

std::string BuildHoldingsText(const std::vector<std::vector<std::string>>& rows) {
    std::string text = HoldingsHeader() + "\r\n";
    for (const auto& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            if (c > 0) text += ',';
            text += OneLine(row[c]);
        }
        text += "\r\n";
    }
    return text;
}

int CFundDb::ExportHoldings(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    {
        SqliteConnection db;
        if (!db.Open()) return -1;
        QueryTable table;
        if (db.Query("SELECT codec,tcost,tcount,remark FROM fu_count;", {}, table) != SQLITE_OK) return -2;
        rows.reserve(static_cast<size_t>(table.rows));
        for (int r = 0; r < table.rows; ++r)
            rows.push_back({table.Str(r, 0), table.Str(r, 1), table.Str(r, 2), table.Str(r, 3)});
    }
    // Written beside the target and renamed over it: a failed write leaves
    // whatever stood at path untouched.
    return WriteFileAtomically(path, BuildHoldingsText(rows)) ? 1 : -3;
}

int CFundDb::ImportHoldings(const std::string& path, int* added, int* skipped) {
    if (added) *added = 0;
    if (skipped) *skipped = 0;
    SqliteConnection db;
    if (!db.Open()) return -1;

    std::string bytes;
    if (const int read = ReadWholeFile(path, bytes); read < 0) return read;
    const HoldingsFileContent content = ParseHoldingsText(bytes);

    ImportTransaction transaction(db);
    if (!transaction.Begin()) return -2;
    if (!InsertHoldings(db.Handle(), content.holdings) || !transaction.Commit()) return -5;

    if (added) *added = static_cast<int>(content.holdings.size());
    if (skipped) *skipped = content.skipped;
    return 1;
}

}  // namespace zeza
