#include <gtest/gtest.h>

#include <climits>

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
    ControlFileIni ini(
        "[N]\na=12abc\nb=abc\nc=-5\nd=+7\ne=\nf= 42 \ng=99999999999\nh=-99999999999\ni=0x1F\nj=2147483647\n"
        "k=-2147483648\nl=1.9\nm=- 3\n");
    EXPECT_EQ(ini.GetInt("N", "a", -1), 12);
    EXPECT_EQ(ini.GetInt("N", "b", -1), 0);
    EXPECT_EQ(ini.GetInt("N", "c", -1), -5);
    EXPECT_EQ(ini.GetInt("N", "d", -1), 7);
    EXPECT_EQ(ini.GetInt("N", "e", -1), -1) << "an empty value reads as the default";
    EXPECT_EQ(ini.GetInt("N", "f", -1), 42);
    EXPECT_EQ(ini.GetInt("N", "g", -1), INT_MAX);
    EXPECT_EQ(ini.GetInt("N", "h", -1), INT_MIN);
    EXPECT_EQ(ini.GetInt("N", "i", -1), 0);
    EXPECT_EQ(ini.GetInt("N", "j", -1), INT_MAX);
    EXPECT_EQ(ini.GetInt("N", "k", -1), INT_MIN);
    EXPECT_EQ(ini.GetInt("N", "l", -1), 1);
    EXPECT_EQ(ini.GetInt("N", "m", -1), 0);
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
