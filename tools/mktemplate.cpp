// mktemplate: builds the template database that Zeza writes out as Zeza.db on first start.
//
//   mktemplate <schema.sql> <fu_list.txt> <output.db>
//
// schema.sql holds the CREATE statements and the settings row; fu_list.txt holds the fund
// catalogue as UTF-8 lines "code|name|type". Texts are stored as GBK bytes, as the program
// keeps them. The output is written to a temporary name and renamed only when it is complete
// and exactly kTemplateSize bytes, so a half-made or oversized template never gets embedded.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <iconv.h>
#include <sqlite3.h>

namespace {

// The program writes the template as it is; its size is part of the file's identity.
constexpr std::uintmax_t kTemplateSize = 15360;
constexpr int kPageSize = 1024;

const char* const kFundTypes[] = {"股票型", "混合型", "债券型", "指数型"};

struct FundRow {
    std::string code;
    std::string name;  // GBK
    std::string type;  // GBK
};

std::string ReadText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + p.string());
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// UTF-8 to GBK; a character GBK cannot hold is an error, never a silent '?'.
std::string Utf8ToGbkStrict(const std::string& utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv cannot convert UTF-8 to GBK");
    std::string out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    int err = errno;
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0 || rc != 0) {
        throw std::runtime_error(
            "text not representable in GBK: \"" + utf8 + "\"" +
            (rc == static_cast<size_t>(-1) ? std::string(" (") + strerror(err) + ")" : ""));
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::vector<FundRow> ReadFundList(const std::filesystem::path& p) {
    std::string text = ReadText(p);
    std::vector<FundRow> rows;
    std::set<std::string> codes;
    std::istringstream lines(text);
    std::string line;
    int lineNo = 0;
    while (std::getline(lines, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        auto fail = [&](const std::string& why) {
            throw std::runtime_error(p.string() + ":" + std::to_string(lineNo) + ": " + why);
        };
        size_t a = line.find('|');
        size_t b = a == std::string::npos ? a : line.find('|', a + 1);
        if (b == std::string::npos || line.find('|', b + 1) != std::string::npos)
            fail("expected code|name|type");
        FundRow row;
        row.code = line.substr(0, a);
        std::string name = line.substr(a + 1, b - a - 1);
        std::string type = line.substr(b + 1);
        if (row.code.size() != 6 || row.code.find_first_not_of("0123456789") != std::string::npos)
            fail("fund code must be six digits");
        if (!codes.insert(row.code).second) fail("duplicate fund code " + row.code);
        if (name.empty()) fail("empty fund name");
        bool knownType = false;
        for (const char* t : kFundTypes) knownType = knownType || type == t;
        if (!knownType) fail("unknown fund type \"" + type + "\"");
        try {
            row.name = Utf8ToGbkStrict(name);
            row.type = Utf8ToGbkStrict(type);
        } catch (const std::exception& e) {
            fail(e.what());
        }
        rows.push_back(std::move(row));
    }
    if (rows.empty()) throw std::runtime_error(p.string() + ": no funds");
    return rows;
}

class Database {
  public:
    explicit Database(const std::filesystem::path& p) {
        if (sqlite3_open_v2(p.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
            SQLITE_OK)
            throw std::runtime_error("cannot create " + p.string() + ": " + sqlite3_errmsg(m_db));
    }
    ~Database() { sqlite3_close(m_db); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void Exec(const std::string& sql) {
        char* err = nullptr;
        if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            std::string msg = err ? err : sqlite3_errmsg(m_db);
            sqlite3_free(err);
            throw std::runtime_error("SQL failed: " + msg);
        }
    }

    // Rows get idl 1..n in file order; look and estval take their column defaults.
    void InsertFunds(const std::vector<FundRow>& rows) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(m_db, "INSERT INTO fu_list (idl,codel,name,type) VALUES (?,?,?,?);", -1, &st,
                               nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("prepare failed: ") + sqlite3_errmsg(m_db));
        int idl = 0;
        for (const FundRow& r : rows) {
            sqlite3_bind_int(st, 1, ++idl);
            sqlite3_bind_text(st, 2, r.code.data(), static_cast<int>(r.code.size()), SQLITE_STATIC);
            sqlite3_bind_text(st, 3, r.name.data(), static_cast<int>(r.name.size()), SQLITE_STATIC);
            sqlite3_bind_text(st, 4, r.type.data(), static_cast<int>(r.type.size()), SQLITE_STATIC);
            if (sqlite3_step(st) != SQLITE_DONE) {
                std::string msg = sqlite3_errmsg(m_db);
                sqlite3_finalize(st);
                throw std::runtime_error("insert of " + r.code + " failed: " + msg);
            }
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
    }

    void Close() {
        if (sqlite3_close(m_db) != SQLITE_OK)
            throw std::runtime_error("close failed: " + std::string(sqlite3_errmsg(m_db)));
        m_db = nullptr;
    }

  private:
    sqlite3* m_db = nullptr;
};

void Build(const std::filesystem::path& schemaPath, const std::filesystem::path& listPath,
           const std::filesystem::path& outPath) {
    std::string schema = ReadText(schemaPath);
    std::vector<FundRow> funds = ReadFundList(listPath);

    std::filesystem::path tmpPath = outPath;
    tmpPath += ".tmp";
    std::filesystem::remove(tmpPath);
    try {
        Database db(tmpPath);
        db.Exec("PRAGMA page_size=" + std::to_string(kPageSize) + ";");
        db.Exec("PRAGMA encoding='UTF-8';");
        db.Exec("BEGIN;");
        db.Exec(schema);
        db.InsertFunds(funds);
        db.Exec("COMMIT;");
        // Packs the pages and leaves no free pages, so the size depends only on the content.
        db.Exec("VACUUM;");
        db.Close();
    } catch (...) {
        std::filesystem::remove(tmpPath);
        throw;
    }

    std::uintmax_t size = std::filesystem::file_size(tmpPath);
    if (size != kTemplateSize) {
        std::filesystem::remove(tmpPath);
        throw std::runtime_error("template database is " + std::to_string(size) + " bytes (" +
                                 std::to_string(size / kPageSize) + " pages), expected " +
                                 std::to_string(kTemplateSize) + "; adjust " + listPath.string());
    }
    std::filesystem::rename(tmpPath, outPath);
    std::printf("mktemplate: %s, %zu funds, %ju bytes\n", outPath.c_str(), funds.size(), size);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <schema.sql> <fu_list.txt> <output.db>\n", argv[0]);
        return 2;
    }
    try {
        Build(argv[1], argv[2], argv[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mktemplate: error: %s\n", e.what());
        return 1;
    }
    return 0;
}
