#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "exchange/DecimalText.h"
#include "exchange/HoldingsExchange.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"

using namespace zeza;
using namespace zeza::test;

namespace {

// The header line as it stands on disk.
std::string Header() {
    return G("代码,成本,份数,备注") + "\r\n";
}

int FileCount(const std::filesystem::path& dir) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) n += e.is_regular_file();
    return n;
}

// A fresh folder holding a Zeza.db made from the template.
class HoldingsExchangeTest : public testing::Test {
  protected:
    // Writes text to file and imports it: the counts added and skipped.
    std::pair<int, int> Import(const std::string& file, const std::string& text) {
        WriteFileBytes(file, text);
        int added = -1, skipped = -1;
        EXPECT_EQ(db.ImportHoldings(file, &added, &skipped), 1) << file;
        return {added, skipped};
    }

    ScopedTempDir dir;
    CFundDb db;  // built in dir, so it writes the database there
};

}  // namespace

TEST(DecimalText, AcceptsDecimalNumbersBetweenBlanksOnly) {
    const struct {
        const char* text;
        bool ok;
        double value;
    } cases[] = {
        {"0", true, 0},         {"1000", true, 1000},    {"1000.5", true, 1000.5}, {" 2.5\t", true, 2.5},
        {"-3", true, -3},       {"+4.", true, 4},        {".25", true, 0.25},      {"1e3", true, 1000},
        {"2.5E-1", true, 0.25}, {"1.0e+20", true, 1e20}, {"", false, 0},           {"  ", false, 0},
        {"abc", false, 0},      {"1,5", false, 0},       {"1.2.3", false, 0},      {"1e", false, 0},
        {"e5", false, 0},       {".", false, 0},         {"-", false, 0},          {"inf", false, 0},
        {"nan", false, 0},      {"0x10", false, 0},      {"1e999", false, 0},      {"12 34", false, 0},
        {"１２", false, 0},  // full-width digits
    };
    for (const auto& c : cases) {
        double value = -77;
        EXPECT_EQ(ParseDecimal(c.text, value), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(value, c.ok ? c.value : -77) << '"' << c.text << '"';
    }
}

TEST(DecimalText, FormatsLikePrintf) {
    EXPECT_EQ(FormatDecimal15(0), "0");
    EXPECT_EQ(FormatDecimal15(1000.5), "1000.5");
    EXPECT_EQ(FormatDecimal15(2.5), "2.5");
    EXPECT_EQ(FormatDecimal15(0.1 + 0.2), "0.3");
    EXPECT_EQ(FormatDecimal15(1000.0 / 3), "333.333333333333");
    EXPECT_EQ(FormatDecimal15(1e20), "1e+20");
    EXPECT_EQ(FormatFixed4(1000.12), "1000.1200");
    EXPECT_EQ(FormatFixed4(2.5), "2.5000");
    EXPECT_EQ(FormatFixed4(0.123456), "0.1235");
}

TEST_F(HoldingsExchangeTest, ExportWithoutHoldingsWritesTheHeaderOnly) {
    EXPECT_EQ(db.ExportHoldings("Zeza.TXT"), 1);
    EXPECT_EQ(ReadFileBytes("Zeza.TXT"), Header());
    EXPECT_EQ(FileCount(dir.Path()), 2) << "a temporary file was left behind";
}

TEST_F(HoldingsExchangeTest, ExportWritesGbkLinesWithCrLfAsTheDatabaseGivesThem) {
    AddHolding("000001", 1000, 500, "华夏成长, 定投");
    Exec("INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES ('110003',2000.25,1500.5,NULL);");
    // A line break inside a remark would split the holding in two.
    AddHolding("000011", 0.1, 3, "line\r\nbreak");

    ASSERT_EQ(db.ExportHoldings("out.TXT"), 1);
    const std::string bytes = ReadFileBytes("out.TXT");
    EXPECT_EQ(bytes, Header() + "000001,1000.0,500.0," + G("华夏成长, 定投") + "\r\n" +
                         "110003,2000.25,1500.5,\r\n" + "000011,0.1,3.0,line  break\r\n");
    // GBK on disk: no UTF-8 text and no byte order mark.
    EXPECT_EQ(bytes.find("华夏"), std::string::npos);
    EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");

    // An existing file is replaced as a whole.
    AddHolding("000021", 1, 1, "x");
    ASSERT_EQ(db.ExportHoldings("out.TXT"), 1);
    EXPECT_EQ(ReadFileBytes("out.TXT").substr(0, bytes.size()), bytes);
    EXPECT_EQ(ReadFileBytes("out.TXT").substr(bytes.size()), "000021,1.0,1.0,x\r\n");
}

TEST_F(HoldingsExchangeTest, ExportWritesThroughLinksAndKeepsTheFilesPermissions) {
    namespace fs = std::filesystem;
    AddHolding("000001", 1000, 500, "x");
    const std::string text = Header() + "000001,1000.0,500.0,x\r\n";
    fs::create_directory("real");
    WriteFileBytes("real/mine.TXT", "old\r\n");
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions("real/mine.TXT", mode);
    ASSERT_EQ(db.ExportHoldings("real/mine.TXT"), 1);
    EXPECT_EQ(fs::status("real/mine.TXT").permissions(), mode);

    WriteFileBytes("real/mine.TXT", "old\r\n");
    fs::create_symlink("real/mine.TXT", "link.TXT");  // relative to the link's folder
    ASSERT_EQ(db.ExportHoldings("link.TXT"), 1);
    EXPECT_TRUE(fs::is_symlink("link.TXT"));
    EXPECT_EQ(ReadFileBytes("real/mine.TXT"), text);
    EXPECT_EQ(fs::status("real/mine.TXT").permissions(), mode);
    EXPECT_EQ(FileCount("real"), 1) << "a temporary file was left behind";

    // A link whose target does not exist yet: the target is made, with no
    // more than the user's umask allows.
    fs::create_symlink(dir.Path() / "real" / "new.TXT", "dangling.TXT");
    const mode_t previous = umask(077);
    const int result = db.ExportHoldings("dangling.TXT");
    umask(previous);
    ASSERT_EQ(result, 1);
    EXPECT_TRUE(fs::is_symlink("dangling.TXT"));
    EXPECT_EQ(ReadFileBytes("real/new.TXT"), text);
    EXPECT_EQ(fs::status("real/new.TXT").permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(HoldingsExchangeTest, RoundTripKeepsCommasApostrophesAndLeadingZeros) {
    AddHolding("000001", 1000, 500, "it's a, b, c 备注");
    AddHolding("110003", 2000.25, 1500.5, "'); DELETE FROM fu_count; --");
    AddHolding("000011", 1e-7, 123456789.125, "");
    const std::vector<std::string> before = Holdings(true);

    ASSERT_EQ(db.ExportHoldings("round.TXT"), 1);
    ASSERT_EQ(ExecSql("DELETE FROM fu_count;"), 0);
    int added = -1, skipped = -1;
    ASSERT_EQ(db.ImportHoldings("round.TXT", &added, &skipped), 1);
    EXPECT_EQ(added, 3);
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(Holdings(true), before);
    EXPECT_EQ(before[0], "000001|1000.0|500.0|" + G("it's a, b, c 备注") + "|textrealrealtext");

    // Import appends: the same file again doubles every holding.
    ASSERT_EQ(db.ImportHoldings("round.TXT", &added, &skipped), 1);
    std::vector<std::string> twice = before;
    twice.insert(twice.end(), before.begin(), before.end());
    EXPECT_EQ(Holdings(true), twice);
}

TEST_F(HoldingsExchangeTest, ImportReadsCrLfAndLfLinesAndALastLineWithoutEnd) {
    EXPECT_EQ(Import("mixed.txt", Header() + "000001,1000,500,test\r\n" + "000011,10,4,lf only\n" +
                                      "000021,1,2," + G("最后一行") + ""),
              std::make_pair(3, 0));
    EXPECT_EQ(Holdings(true), (std::vector<std::string>{
                                  "000001|1000.0|500.0|test|textrealrealtext",
                                  "000011|10.0|4.0|lf only|textrealrealtext",
                                  "000021|1.0|2.0|" + G("最后一行") + "|textrealrealtext",
                              }));
}

TEST_F(HoldingsExchangeTest, FileWithoutHeaderKeepsItsFirstHolding) {
    EXPECT_EQ(Import("bare.txt", "000001,1000,500,first\r\n000011,1,1,second\r\n"), std::make_pair(2, 0));
    ASSERT_EQ(Holdings(true).size(), 2u);
    EXPECT_EQ(Holdings(true)[0], "000001|1000.0|500.0|first|textrealrealtext");

    // Any first line that is not a holding is taken for the header, not counted.
    EXPECT_EQ(Import("other-header.txt", "code,cost,units,remark\n000021,1,1,x\n"), std::make_pair(1, 0));
}

TEST_F(HoldingsExchangeTest, LinesThatAreNoHoldingsAreSkippedAndCounted) {
    const std::string text = Header() +
                             "000001,abc,500,cost is no number\r\n"    // skipped
                             "000001,1000,5o0,units is no number\r\n"  // skipped
                             "000001,1000,500\r\n"                     // three fields: skipped
                             "\r\n"                                    // blank: passed over
                             "   \r\n"                                 // blank: passed over
                             "000001,inf,1,x\r\n"                      // skipped
                             "000001, 1e3 ,2.5E-1,ok\r\n"              // blanks and exponents are fine
                             " 000001,1000,500,test\r\n"               // the space stays in the code
                             "000001,1000,500,\r\n"                    // an empty remark is fine
                             "999999,1,1,not in the catalogue\r\n";    // kept all the same
    EXPECT_EQ(Import("mixed.txt", text), std::make_pair(4, 4));
    EXPECT_EQ(Holdings(true), (std::vector<std::string>{
                                  "000001|1000.0|0.25|ok|textrealrealtext",
                                  " 000001|1000.0|500.0|test|textrealrealtext",
                                  "000001|1000.0|500.0||textrealrealtext",
                                  "999999|1.0|1.0|not in the catalogue|textrealrealtext",
                              }));
}

TEST_F(HoldingsExchangeTest, ImportAddsAllOrNothing) {
    AddHolding("000001", 1, 1, "kept");
    // The second holding of the file cannot be stored.
    ASSERT_EQ(ExecSql("CREATE TRIGGER refuse BEFORE INSERT ON fu_count WHEN NEW.remark='boom'"
                      " BEGIN SELECT RAISE(ABORT,'refused'); END;"),
              0);
    WriteFileBytes("in.txt", Header() + "000011,1,1,a\r\n000021,2,2,boom\r\n000031,3,3,c\r\n");
    int added = -1, skipped = -1;
    EXPECT_EQ(db.ImportHoldings("in.txt", &added, &skipped), -5);
    EXPECT_EQ(added, 0);
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(Holdings(true), std::vector<std::string>{"000001|1.0|1.0|kept|textrealrealtext"});

    // The connection ended its transaction: the next write goes through.
    ASSERT_EQ(ExecSql("DROP TRIGGER refuse;"), 0);
    EXPECT_EQ(db.ImportHoldings("in.txt", &added, &skipped), 1);
    EXPECT_EQ(added, 3);
    EXPECT_EQ(Holdings(true).size(), 4u);
}

TEST_F(HoldingsExchangeTest, ImportFailuresChangeNothing) {
    AddHolding("000001", 1, 1, "kept");
    const std::vector<std::string> before = Holdings(true);
    int added = -1, skipped = -1;
    EXPECT_EQ(db.ImportHoldings("missing.txt", &added, &skipped), -3);
    EXPECT_EQ(added, 0);
    std::filesystem::create_directory("folder.txt");
    EXPECT_EQ(db.ImportHoldings("folder.txt"), -4);
    EXPECT_EQ(Holdings(true), before);

    WriteFileBytes("in.txt", Header() + "000011,1,1,a\r\n");
    std::filesystem::rename("Zeza.db", "Zeza.db.away");
    EXPECT_EQ(db.ImportHoldings("in.txt"), -1);
    EXPECT_FALSE(std::filesystem::exists("Zeza.db")) << "a failed import must not leave an empty database";
}

TEST_F(HoldingsExchangeTest, ExportFailuresLeaveTheOldFileAsItWas) {
    AddHolding("000001", 1000, 500, "a remark long enough to pass the size limit below");
    WriteFileBytes("keep.TXT", "old content\r\n");

    // The disk takes no more than 16 bytes per file: the write fails part-way.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit tiny = saved;
    tiny.rlim_cur = 16;
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const int result = db.ExportHoldings("keep.TXT");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, -3);
    EXPECT_EQ(ReadFileBytes("keep.TXT"), "old content\r\n");

    // A target that cannot be replaced (a folder) fails the same way.
    std::filesystem::create_directory("folder.TXT");
    EXPECT_EQ(db.ExportHoldings("folder.TXT"), -3);
    EXPECT_TRUE(std::filesystem::is_directory("folder.TXT"));

    // A database without the holdings table, or none at all.
    ASSERT_EQ(ExecSql("ALTER TABLE fu_count RENAME TO fu_gone;"), 0);
    EXPECT_EQ(db.ExportHoldings("keep.TXT"), -2);
    std::filesystem::rename("Zeza.db", "Zeza.db.away");
    EXPECT_EQ(db.ExportHoldings("keep.TXT"), -1);
    EXPECT_FALSE(std::filesystem::exists("Zeza.db"));

    EXPECT_EQ(ReadFileBytes("keep.TXT"), "old content\r\n");
    // keep.TXT and the database moved aside: no temporary file was left behind.
    EXPECT_EQ(FileCount(dir.Path()), 2);
}
