// Checks the embedded template database by writing it out and reading it back with SQLite.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/GbkCodec.h"
#include "resources/TemplateDatabase.h"
#include "tests/TestSupport.h"

namespace {

using zeza::test::G;
using Row = std::vector<std::optional<std::string>>;

// Read-only connection on a copy of the template, so no test can change the bytes it checks.
class TemplateDatabaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto bytes = zeza::TemplateDatabaseBytes();
        m_bytes.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        m_path = m_dir.Path() / "template.db";
        zeza::test::WriteFileBytes(m_path, m_bytes);
        ASSERT_EQ(sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    }
    void TearDown() override { sqlite3_close(m_db); }

    std::vector<Row> Query(const std::string& sql) {
        std::vector<Row> rows;
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(m_db, sql.c_str(), -1, &st, nullptr), SQLITE_OK)
            << sql << ": " << sqlite3_errmsg(m_db);
        if (!st) return rows;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            Row row;
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                if (sqlite3_column_type(st, i) == SQLITE_NULL) {
                    row.emplace_back();
                } else {
                    auto* p = reinterpret_cast<const char*>(sqlite3_column_blob(st, i));
                    row.emplace_back(std::string(p ? p : "", sqlite3_column_bytes(st, i)));
                }
            }
            rows.push_back(std::move(row));
        }
        EXPECT_EQ(rc, SQLITE_DONE) << sql << ": " << sqlite3_errmsg(m_db);
        sqlite3_finalize(st);
        return rows;
    }

    // The single value of a one-row, one-column query.
    std::string Value(const std::string& sql) {
        auto rows = Query(sql);
        if (rows.size() != 1 || rows[0].size() != 1 || !rows[0][0]) {
            ADD_FAILURE() << sql << ": expected one non-NULL value";
            return {};
        }
        return *rows[0][0];
    }

    zeza::test::ScopedTempDir m_dir;
    std::filesystem::path m_path;
    std::string m_bytes;
    sqlite3* m_db = nullptr;
};

TEST_F(TemplateDatabaseTest, FileIsFifteenCleanPagesOfOneKilobyte) {
    ASSERT_EQ(m_bytes.size(), 15360u);
    EXPECT_EQ(m_bytes.compare(0, 16, std::string("SQLite format 3\0", 16)), 0);
    EXPECT_EQ(Value("PRAGMA page_size;"), "1024");
    EXPECT_EQ(Value("PRAGMA page_count;"), "15");
    EXPECT_EQ(Value("PRAGMA freelist_count;"), "0");
    EXPECT_EQ(Value("PRAGMA encoding;"), "UTF-8");
    EXPECT_EQ(Value("PRAGMA integrity_check;"), "ok");
}

TEST_F(TemplateDatabaseTest, SchemaIsExactlyTheFourTables) {
    auto rows = Query("SELECT type,name,tbl_name,sql FROM sqlite_master ORDER BY rowid;");
    std::vector<Row> expected = {
        {"table", "fu_list", "fu_list",
         "CREATE TABLE `fu_list` (`idl` INTEGER PRIMARY KEY,`codel` varchar(10),`name` varchar(50),"
         "`type` varchar(50),`look` bit DEFAULT 0,`estval` float DEFAULT 0)"},
        {"table", "fu_count", "fu_count",
         "CREATE TABLE `fu_count` (`idc` INTEGER PRIMARY KEY,`codec` varchar(10),`tcost` float DEFAULT 0,"
         "`tcount` float DEFAULT 0,`remark` text)"},
        {"table", "fu_stk", "fu_stk",
         "CREATE TABLE `fu_stk` (`codes` varchar(10),`valreal` float,`valtd` float,`valytd` float,"
         "`gdate` date)"},
        {"table", "fu_iniLoc", "fu_iniLoc",
         "CREATE TABLE `fu_iniLoc` (`dbVer` long,`updateTime` long,`stkTime` long,`estTime` long,"
         "`listTime` long,`pwd` varchar(20),`guid` varchar(50))"},
    };
    EXPECT_EQ(rows, expected);
}

TEST_F(TemplateDatabaseTest, SettingsRowIsTheFreshState) {
    auto rows = Query(
        "SELECT dbVer,updateTime,stkTime,estTime,listTime,pwd,guid,typeof(dbVer),typeof(listTime),"
        "typeof(pwd),typeof(guid) FROM fu_iniLoc;");
    std::vector<Row> expected = {
        {"3", "0", "0", "0", "1200417988", "", "", "integer", "integer", "text", "text"}};
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(Value("SELECT count(*) FROM fu_count;"), "0");
    EXPECT_EQ(Value("SELECT count(*) FROM fu_stk;"), "0");
}

TEST_F(TemplateDatabaseTest, CatalogueRowsAreNumberedUnwatchedAndWithoutEstimate) {
    auto rows =
        Query("SELECT idl,look,estval,typeof(codel),typeof(name),typeof(type) FROM fu_list ORDER BY idl;");
    ASSERT_EQ(rows.size(), 281u);
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        EXPECT_EQ(rows[i][0], std::to_string(i + 1));
        EXPECT_EQ(rows[i][1], "0");
        EXPECT_EQ(std::stod(rows[i][2].value_or("nan")), 0.0);
        EXPECT_EQ(rows[i][3], "text");
        EXPECT_EQ(rows[i][4], "text");
        EXPECT_EQ(rows[i][5], "text");
    }
}

TEST_F(TemplateDatabaseTest, CodesAreSortedExceptTheTwoLateAdditions) {
    auto rows = Query("SELECT codel FROM fu_list ORDER BY idl;");
    ASSERT_EQ(rows.size(), 281u);
    std::set<std::string> seen;
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string code = rows[i][0].value_or("");
        EXPECT_EQ(code.size(), 6u) << code;
        EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos) << code;
        EXPECT_TRUE(seen.insert(code).second) << "duplicate " << code;
        if (i > 0 && i < 279) {
            EXPECT_LT(*rows[i - 1][0], code) << "row " << i + 1;
        }
    }
    EXPECT_EQ(rows[279][0], "121008");
    EXPECT_EQ(rows[280][0], "519078");
}

TEST_F(TemplateDatabaseTest, KnownRowsHoldGbkNamesAndTypes) {
    auto rows = Query("SELECT idl,codel,name,type FROM fu_list WHERE idl<=6 OR idl=281 ORDER BY idl;");
    std::vector<Row> expected = {
        {"1", "000001", G("华夏成长"), G("股票型")},
        {"2", "000011", G("华夏大盘"), G("股票型")},
        {"3", "000021", G("华夏优势"), G("股票型")},
        {"4", "000041", G("华夏全球精选"), G("股票型")},
        {"5", "001001", G("华夏债券A/B"), G("债券型")},
        {"6", "001003", G("华夏债券C类"), G("债券型")},
        {"281", "519078", G("汇添富增强收益基金"), G("债券型")},
    };
    EXPECT_EQ(rows, expected);
    // Raw bytes, independent of the codec: the file must hold GBK, not UTF-8.
    EXPECT_EQ(Value("SELECT name FROM fu_list WHERE idl=1;"), "\xBB\xAA\xCF\xC4\xB3\xC9\xB3\xA4");
    EXPECT_EQ(Value("SELECT type FROM fu_list WHERE idl=1;"), "\xB9\xC9\xC6\xB1\xD0\xCD");

    // Full-width letters and digits survive as their two-byte GBK forms (Ａ A3C1, ５ A3B5, ０ A3B0).
    EXPECT_EQ(Value("SELECT name FROM fu_list WHERE codel='040002';"), G("华安Ａ股"));
    EXPECT_NE(Value("SELECT name FROM fu_list WHERE codel='040002';").find("\xA3\xC1"), std::string::npos);
    EXPECT_EQ(Value("SELECT name FROM fu_list WHERE codel='110003';"), G("易基５０"));
    EXPECT_NE(Value("SELECT name FROM fu_list WHERE codel='110003';").find("\xA3\xB5\xA3\xB0"),
              std::string::npos);
}

TEST_F(TemplateDatabaseTest, TypeCountsAndNameLengths) {
    std::map<std::string, std::string> counts;
    for (const auto& r : Query("SELECT type,count(*) FROM fu_list GROUP BY type;")) counts[*r[0]] = *r[1];
    std::map<std::string, std::string> expected = {
        {G("股票型"), "129"}, {G("混合型"), "98"}, {G("债券型"), "35"}, {G("指数型"), "19"}};
    EXPECT_EQ(counts, expected);

    // length() would count characters of a UTF-8 reading; the byte length is what the list shows.
    EXPECT_EQ(Value("SELECT max(length(CAST(name AS BLOB))) FROM fu_list;"), "18");
    auto longest = Query("SELECT codel FROM fu_list WHERE length(CAST(name AS BLOB))>=18;");
    EXPECT_EQ(longest, std::vector<Row>{{"519078"}});

    for (const auto& r : Query("SELECT codel,name FROM fu_list;")) {
        EXPECT_FALSE(r[1]->empty()) << *r[0];
        EXPECT_TRUE(zeza::IsValidGbk(*r[1])) << *r[0];
    }
}

}  // namespace
