// Checks the embedded template database by writing it out as ./Zeza.db and reading it back.

#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/GbkCodec.h"
#include "resources/TemplateDatabase.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"

namespace {

using namespace zeza::test;
using Strings = std::vector<std::string>;

class TemplateDatabaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto bytes = zeza::TemplateDatabaseBytes();
        m_bytes.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        WriteFileBytes("Zeza.db", m_bytes);
    }

    ScopedTempDir m_dir;
    std::string m_bytes;
};

TEST_F(TemplateDatabaseTest, FileIsFifteenCleanPagesOfOneKilobyte) {
    ASSERT_EQ(m_bytes.size(), 15360u);
    EXPECT_EQ(m_bytes.compare(0, 16, std::string("SQLite format 3\0", 16)), 0);
    EXPECT_EQ(QueryOne("PRAGMA page_size;"), "1024");
    EXPECT_EQ(QueryOne("PRAGMA page_count;"), "15");
    EXPECT_EQ(QueryOne("PRAGMA freelist_count;"), "0");
    EXPECT_EQ(QueryOne("PRAGMA encoding;"), "UTF-8");
    EXPECT_EQ(QueryOne("PRAGMA integrity_check;"), "ok");
}

TEST_F(TemplateDatabaseTest, SchemaIsExactlyTheFourTables) {
    EXPECT_EQ(Rows("SELECT type,name,tbl_name,sql FROM sqlite_master ORDER BY rowid;"),
              (Strings{"table|fu_list|fu_list|CREATE TABLE `fu_list` (`idl` INTEGER PRIMARY KEY,`codel` "
                       "varchar(10),`name` varchar(50),`type` varchar(50),`look` bit DEFAULT 0,`estval` "
                       "float DEFAULT 0)",
                       "table|fu_count|fu_count|CREATE TABLE `fu_count` (`idc` INTEGER PRIMARY KEY,`codec` "
                       "varchar(10),`tcost` float DEFAULT 0,`tcount` float DEFAULT 0,`remark` text)",
                       "table|fu_stk|fu_stk|CREATE TABLE `fu_stk` (`codes` varchar(10),`valreal` "
                       "float,`valtd` float,`valytd` float,`gdate` date)",
                       "table|fu_iniLoc|fu_iniLoc|CREATE TABLE `fu_iniLoc` (`dbVer` long,`updateTime` "
                       "long,`stkTime` long,`estTime` long,`listTime` long,`pwd` varchar(20),`guid` "
                       "varchar(50))"}));
}

TEST_F(TemplateDatabaseTest, SettingsRowIsTheFreshState) {
    EXPECT_EQ(Rows("SELECT dbVer,updateTime,stkTime,estTime,listTime,pwd,guid,typeof(dbVer),typeof(listTime),"
                   "typeof(pwd),typeof(guid) FROM fu_iniLoc;"),
              Strings{"3|0|0|0|1200417988|||integer|integer|text|text"});
    EXPECT_EQ(QueryOne("SELECT count(*) FROM fu_count;"), "0");
    EXPECT_EQ(QueryOne("SELECT count(*) FROM fu_stk;"), "0");
}

TEST_F(TemplateDatabaseTest, CatalogueRowsAreNumberedUnwatchedAndWithoutEstimate) {
    const auto rows =
        Rows("SELECT idl,look,estval=0,typeof(codel),typeof(name),typeof(type) FROM fu_list ORDER BY idl;");
    ASSERT_EQ(rows.size(), 281u);
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i], std::to_string(i + 1) + "|0|1|text|text|text");
}

TEST_F(TemplateDatabaseTest, CodesAreSortedExceptTheTwoLateAdditions) {
    const auto codes = Rows("SELECT codel FROM fu_list ORDER BY idl;");
    ASSERT_EQ(codes.size(), 281u);
    std::set<std::string> seen;
    for (size_t i = 0; i < codes.size(); ++i) {
        EXPECT_EQ(codes[i].size(), 6u) << codes[i];
        EXPECT_EQ(codes[i].find_first_not_of("0123456789"), std::string::npos) << codes[i];
        EXPECT_TRUE(seen.insert(codes[i]).second) << "duplicate " << codes[i];
        EXPECT_TRUE(i == 0 || i >= 279 || codes[i - 1] < codes[i]) << "row " << i + 1;
    }
    EXPECT_EQ(codes[279], "121008");
    EXPECT_EQ(codes[280], "519078");
}

TEST_F(TemplateDatabaseTest, KnownRowsHoldGbkNamesAndTypes) {
    EXPECT_EQ(Rows("SELECT idl,codel,name,type FROM fu_list WHERE idl<=6 OR idl=281 ORDER BY idl;"),
              (Strings{"1|000001|" + G("华夏成长|股票型"), "2|000011|" + G("华夏大盘|股票型"),
                       "3|000021|" + G("华夏优势|股票型"), "4|000041|" + G("华夏全球精选|股票型"),
                       "5|001001|" + G("华夏债券A/B|债券型"), "6|001003|" + G("华夏债券C类|债券型"),
                       "281|519078|" + G("汇添富增强收益基金|债券型")}));
    // Raw bytes, independent of the codec: the file must hold GBK, not UTF-8.
    EXPECT_EQ(QueryOne("SELECT name||'|'||type FROM fu_list WHERE idl=1;"),
              "\xBB\xAA\xCF\xC4\xB3\xC9\xB3\xA4|\xB9\xC9\xC6\xB1\xD0\xCD");
    // Full-width letters and digits survive as their two-byte GBK forms (Ａ A3C1, ５ A3B5, ０ A3B0).
    EXPECT_EQ(QueryOne("SELECT name FROM fu_list WHERE codel='040002';"), "\xBB\xAA\xB0\xB2\xA3\xC1\xB9\xC9");
    EXPECT_EQ(QueryOne("SELECT name FROM fu_list WHERE codel='110003';"), G("易基") + "\xA3\xB5\xA3\xB0");
}

TEST_F(TemplateDatabaseTest, TypeCountsAndNameLengths) {
    EXPECT_EQ(Rows("SELECT type,count(*) FROM fu_list GROUP BY type ORDER BY count(*) DESC;"),
              (Strings{G("股票型") + "|129", G("混合型") + "|98", G("债券型") + "|35", G("指数型") + "|19"}));
    // length() would count characters of a UTF-8 reading; the byte length is what the list shows.
    EXPECT_EQ(QueryOne("SELECT max(length(CAST(name AS BLOB))) FROM fu_list;"), "18");
    EXPECT_EQ(Rows("SELECT codel FROM fu_list WHERE length(CAST(name AS BLOB))>=18;"), Strings{"519078"});
    for (const auto& r : Rows("SELECT codel,name FROM fu_list;")) {
        const std::string name = r.substr(7);
        EXPECT_TRUE(!name.empty() && zeza::IsValidGbk(name)) << r;
    }
}

}  // namespace
