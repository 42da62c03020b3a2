#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "suggest/FindRow.h"
#include "suggest/SuggestMatch.h"
#include "suggest/SuggestionList.h"
#include "tests/TestSupport.h"

using namespace zeza;
using zeza::test::G;
using zeza::test::ScopedTempDir;

namespace {

std::vector<std::string> Matches(const std::vector<std::string>& candidates, const std::string& text) {
    std::vector<std::string> out{"left over from the last keystroke"};
    CollectMatches(candidates, text, out);
    return out;
}

}  // namespace

TEST(SuggestMatch, PrefixIgnoresTheCaseOfLatinLettersOnly) {
    const std::vector<std::string> candidates = {
        "abc100-x", "ABC100-y", "Abd200-z", G("000001-华夏成长"), G("000011-华夏大盘"), "100001-a", "0000",
    };
    EXPECT_EQ(Matches(candidates, "abc"), (std::vector<std::string>{"abc100-x", "ABC100-y"}));
    EXPECT_EQ(Matches(candidates, "ABC1"), (std::vector<std::string>{"abc100-x", "ABC100-y"}));
    EXPECT_EQ(Matches(candidates, "aB"), (std::vector<std::string>{"abc100-x", "ABC100-y", "Abd200-z"}));
    EXPECT_EQ(Matches(candidates, "0000"),
              (std::vector<std::string>{"0000", G("000001-华夏成长"), G("000011-华夏大盘")}));
    EXPECT_EQ(Matches(candidates, G("000001-华夏")), (std::vector<std::string>{G("000001-华夏成长")}));
    // Every entry begins with its code, so a name alone never matches.
    EXPECT_TRUE(Matches(candidates, G("华夏")).empty());
    EXPECT_TRUE(Matches(candidates, "00011").empty());  // inside 000011, not at its start
    EXPECT_TRUE(Matches(candidates, "abc100-xx").empty());
    EXPECT_TRUE(Matches(candidates, "").empty());
    EXPECT_TRUE(Matches({}, "0").empty());
}

TEST(SuggestMatch, TrailBytesOfDoubleByteCharactersAreNotLetters) {
    // 0x81 0x61 and 0x81 0x41 are two different characters whose second bytes
    // happen to be 'a' and 'A'; folding them would make one match the other.
    const std::string lowerTrail = "X\x81\x61";
    const std::string upperTrail = "X\x81\x41";
    EXPECT_EQ(FoldLatinUpper("ab\x81\x61z9-"), "AB\x81\x61Z9-");
    EXPECT_EQ(Matches({lowerTrail, upperTrail}, "x\x81\x41"), (std::vector<std::string>{upperTrail}));
    EXPECT_EQ(Matches({lowerTrail, upperTrail}, "x\x81\x61"), (std::vector<std::string>{lowerTrail}));
    EXPECT_NE(CompareFolded(lowerTrail, upperTrail), 0);
    EXPECT_GT(CompareFolded(lowerTrail, upperTrail), 0);
    // A lone lead byte at the end is just a byte.
    EXPECT_EQ(FoldLatinUpper("a\x81"), "A\x81");
    EXPECT_TRUE(StartsWithFolded("a\x81", "A\x81"));
}

TEST(SuggestMatch, OrderIsByteWiseWithLettersEqualInEitherCase) {
    EXPECT_EQ(CompareFolded("abc", "ABC"), 0);
    EXPECT_LT(CompareFolded("ab", "ABC"), 0);
    EXPECT_GT(CompareFolded("abd", "ABC"), 0);
    EXPECT_LT(CompareFolded("1", "a"), 0);
    EXPECT_LT(CompareFolded("Z", G("华")), 0);
    EXPECT_LT(CompareFolded(G("000001-华夏"), G("000001-南方")), 0);  // 0xBB before 0xC4
    EXPECT_EQ(CompareFolded("", ""), 0);

    const std::vector<std::string> candidates = {
        "0b2", "0A1", G("0南方"), "0a1", "0B1", G("0华夏"), "0", "01", "0A1",
    };
    const std::vector<std::string> sorted = Matches(candidates, "0");
    ASSERT_EQ(sorted.size(), candidates.size());
    // Equal entries keep the order in which they were added; duplicates stay.
    EXPECT_EQ(sorted, (std::vector<std::string>{"0", "01", "0A1", "0a1", "0A1", "0B1", "0b2", G("0华夏"),
                                                G("0南方")}));

    // Long entries that differ only far into the text, in either case or character.
    EXPECT_EQ(
        Matches({"000001-xyzB", G("000001-华夏大盘"), "000001-xyza", G("000001-华夏成长"), "000001-xyz"},
                "000001"),
        (std::vector<std::string>{"000001-xyz", "000001-xyza", "000001-xyzB", G("000001-华夏成长"),
                                  G("000001-华夏大盘")}));
}

TEST(SuggestionList, ReadsTheCatalogueAsCodeHyphenNameOrderedByName) {
    ScopedTempDir dir;
    ASSERT_EQ(CFundDb::WriteTemplateDatabase(), 1);
    // A fund without a name cannot be typed and gives no entry.
    ASSERT_EQ(ExecSql("INSERT INTO fu_list (codel, name, type) VALUES ('999999', NULL, 'x')"), 0);

    std::vector<std::string> list{"kept"};
    ASSERT_EQ(LoadSuggestionList(list), 1);
    ASSERT_EQ(list.size(), 282u);
    EXPECT_EQ(list.front(), "kept");
    std::set<std::string> entries(list.begin() + 1, list.end());
    EXPECT_EQ(entries.count(G("000001-华夏成长")), 1u);
    EXPECT_EQ(entries.count(G("510050-华夏上证50ETF")), 1u);

    std::string previousName;
    for (size_t i = 1; i < list.size(); ++i) {
        const std::string& e = list[i];
        ASSERT_GE(e.size(), 8u) << e;
        EXPECT_EQ(e.find_first_not_of("0123456789"), 6u) << e;
        EXPECT_EQ(e[6], '-') << e;
        const std::string name = e.substr(7);
        EXPECT_GE(name, previousName) << "entry " << i << " out of name order";
        previousName = name;
    }

    // A second load appends the same entries again: replacing is the caller's part.
    std::vector<std::string> again;
    ASSERT_EQ(LoadSuggestionList(again), 1);
    EXPECT_EQ(std::vector<std::string>(list.begin() + 1, list.end()), again);
}

TEST(SuggestionList, FailuresAddNothing) {
    ScopedTempDir dir;
    std::vector<std::string> list{"kept"};

    // No database: nothing read, and no empty file left behind.
    EXPECT_EQ(LoadSuggestionList(list), 0);
    EXPECT_FALSE(std::filesystem::exists("Zeza.db"));

    ASSERT_EQ(CFundDb::WriteTemplateDatabase(), 1);
    ASSERT_EQ(ExecSql("DELETE FROM fu_list"), 0);
    EXPECT_EQ(LoadSuggestionList(list), 0);

    ASSERT_EQ(ExecSql("DROP TABLE fu_list"), 0);
    EXPECT_EQ(LoadSuggestionList(list), 0);

    std::filesystem::remove("Zeza.db");
    zeza::test::WriteFileBytes("Zeza.db",
                               "this is not a database file, just text that is long enough to read");
    EXPECT_EQ(LoadSuggestionList(list), 0);

    EXPECT_EQ(list, std::vector<std::string>{"kept"});
}

namespace {

// A fund list as the view shows it: column 1 the code, column 3 the short name.
class FakeList {
  public:
    explicit FakeList(std::vector<std::pair<std::string, std::string>> rows) : m_rows(std::move(rows)) {}

    int Find(const std::string& text, int start) {
        return FindRow(text, start, static_cast<int>(m_rows.size()), [this](int row, int col) {
            EXPECT_TRUE(col == 1 || col == 3) << "column " << col << " read";
            EXPECT_TRUE(row >= 0 && row < static_cast<int>(m_rows.size())) << "row " << row << " read";
            ++m_reads;
            return col == 1 ? m_rows[row].first : m_rows[row].second;
        });
    }
    int Reads() const { return m_reads; }

  private:
    std::vector<std::pair<std::string, std::string>> m_rows;
    int m_reads = 0;
};

FakeList SampleList() {
    return FakeList({
        {"110003", G("易基50")},        // 0
        {"100110", "ETF 000001"},       // 1
        {"000001", G("华夏成长")},      // 2
        {"001100", G("富国天惠")},      // 3
        {"000021", G("华夏大盘")},      // 4
        {"161005", G("南方高增")},      // 5
        {"519001", G("银华夏季红利")},  // 6
    });
}

}  // namespace

TEST(FindRow, SixDigitsSearchTheCodes) {
    FakeList list = SampleList();
    // A picked suggestion is found by its code, not by the whole text.
    EXPECT_EQ(list.Find(G("000001-华夏成长"), 0), 2);
    EXPECT_EQ(list.Find("000001", 3), 2);
    // Fewer than six characters, all digits: a part of a code, anywhere in it.
    EXPECT_EQ(list.Find("0011", 0), 1);  // 100110
    EXPECT_EQ(list.Find("0011", 2), 3);  // 001100
    EXPECT_EQ(list.Find("0011", 4), 1);  // wraps to the top
    EXPECT_EQ(list.Find("1005", 0), 5);
    EXPECT_EQ(list.Find("999", 0), -1);
    // A name holding the digits is not a code.
    EXPECT_EQ(list.Find("000001", 0), 2);
}

TEST(FindRow, OtherTextSearchesTheNamesAndWraps) {
    FakeList list = SampleList();
    const std::string text = G("华夏");
    // The caller passes the row after the last hit: the hits cycle through all rows.
    std::vector<int> hits;
    int next = 0;
    for (int i = 0; i < 4; ++i) {
        const int row = list.Find(text, next);
        hits.push_back(row);
        next = row + 1;
    }
    EXPECT_EQ(hits, (std::vector<int>{2, 4, 6, 2}));

    // Not six digits: searched as a name, and only in the names.
    EXPECT_EQ(list.Find("A00001", 0), -1);
    EXPECT_EQ(list.Find("ETF 000001", 0), 1);
    EXPECT_EQ(list.Find("00000x", 0), -1);
    // Full-width digits are not the ASCII digits of a code.
    EXPECT_EQ(list.Find(G("０００００１"), 0), -1);
    // Case-sensitive.
    EXPECT_EQ(list.Find("etf", 0), -1);
    // The last byte of 华 and the first of 夏 together are another character:
    // that is no hit inside 华夏.
    EXPECT_EQ(list.Find("\xAA\xCF", 0), -1);
}

TEST(FindRow, StartOutsideTheRowsAndEmptyLists) {
    FakeList list = SampleList();
    EXPECT_EQ(list.Find(G("华夏"), -5), 2);
    EXPECT_EQ(list.Find(G("华夏"), 7), 2);
    EXPECT_EQ(list.Find(G("华夏"), 1000), 2);
    // A miss reads every row exactly once.
    const int before = list.Reads();
    EXPECT_EQ(list.Find(G("嘉实"), 3), -1);
    EXPECT_EQ(list.Reads() - before, 7);

    FakeList empty({});
    EXPECT_EQ(empty.Find("000001", 0), -1);
    EXPECT_EQ(empty.Find(G("华夏"), 0), -1);
    EXPECT_EQ(empty.Reads(), 0);
    // No text is no search.
    EXPECT_EQ(list.Find("", 0), -1);
}
