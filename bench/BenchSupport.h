#pragma once

// What several benchmarks set up alike: a temporary folder to work in, and a
// full-size catalogue in ./Zeza.db.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

#include "db/CFundDb.h"
#include "db/SqliteConnection.h"
#include "platform/GbkCodec.h"

namespace zeza::bench {

// A fresh temporary folder that is the current directory while the object lives, removed afterwards.
class BenchFolder {
  public:
    explicit BenchFolder(const char* stem = "zeza-bench") {
        std::string dir = (std::filesystem::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
        if (!mkdtemp(dir.data())) return;
        m_previous = std::filesystem::current_path();
        m_dir = dir;
        std::filesystem::current_path(m_dir);
    }
    ~BenchFolder() {
        if (m_dir.empty()) return;
        std::error_code ec;
        std::filesystem::current_path(m_previous, ec);
        std::filesystem::remove_all(m_dir, ec);
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    bool Made() const { return !m_dir.empty(); }
    const std::filesystem::path& Path() const { return m_dir; }

  private:
    std::filesystem::path m_dir;
    std::filesystem::path m_previous;
};

// ./Zeza.db from the template with `funds` catalogue funds of four types, each with a net value of
// date and an estimate 1 % above it; one fund in `heldEvery` held, one in `watchedEvery` watched.
inline bool BuildFundDatabase(int funds, const char* date, int heldEvery, int watchedEvery) {
    if (CFundDb::WriteTemplateDatabase() != 1) return false;
    SqliteConnection db;
    if (!db.Open() || db.Exec("BEGIN; DELETE FROM fu_list;") != SQLITE_OK) return false;
    const std::string types[] = {Utf8ToGbk("股票型"), Utf8ToGbk("混合型"), Utf8ToGbk("债券型"),
                                 Utf8ToGbk("指数型")};
    const std::string stem = Utf8ToGbk("华夏增强收益");
    for (int i = 0; i < funds; ++i) {
        char code[16];
        std::snprintf(code, sizeof(code), "%06d", 100000 + i);
        const double valtd = 0.5 + (i % 997) / 331.0;
        const double valytd = valtd + ((i % 7) - 3) / 1000.0;
        if (db.Exec("INSERT INTO fu_list (idl,codel,name,type,look,estval) VALUES (?,?,?,?,?,?)",
                    {static_cast<long long>(i + 1), std::string(code), stem + std::to_string(i), types[i % 4],
                     static_cast<long long>(i % watchedEvery == 0 ? -1 : 0), valtd * 1.01}) != SQLITE_OK ||
            db.Exec("INSERT INTO fu_stk (codes,valreal,valtd,valytd,gdate) VALUES (?,?,?,?,?)",
                    {std::string(code), valtd + 1.0, valtd, valytd, std::string(date)}) != SQLITE_OK)
            return false;
        if (i % heldEvery == 1 &&
            db.Exec("INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES (?,?,?,?)",
                    {std::string(code), 1000.0 + i, 800.0 + i % 300, Utf8ToGbk("定投")}) != SQLITE_OK)
            return false;
    }
    return db.Exec("COMMIT;") == SQLITE_OK;
}

}  // namespace zeza::bench
