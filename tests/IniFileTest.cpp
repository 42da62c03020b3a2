#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>

#include "platform/ControlFileIni.h"
#include "server/DataFolderIni.h"
#include "tests/TestSupport.h"

using zeza::ControlFileIni;

TEST(ControlFileIni, NamesMatchWithoutCaseAndBlanksAreTrimmed) {
    ControlFileIni ini(
        "[fu]\r\n  ListTime = 1200417988 \r\nSTKTIME=5\r\n\r\n[ Ver ]\r\nupdatepath = http://h/a b.exe  "
        "\r\n");
    EXPECT_TRUE(ini.HasSection("FU"));
    EXPECT_TRUE(ini.HasSection("VER"));
    EXPECT_FALSE(ini.HasSection("F"));
    EXPECT_EQ(ini.GetInt("FU", "listTime", -1), 1200417988);
    EXPECT_EQ(ini.GetInt("Fu", "stktime", -1), 5);
    // Blanks inside a value stay.
    EXPECT_EQ(ini.GetString("VER", "UpdatePath", "", 260), "http://h/a b.exe");
}

TEST(ControlFileIni, IntegersAreReadFromTheirLeadingNumber) {
    // An empty value reads as the default (-1).
    const std::pair<const char*, int> values[] = {{"12abc", 12},
                                                  {"abc", 0},
                                                  {"-5", -5},
                                                  {"+7", 7},
                                                  {"", -1},
                                                  {" 42 ", 42},
                                                  {"99999999999", INT_MAX},
                                                  {"-99999999999", INT_MIN},
                                                  {"0x1F", 0},
                                                  {"2147483647", INT_MAX},
                                                  {"-2147483648", INT_MIN},
                                                  {"1.9", 1},
                                                  {"- 3", 0}};
    for (const auto& [text, value] : values)
        EXPECT_EQ(ControlFileIni(std::string("[N]\nk=") + text + "\n").GetInt("N", "k", -1), value) << text;
}

TEST(ControlFileIni, MissingKeysAndSectionsGiveTheDefault) {
    ControlFileIni ini("[FU]\nlistTime=1\n[VER]\n");
    EXPECT_EQ(ini.GetInt("FU", "stkTime", 77), 77);
    EXPECT_EQ(ini.GetInt("NONE", "listTime", 78), 78);
    EXPECT_EQ(ini.GetString("VER", "UpdatePath", "dflt", 260), "dflt");
    EXPECT_EQ(ini.GetString("VER", "UpdatePath", "", 260), "");
    // A key of another section is not found.
    EXPECT_EQ(ini.GetInt("VER", "listTime", 0), 0);
}

TEST(ControlFileIni, FirstSectionAndFirstKeyWin) {
    ControlFileIni ini("[FU]\nlistTime=1\nlisttime=2\n[VER]\nLastVer=13\n[fu]\nlistTime=3\nstkTime=4\n");
    EXPECT_EQ(ini.GetInt("FU", "listTime", 0), 1);
    // Only the first [FU] block is searched, as the platform's profile reader does.
    EXPECT_EQ(ini.GetInt("FU", "stkTime", -1), -1);
    EXPECT_EQ(ini.GetInt("VER", "LastVer", 0), 13);
}

TEST(ControlFileIni, OtherLinesAreIgnored) {
    ControlFileIni ini(
        "\xEF\xBB\xBF[FU]\n"
        "orphan line\n"
        "; listTime=9\n"
        "[broken\n"
        "estTime=6\n"
        "url=http://h/x?a=1&b=2\n"
        "=novalue\n");
    EXPECT_TRUE(ini.HasSection("FU")) << "a byte order mark does not hide the first header";
    EXPECT_FALSE(ini.HasSection("broken"));
    // "[broken" is no header, so estTime still belongs to FU.
    EXPECT_EQ(ini.GetInt("FU", "estTime", 0), 6);
    EXPECT_EQ(ini.GetInt("FU", "listTime", -1), -1);
    // Only the first "=" separates key and value.
    EXPECT_EQ(ini.GetString("FU", "url", "", 260), "http://h/x?a=1&b=2");

    ControlFileIni noSection("listTime=5\n");
    EXPECT_EQ(noSection.GetInt("", "listTime", 0), 0);
    EXPECT_FALSE(noSection.HasSection(""));
}

TEST(ControlFileIni, OnePairOfQuotesAroundAValueIsDropped) {
    const char* text =
        "[FU]\nstkTime=\"1300000100\"\nestTime = '5' \nlistTime=\"7\n[VER]\n"
        "UpdatePath=\" http://h/Zeza-13 \"\nA=\"\"\"\"\nB=\"x'\nC=\"\nD=a\"b\"\n";
    ControlFileIni ini(text);
    EXPECT_EQ(ini.GetInt("FU", "stkTime", -1), 1300000100);
    EXPECT_EQ(ini.GetInt("FU", "estTime", -1), 5);
    EXPECT_EQ(ini.GetInt("FU", "listTime", -1), 0) << "an unmatched quote stays";
    EXPECT_EQ(ini.GetString("VER", "UpdatePath", "", 260), " http://h/Zeza-13 ");
    EXPECT_EQ(ini.GetString("VER", "A", "", 260), "\"\"");
    EXPECT_EQ(ini.GetString("VER", "B", "", 260), "\"x'");
    EXPECT_EQ(ini.GetString("VER", "C", "", 260), "\"");
    EXPECT_EQ(ini.GetString("VER", "D", "", 260), "a\"b\"");

    // The data server reads the operator's INI files the same way.
    const auto server = zeza::server::DataFolderIni::Parse(text);
    EXPECT_EQ(server.GetInt("FU", "stkTime"), 1300000100);
    EXPECT_EQ(server.Get("VER", "UpdatePath"), " http://h/Zeza-13 ");
    EXPECT_EQ(server.Get("FU", "listTime"), "\"7");
}

TEST(ControlFileIni, StringsAreCutToTheBuffer) {
    ControlFileIni ini("[V]\ns=abcdef\n");
    EXPECT_EQ(ini.GetString("V", "s", "", 4), "abc");
    EXPECT_EQ(ini.GetString("V", "s", "", 7), "abcdef");
    EXPECT_EQ(ini.GetString("V", "s", "", 1), "");
    EXPECT_EQ(ini.GetString("V", "s", "", 0), "");
    EXPECT_EQ(ini.GetString("V", "missing", "xyz", 3), "xy");
}

TEST(ControlFileIni, LoadReadsAFileAndFailsOnAMissingOne) {
    zeza::test::ScopedTempDir dir;
    zeza::test::WriteFileBytes("c.ini", "[FU]\r\nlistTime=3\r\n");
    ControlFileIni ini("[OLD]\n");
    ASSERT_TRUE(ini.Load("c.ini"));
    EXPECT_EQ(ini.GetInt("FU", "listTime", 0), 3);
    EXPECT_FALSE(ini.HasSection("OLD"));
    EXPECT_FALSE(ini.Load("missing.ini"));
    EXPECT_FALSE(ini.HasSection("FU"));
}
