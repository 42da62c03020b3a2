#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeza::fuzz {

// One row of a table: its rowid and each column as a type letter and the value.
struct DbRow {
    long long rowid = 0;
    std::vector<std::string> cols;
    bool operator==(const DbRow&) const = default;
};

// What the database holds: the text of every schema object and the rows of the four tables.
struct DbSnapshot {
    std::string schema;
    int objects = 0;
    std::map<std::string, std::vector<DbRow>> tables;
};

// The scratch folder a fuzz target works in. It is the current directory for
// the life of the process and holds ./Zeza.db as a user's would look: the
// template with watch flags, estimates, net values and holdings (GBK text,
// apostrophes). The file is put back before every input.
class FuzzWorkspace {
  public:
    // Made on first use; the folder is removed when the process exits.
    static FuzzWorkspace& Get();

    // Puts the stored database back and writes the input to the file name.
    void Prepare(const std::string& file, const uint8_t* data, size_t size);
    // Writes the input only.
    void WriteInput(const std::string& file, const uint8_t* data, size_t size);

    const DbSnapshot& Stored() const { return m_stored; }

    // The database as it is now; aborts when it cannot be read or fails its check.
    DbSnapshot Read() const;

  private:
    FuzzWorkspace();

    std::string m_dir;
    std::string m_bytes;  // the stored database file
    DbSnapshot m_stored;
};

// Prints what went wrong and aborts, so that libFuzzer keeps the input.
[[noreturn]] void Fail(const std::string& what);

// What a writer of the table own left behind, given its result: it must be 1
// (applied) or failed; the schema is still exactly the template's four tables,
// every other table holds what was stored, and own too unless the write was
// applied. Aborts otherwise; returns the database as it is now.
DbSnapshot ExpectOnlyOwnTableWritten(int result, int failed, const std::string& own);
// Puts the stored database back, writes the input to file, runs a feed's apply on it and
// checks it as ExpectOnlyOwnTableWritten does: the database afterwards when applied.
std::optional<DbSnapshot> ApplyFeed(const std::string& file, const uint8_t* data, size_t size,
                                    int (*apply)(const std::string&), int failed, const std::string& own);

// Column index of each table's columns in a DbRow.
inline constexpr int kListIdl = 0, kListCode = 1, kListLook = 4, kListEstval = 5;
inline constexpr int kStkCode = 0, kStkDate = 4;
inline constexpr int kCountCode = 1, kCountCost = 2, kCountUnits = 3, kCountRemark = 4;

// The value of a column without its type letter.
inline std::string_view Value(const std::string& col) {
    return std::string_view(col).substr(1);
}

// A numeric column: an integer or a real, never text.
inline bool IsNumber(const std::string& col) {
    return !col.empty() && (col[0] == 'i' || col[0] == 'r');
}

inline bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

}  // namespace zeza::fuzz
