#include <gtest/gtest.h>

#include "platform/GbkCodec.h"

using namespace zeza;

TEST(GbkCodec, RoundTripsChineseAndFullWidthText) {
    const std::string utf8 = "华夏成长 华安Ａ股 易基５０";
    std::string gbk = Utf8ToGbk(utf8);
    EXPECT_EQ(Utf8ToGbk("华夏成长"), "\xBB\xAA\xCF\xC4\xB3\xC9\xB3\xA4");
    EXPECT_TRUE(IsValidGbk(gbk));
    EXPECT_EQ(GbkToUtf8(gbk), utf8);
}

TEST(GbkCodec, BadBytesNeverVanishSilently) {
    // A lone lead byte at the end is not GBK: it must show up as a replacement.
    EXPECT_EQ(GbkToUtf8("ab\xB0"), "ab\xEF\xBF\xBD");
    EXPECT_FALSE(IsValidGbk("ab\xB0"));
    // A character GBK cannot hold becomes '?', the rest survives.
    EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80z"), "a?z");
}

TEST(GbkCodec, SeparatorSearchStepsOverTrailBytes) {
    // 0x81 0x7C is one character whose second byte equals '|'.
    const std::string line = std::string("000001|\x81\x7C") + "x|gu";
    EXPECT_EQ(FindGbkChar(line, '|'), 6u);
    EXPECT_EQ(FindGbkChar(line, '|', 7), 10u);
    auto parts = SplitGbk(line, '|');
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[1], std::string("\x81\x7C") + "x");
    EXPECT_EQ(parts[2], "gu");
    // Plain bytes split at every separator, empty fields kept.
    EXPECT_EQ(SplitGbk("a||b|", '|').size(), 4u);
    EXPECT_EQ(FindGbkChar("abc", '|'), std::string_view::npos);
}
