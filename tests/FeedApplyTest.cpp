#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "sync/AccuracyFeed.h"
#include "sync/IndexFeed.h"
#include "sync/EstimateFeed.h"
#include "sync/FundListFeed.h"
#include "sync/NetValueFeed.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"

using namespace zeza;
using namespace zeza::test;

namespace {

const std::string kByteOrderMark = "\xEF\xBB\xBF";
const char* kCatalogue = "SELECT idl,codel,name,type,look,estval FROM fu_list ORDER BY idl;";
const char* kNetValues = "SELECT codes,valreal,valtd,valytd,gdate,typeof(valtd) FROM fu_stk ORDER BY rowid;";

class FeedApply : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(CFundDb::WriteTemplateDatabase(), 1); }

    int List(const std::string& bytes) {
        WriteFileBytes("list.tmp", bytes);
        return ApplyFundListFile("list.tmp");
    }
    int Stk(const std::string& bytes) {
        WriteFileBytes("stk.tmp", bytes);
        return ApplyNetValueFile("stk.tmp");
    }
    int Est(const std::string& bytes) {
        WriteFileBytes("est.tmp", bytes);
        return ApplyEstimateFile("est.tmp");
    }

    ScopedTempDir m_dir;
};

}  // namespace

// --- fund list ---

TEST_F(FeedApply, FundSentAgainIsReplacedWithANewRowKeepingItsWatchFlag) {
    ASSERT_EQ(ExecSql("UPDATE fu_list SET look=-1, estval=1.5 WHERE codel='000011';"
                      "UPDATE fu_list SET estval=2.5 WHERE codel='000001';"),
              0);
    // A code held twice in the catalogue, the later row watched: one row remains, watched.
    ASSERT_EQ(ExecSql("INSERT INTO fu_list (idl,codel,name,type,look) VALUES (300,'000041','dup','x',-1);"),
              0);
    ASSERT_EQ(List(G("000001|华夏成长|gu\n000011|华夏大盘新|hun\n000041|全球|gu\n")), 1);

    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_list;"), "281");
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_list WHERE idl IN (1,2,4,300);"), "0");
    EXPECT_EQ(Rows("SELECT idl,codel,name,type,look,estval FROM fu_list WHERE idl>281 ORDER BY idl;"),
              (std::vector<std::string>{"301|000001|" + G("华夏成长|股票型") + "|0|0.0",
                                        "302|000011|" + G("华夏大盘新|混合型") + "|-1|0.0",
                                        "303|000041|" + G("全球|股票型") + "|-1|0.0"}));
    // Funds not in the file are untouched.
    EXPECT_EQ(QueryOne("SELECT idl||codel||look FROM fu_list WHERE codel='000021';"), "30000210");
}

TEST_F(FeedApply, FileThatReplacesEveryFundKeepsFlagsAndOrder) {
    ASSERT_EQ(ExecSql("DELETE FROM fu_list WHERE idl>3; UPDATE fu_list SET look=-1, estval=1.5 WHERE idl=2;"),
              0);
    const std::string file = "000021|c-new|gu\n000011|b-new|gu\n700001|d-new|zhi\n000001|a-new|gu\n";
    ASSERT_EQ(List(file), 1);
    EXPECT_EQ(Rows("SELECT idl,codel,name,look,estval FROM fu_list ORDER BY idl;"),
              (std::vector<std::string>{"4|000021|c-new|0|0.0", "5|000011|b-new|-1|0.0",
                                        "6|700001|d-new|0|0.0", "7|000001|a-new|0|0.0"}));
}

TEST_F(FeedApply, TypeCodesAreMappedInTheThirdFieldOnly) {
    ASSERT_EQ(List("000001|gushi|hun\n"
                   "700001|" +
                   G("新债基金") +
                   "|zhai\r\n"
                   "700002|" +
                   G("新指数") +
                   "|zhi\n"
                   "700003|" +
                   G("海外基金") +
                   "|qdii\n"
                   "700004|zhai fund|gu\n"
                   "700005|hunhe|GU"),
              1);
    EXPECT_EQ(Rows("SELECT codel,name,type FROM fu_list WHERE idl>281 ORDER BY idl;"),
              (std::vector<std::string>{"000001|gushi|" + G("混合型"), "700001|" + G("新债基金|债券型"),
                                        "700002|" + G("新指数|指数型"), "700003|" + G("海外基金|qdii"),
                                        "700004|zhai fund|" + G("股票型"), "700005|hunhe|GU"}));
}

TEST_F(FeedApply, MalformedListLinesAreSkippedWholeAndDeleteNothing) {
    auto expected = Rows(kCatalogue);
    ASSERT_EQ(List("000001|abc\n"                                                    // 10 bytes
                   "000011|a|b|c\n"                                                  // four fields
                   "000021|only two fields\n"                                        // two fields
                   "<html><body>Service down | retry later | sorry</body></html>\n"  // no fund code
                   "00004a|letter|gu\n"
                   " 000041|blank|gu\n"
                   "\n\r\n"
                   "700001|valid|gu\n"),
              1);
    expected.push_back("282|700001|valid|" + G("股票型") + "|0|0.0");
    EXPECT_EQ(Rows(kCatalogue), expected);
}

TEST_F(FeedApply, AnswerWithoutASingleValidLineIsNoFeed) {
    ASSERT_EQ(ExecSql("UPDATE fu_list SET estval=0.5 WHERE codel='000041';"), 0);
    const auto before = Rows(kCatalogue);
    const std::string page = "<html><body>Service down | retry later | sorry</body></html>";
    EXPECT_EQ(List(page), -5);
    EXPECT_EQ(List("000001|abc\n000011|a|b|c\n"), -5);
    EXPECT_EQ(Est(page), -7);
    EXPECT_EQ(Est("000001|1.1\n00004a|1.0623\n"), -7);
    EXPECT_EQ(Rows(kCatalogue), before);
    // Empty, or only blanks and line ends: nothing new.
    EXPECT_EQ(List(""), 1);
    EXPECT_EQ(Est(""), 1);
    EXPECT_EQ(List("\r\n \n"), 1);
    EXPECT_EQ(Est("\n"), 1);
    EXPECT_EQ(Rows(kCatalogue), before);
    // A byte order mark does not hide the first fund.
    EXPECT_EQ(List(kByteOrderMark + "700001|bom|gu\n"), 1);
    EXPECT_EQ(Est(kByteOrderMark + "700001|1.5000\n"), 1);
    EXPECT_EQ(QueryOne("SELECT name||','||estval FROM fu_list WHERE codel='700001';"), "bom,1.5");
}

TEST_F(FeedApply, NamesAreStoredExactlyAsSent) {
    const std::string trail =
        "\x81\x7C"
        "abc";  // a GBK character whose second byte is '|'
    const std::string evil = "x'); DELETE FROM fu_list; --";
    ASSERT_EQ(List("000001|O'Neil" + G("成长") +
                   "|gu\n"
                   "000011|" +
                   trail +
                   "|hun\n"
                   "000021|" +
                   evil + "|zhi\n"),
              1);
    EXPECT_EQ(QueryOne("SELECT name FROM fu_list WHERE codel='000001';"), "O'Neil" + G("成长"));
    EXPECT_EQ(QueryOne("SELECT name||'/'||type FROM fu_list WHERE codel='000011';"),
              trail + "/" + G("混合型"));
    EXPECT_EQ(QueryOne("SELECT name FROM fu_list WHERE codel='000021';"), evil);
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_list;"), "281");
}

TEST_F(FeedApply, ListCodeSentTwiceEndsAsItsLastLineInFileOrder) {
    ASSERT_EQ(List("000011|first|gu\n000001|one|gu\n000011|second|zhi\n"), 1);
    EXPECT_EQ(Rows("SELECT idl,codel,name FROM fu_list WHERE codel IN ('000001','000011') ORDER BY idl;"),
              (std::vector<std::string>{"282|000001|one", "283|000011|second"}));
}

TEST_F(FeedApply, ListLineEndingsDoNotMatter) {
    const std::string lf =
        "700001|" + G("甲基金") + "|gu\n700002|" + G("乙基金") + "|zhai\n700003|abcdefg|hun";
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_EQ(List(lf), 1);
    const auto viaLf = Rows(kCatalogue);
    ASSERT_EQ(CFundDb::WriteTemplateDatabase(), 1);
    ASSERT_EQ(List(crlf + "\r\n"), 1);
    EXPECT_EQ(Rows(kCatalogue), viaLf);
    EXPECT_EQ(QueryOne("SELECT name FROM fu_list WHERE codel='700003';"), "abcdefg");
}

TEST_F(FeedApply, FailedFeedChangesNothingAndMakesNoDatabase) {
    // A read error (the path is a folder): nothing applied.
    std::filesystem::create_directory("folder.tmp");
    EXPECT_EQ(ApplyFundListFile("folder.tmp"), -5);

    struct Case {
        int (*apply)(const std::string&);
        const char* table;
        const char* prepare;  // data to keep, and a write refused after some rows went in
        const char* file;
        int missing, refused, noDatabase;
    };
    const Case cases[] = {
        {ApplyFundListFile, kCatalogue,
         "CREATE TRIGGER refuse BEFORE DELETE ON fu_list WHEN OLD.codel='000011'",
         "000001|one|gu\n000011|two|gu\n700001|three|gu\n", -2, -5, -3},
        {ApplyNetValueFile, kNetValues,
         "INSERT INTO fu_stk VALUES ('000021',1.5,1.25,1,'2008-11-13');"
         "CREATE TRIGGER refuse BEFORE INSERT ON fu_stk WHEN NEW.codes='000011'",
         "2008-11-14\n000001|3.1200|1.0560|1.0610\n000011|2.9800|1.2340|1.2300\n", -3, -7, -4},
        {ApplyEstimateFile, kCatalogue,
         "UPDATE fu_list SET estval=0.5 WHERE codel='000041';"
         "CREATE TRIGGER refuse BEFORE UPDATE ON fu_list WHEN NEW.codel='000011'",
         "000001|1.0623\n000011|1.2500\n000041|1.3000\n", -3, -7, -4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(CFundDb::WriteTemplateDatabase(), 1);
        EXPECT_EQ(c.apply("no-such-file"), c.missing);
        ASSERT_TRUE(Exec(std::string(c.prepare) + " BEGIN SELECT RAISE(ABORT,'refused'); END;"));
        const auto before = Rows(c.table);
        WriteFileBytes("feed.tmp", c.file);
        EXPECT_EQ(c.apply("feed.tmp"), c.refused);
        EXPECT_EQ(Rows(c.table), before);

        std::filesystem::remove("Zeza.db");
        EXPECT_EQ(c.apply("feed.tmp"), c.noDatabase);
        EXPECT_FALSE(std::filesystem::exists("Zeza.db")) << "a feed must not create an empty database";
    }
}

TEST_F(FeedApply, FeedWaitsForAShortWriteAndGivesUpOnAHeldLock) {
    SqliteConnection user;
    ASSERT_TRUE(user.Open());
    ASSERT_EQ(user.Exec("BEGIN IMMEDIATE;"), SQLITE_OK);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(user.Exec("COMMIT;"), SQLITE_OK);
    });
    EXPECT_EQ(List("000001|one|gu\n"), 1);
    release.join();

    ASSERT_EQ(user.Exec("BEGIN IMMEDIATE;"), SQLITE_OK);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(List("000011|two|gu\n"), -4);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kBusyTimeoutMs - 100));
    EXPECT_EQ(user.Exec("ROLLBACK;"), SQLITE_OK);
    EXPECT_EQ(QueryOne("SELECT name FROM fu_list WHERE codel='000011';"), G("华夏大盘"));
}

// --- net values ---

TEST_F(FeedApply, NetValueFileReplacesAllRows) {
    ASSERT_EQ(
        ExecSql("INSERT INTO fu_stk VALUES ('000021',1,1,1,'2008-11-13'),('000041',1,1,1,'2008-11-13');"), 0);
    ASSERT_EQ(Stk("2008-11-14\n000001|3.1200|1.0560|1.0610\n000011|2.9800|1.2340|1.2300\n"), 1);
    EXPECT_EQ(Rows(kNetValues), (std::vector<std::string>{"000001|3.12|1.056|1.061|2008-11-14|real",
                                                          "000011|2.98|1.234|1.23|2008-11-14|real"}));
}

TEST_F(FeedApply, MalformedNetValueLinesAreSkippedAndLaterOnesKept) {
    ASSERT_EQ(Stk("2008-1-5\r\n"
                  "000001|1|1\r\n"            // 10 bytes
                  "000011|1|1|1\r\n"          // 12 bytes, inserted
                  "000021|1|2|3|4\r\n"        // five fields
                  "000041|1.5|abc|1.2\r\n"    // not a number
                  "000042|1.5|1.2.3|1.2\r\n"  // not a number
                  "000043|-1.5|+2|0.25\r\n"   // signs are numbers
                  "\r\n"
                  "001001|1.0|1.1|1.2"),  // last line without terminator
              1);
    EXPECT_EQ(Rows("SELECT codes,valreal,valtd,valytd,gdate FROM fu_stk ORDER BY rowid;"),
              (std::vector<std::string>{"000011|1.0|1.0|1.0|2008-1-5", "000043|-1.5|2.0|0.25|2008-1-5",
                                        "001001|1.0|1.1|1.2|2008-1-5"}));
}

TEST_F(FeedApply, LinesFullOfSeparatorsAreSkippedQuickly) {
    std::string many;
    for (int i = 0; i < 500000; ++i) many += "|1";
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Stk("2008-11-14\n000001" + many + "\n000011|1|1|1\n"), 1);
    ASSERT_EQ(List("000001" + many + "\n000011|name|gu\n"), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(QueryOne("SELECT group_concat(codes) FROM fu_stk;"), "000011");
    EXPECT_EQ(QueryOne("SELECT name FROM fu_list WHERE codel='000001';"), G("华夏成长"));
    EXPECT_EQ(QueryOne("SELECT name FROM fu_list WHERE codel='000011';"), "name");
}

TEST_F(FeedApply, QuoteDateIsTheFirstLineAsSentLessBlanks) {
    for (const auto& [first, date] :
         std::vector<std::pair<std::string, std::string>>{{"2008/11/14", "2008/11/14"},
                                                          {"2008-11-14 ", "2008-11-14"},
                                                          {kByteOrderMark + "2008-11-14", "2008-11-14"},
                                                          {"\t20081114\t", "20081114"},
                                                          {G("2008年11月14日"), G("2008年11月14日")}}) {
        SCOPED_TRACE(first);
        ASSERT_EQ(Stk(first + "\r\n000001|3.1200|1.0560|1.0610\r\n"), 1);
        EXPECT_EQ(Rows("SELECT codes,gdate FROM fu_stk;"), (std::vector<std::string>{"000001|" + date}));
    }
}

TEST_F(FeedApply, NetValueLineEndingsDoNotMatter) {
    ASSERT_EQ(Stk("2008-11-14\n000001|3.1200|1.0560|1.0610\n000011|2.9800|1.2340|1.2300"), 1);
    const auto viaLf = Rows(kNetValues);
    ASSERT_EQ(Stk("2008-11-14\r\n000001|3.1200|1.0560|1.0610\r\n000011|2.9800|1.2340|1.2300\r\n"), 1);
    EXPECT_EQ(Rows(kNetValues), viaLf);
    EXPECT_EQ(viaLf.size(), 2u);
}

TEST_F(FeedApply, NetValueFileWithoutDateOrRowsChangesNothing) {
    ASSERT_EQ(ExecSql("INSERT INTO fu_stk VALUES ('000021',1.5,1.25,1,'2008-11-13');"), 0);
    const auto before = Rows(kNetValues);
    for (const std::string& bad :
         {std::string(""), std::string("\n"),
          std::string("<html><body>Service unavailable</body></html>\n"
                      "000001|3.1200|1.0560|1.0610\n"),
          std::string(" \t\r\n000001|3.1200|1.0560|1.0610\n"),
          // The date line missing: the first data line is no date.
          std::string("000001|3.1200|1.0560|1.0610\n000011|2.9800|1.2340|1.2300\n"),
          std::string("2008-11-14\n"), std::string("2008-11-14\n000001|x|y|z\n000011|1|1\n")}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Stk(bad), -7);
        EXPECT_EQ(Rows(kNetValues), before);
    }
}

// --- estimates ---

TEST_F(FeedApply, EstimatesSetOnlyTheNamedFunds) {
    ASSERT_EQ(ExecSql("UPDATE fu_list SET estval=0.5 WHERE codel='000041';"), 0);
    ASSERT_EQ(Est("000001|1.0623\r\n"
                  "000011,1.2500\n"    // the separator byte is not examined
                  "000021|1.1\n"       // 10 bytes
                  "000041|1.0623|x\n"  // not a number
                  "00004a|1.0623\n"    // not a code
                  "999999|9.9999\n"    // not in the catalogue
                  "001001|1.5000\n"
                  "001001|1.7500"),  // a code named twice: the last line counts
              1);
    EXPECT_EQ(Rows("SELECT codel,estval,typeof(estval) FROM fu_list WHERE estval<>0 ORDER BY idl;"),
              (std::vector<std::string>{"000001|1.0623|real", "000011|1.25|real", "000041|0.5|real",
                                        "001001|1.75|real"}));
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_list WHERE codel='999999';"), "0");
}

// The accuracy feed is read into memory: each line a fund's source, error and days, or no line at all.
TEST(AccuracyFeed, ReadsValidLinesAndSkipsTheRest) {
    MemoryTable t;
    ASSERT_EQ(
        ReadAccuracyFeed(kByteOrderMark + G("000001|自算|0.31|20\r\n"
                                            "161725|公开|0.12|20\n"
                                            "000011|自算|0.50|4\r\n"     // too few days: no error
                                            "000021|自算||3\r\n"         // the server's own empty error
                                            "000031|估算|0.20|20\r\n"    // unknown source
                                            "000041|自算|-0.20|20\r\n"   // negative error
                                            "000051|自算|0.2x|20\r\n"    // no number
                                            "000061|自算|0.20|\r\n"      // no days
                                            "000071|自算|0.20|2.5\r\n"   // days not whole
                                            "000081|自算|0.20|-20\r\n"   // days below none
                                            "00008|自算|0.20|20\r\n"     // short code
                                            "000091|自算|0.20|20|x\r\n"  // a field too many
                                            "161725|自算|0.40|19\r\n"),  // named again: the last line wins
                         t),
        1);
    auto row = [&](const char* code) { return t.count(code) ? t.at(code) : std::vector<MemoryValue>{}; };
    EXPECT_EQ(t.size(), 4u);
    EXPECT_EQ(row("000001"), (std::vector<MemoryValue>{G("自算"), 0.31, 20.0}));
    EXPECT_EQ(row("161725"), (std::vector<MemoryValue>{G("自算"), 0.40, 19.0}));
    EXPECT_EQ(row("000011"), (std::vector<MemoryValue>{G("自算"), std::monostate{}, 4.0}));
    EXPECT_EQ(row("000021"), (std::vector<MemoryValue>{G("自算"), std::monostate{}, 3.0}));

    // Nothing but blanks is a server without records; anything else needs a valid line.
    for (const std::string& text : {std::string(""), std::string(" \r\n\r\n")}) {
        t = {{"x", {}}};
        EXPECT_EQ(ReadAccuracyFeed(text, t), 1);
        EXPECT_TRUE(t.empty());
    }
    for (const std::string& text : {std::string("<html>busy</html>"), G("000001|自算|0.31\r\n")})
        EXPECT_EQ(ReadAccuracyFeed(text, t), 0) << text;
}

TEST(IndexFeed, ReadsValidLinesAndSkipsTheRest) {
    MemoryTable t;
    ASSERT_EQ(ReadIndexFeed(kByteOrderMark + G("sh000001|上证指数|3245.67|0.52|2026-12-07 14:30:00\r\n"
                                               "hkHSI|恒生指数|19876.50|-1.25|2026-12-07 14:30:00\n"
                                               "sz399001|深证成指|0|0.10|2026-12-07 14:30:00\r\n"  // no level
                                               "sz399006|创业板指|2100.5x|0.10|t\r\n"  // no number
                                               "SH000300|沪深300|3900.00|0.10|t\r\n"   // no market
                                               "sh000300||3900.00|0.10|t\r\n"          // no name
                                               "sh000905|中证500|5800.00|0.10\r\n"     // a field short
                                               "sh000001|上证指数|3250.00|0.66|2026-12-07 14:32:00\r\n"),
                            t),
              1);
    EXPECT_EQ(t.size(), 2u);
    EXPECT_EQ(t["sh000001"], (std::vector<MemoryValue>{G("上证指数"), 3250.0, 0.66, "2026-12-07 14:32:00"}));
    EXPECT_EQ(t["hkHSI"], (std::vector<MemoryValue>{G("恒生指数"), 19876.5, -1.25, "2026-12-07 14:30:00"}));
    // The relay before its first quote sends nothing; an error page is no feed.
    EXPECT_EQ(ReadIndexFeed("\r\n", t), 1);
    EXPECT_TRUE(t.empty());
    EXPECT_EQ(ReadIndexFeed("<html>502</html>", t), 0);
}
