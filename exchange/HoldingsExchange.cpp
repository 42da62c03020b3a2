#include "exchange/HoldingsExchange.h"

#include "db/CFundDb.h"
#include "db/SqliteConnection.h"
#include "exchange/DecimalText.h"
#include "platform/AtomicFile.h"
#include "platform/GbkCodec.h"
#include "platform/TextLines.h"
#include "platform/WholeFile.h"

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

// Adds every holding inside the open transaction. False at the first failure.
bool InsertHoldings(sqlite3* db, const std::vector<HoldingLine>& holdings) {
    SqlStatement insert(db, "INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES (?,?,?,?);");
    if (!insert) return false;
    for (const HoldingLine& h : holdings)
        if (insert.Run(h.code, h.cost, h.units, h.remark) != SQLITE_OK) return false;
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
    ForEachLine(text, [&](std::string_view line) {
        HoldingLine h;
        const bool isHolding = ParseHoldingLine(line, h);
        const bool isHeader = first && !isHolding;
        first = false;
        if (isHolding)
            content.holdings.push_back(std::move(h));
        else if (!isHeader && !IsBlankLine(line))
            ++content.skipped;
    });
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
    switch (ReadWholeFile(path, bytes)) {
        case WholeFileRead::Read:
            break;
        case WholeFileRead::NotOpened:
            return -3;
        case WholeFileRead::ReadError:
            return -4;
    }
    const HoldingsFileContent content = ParseHoldingsText(bytes);

    // Takes the write lock at once, waiting out a refresh pass's feed up to the
    // busy timeout, so no holding fails half-way for a lock; adds all or nothing.
    SqlTransaction transaction(db.Handle());
    if (transaction.Begin() != SQLITE_OK) return -2;
    if (!InsertHoldings(db.Handle(), content.holdings) || transaction.Commit() != SQLITE_OK) return -5;

    if (added) *added = static_cast<int>(content.holdings.size());
    if (skipped) *skipped = content.skipped;
    return 1;
}

}  // namespace zeza
