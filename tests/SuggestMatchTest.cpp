#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "suggest/FindRow.h"
#include "suggest/PinyinInitials.h"
#include "suggest/SuggestMatch.h"
#include "suggest/SuggestionList.h"
#include "tests/TestSupport.h"

using namespace zeza;
using namespace zeza::test;

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

namespace {

std::vector<std::string> Gbk(const std::vector<std::string>& utf8) {
    std::vector<std::string> out;
    for (const std::string& s : utf8) out.push_back(G(s));
    return out;
}

// The search field's matching, with the initials the refresh pass computes.
std::vector<std::string> NameMatches(const std::vector<std::string>& candidates, const std::string& text) {
    PinyinInitials initials;
    std::vector<std::string> out{"left over from the last keystroke"};
    CollectNameMatches(candidates, initials.OfEntries(candidates), text, out);
    return out;
}

}  // namespace

TEST(PinyinInitials, ChineseGivesSyllableInitialsLatinAndDigitsStandForThemselves) {
    PinyinInitials p;
    EXPECT_EQ(p.Of(G("华夏成长")), "HXCZ");
    EXPECT_EQ(p.Of(G("华夏上证50ETF")), "HXSZ50ETF");
    EXPECT_EQ(p.Of(G("易方达abc联接C")), "YFDABCLJC");
    // Full-width letters and digits are the letters and digits.
    EXPECT_EQ(p.Of(G("华夏ＡＢＣ１２ｅｔｆ")), "HXABC12ETF");
    // Punctuation, spaces and other scripts give nothing.
    EXPECT_EQ(p.Of(G("南方（LOF）· Aα-")), "NFLOFA");
    // Syllables that begin with a toned vowel: the plain letter.
    EXPECT_EQ(p.Of(G("中欧安信鄂")), "ZOAXE");
    // A lone lead byte at the end is no character.
    EXPECT_EQ(p.Of("a\x81"), "A");
    EXPECT_EQ(p.Of(""), "");
}

TEST(PinyinInitials, EntriesGiveTheInitialsOfTheirNamesOnceUntilTheyChange) {
    PinyinInitials p;
    std::vector<std::string> entries =
        Gbk({"000001-华夏成长", "110003-易基50", "no hyphen", "510050-", "519001-A-B"});
    const std::vector<std::string>* first = &p.OfEntries(entries);
    EXPECT_EQ(*first, (std::vector<std::string>{"HXCZ", "YJ50", "", "", "AB"}));
    EXPECT_EQ(&p.OfEntries(entries), first);
    entries[1] = G("110003-南方");
    EXPECT_EQ(p.OfEntries(entries), (std::vector<std::string>{"HXCZ", "NF", "", "", "AB"}));
    EXPECT_TRUE(p.OfEntries({}).empty());

    EXPECT_EQ(TypedInitials("hxCZ"), "HXCZ");
    EXPECT_EQ(TypedInitials(G("ｈｓ３００")), "HS300");
    EXPECT_EQ(TypedInitials("300"), "");  // digits alone are a code
    EXPECT_EQ(TypedInitials("h x"), "");
    EXPECT_EQ(TypedInitials(G("h华")), "");
    EXPECT_EQ(TypedInitials(""), "");
}

TEST(SuggestNameMatch, CodesFirstThenNameInitialsNameInsideInitialsInside) {
    // Added out of code order: each group comes sorted by code.
    const std::vector<std::string> candidates = Gbk({
        "300001-南方",      // no match
        "000000-银华夏季",  // initials YHXJ contain HX
        "200001-基金hx",    // name contains hx (its initials JJHX too, but the name comes first)
        "000011-华夏大盘",  // initials HXDP begin with HX
        "000001-华夏成长",  // initials HXCZ begin with HX
        "500001-HX精选",    // name begins with HX (so do its initials)
        "hx0001-abc",       // the entry itself begins with hx
    });
    const std::vector<std::string> expected = Gbk({
        "hx0001-abc",
        "500001-HX精选",
        "000001-华夏成长",
        "000011-华夏大盘",
        "200001-基金hx",
        "000000-银华夏季",
    });
    EXPECT_EQ(NameMatches(candidates, "hx"), expected);
    EXPECT_EQ(NameMatches(candidates, "HX"), expected);
    // Full-width letters are typed initials, not Latin letters of a name.
    EXPECT_EQ(NameMatches(candidates, G("ｈｘ")), Gbk({"000001-华夏成长", "000011-华夏大盘", "500001-HX精选",
                                                       "000000-银华夏季", "200001-基金hx"}));
    EXPECT_EQ(NameMatches(candidates, "hxcz"), Gbk({"000001-华夏成长"}));
    EXPECT_EQ(NameMatches(candidates, "xj"), Gbk({"000000-银华夏季", "500001-HX精选"}));

    // Chinese text: names only, those that begin with it before those that contain it.
    EXPECT_EQ(NameMatches(candidates, G("华夏")),
              Gbk({"000001-华夏成长", "000011-华夏大盘", "000000-银华夏季"}));
    EXPECT_EQ(NameMatches(candidates, G("夏")),
              Gbk({"000000-银华夏季", "000001-华夏成长", "000011-华夏大盘"}));
    // The last byte of 华 and the first of 夏 together are another character: no hit.
    EXPECT_TRUE(NameMatches(candidates, "\xAA\xCF").empty());
    EXPECT_TRUE(NameMatches(candidates, "zz").empty());
    EXPECT_TRUE(NameMatches(candidates, "").empty());
}

TEST(SuggestNameMatch, TodaysCodeMatchesStayFirstAndInTheirOrder) {
    const std::vector<std::string> candidates = Gbk({
        "510050-华夏上证50ETF",
        "000021-华夏优势",
        "000001-华夏成长",
        "160706-嘉实沪深300",
        "001050-测试",
        "ABC001-x",
        "abc002-y",
        "050001-博时价值",
    });
    for (const char* text : {"0", "00", "05", "5", "abc", "ABC00"}) {
        std::vector<std::string> today;
        CollectMatches(candidates, text, today);
        const std::vector<std::string> now = NameMatches(candidates, text);
        ASSERT_GE(now.size(), today.size()) << text;
        EXPECT_EQ(std::vector<std::string>(now.begin(), now.begin() + today.size()), today) << text;
    }
    // After the codes come the names that hold the digits.
    EXPECT_EQ(NameMatches(candidates, "50"), Gbk({"510050-华夏上证50ETF"}));
    EXPECT_EQ(NameMatches(candidates, "0"),
              Gbk({"000001-华夏成长", "000021-华夏优势", "001050-测试", "050001-博时价值",
                   "160706-嘉实沪深300", "510050-华夏上证50ETF"}));
    // Letters and digits together are initials too.
    EXPECT_EQ(NameMatches(candidates, "hs300"), Gbk({"160706-嘉实沪深300"}));
    EXPECT_EQ(NameMatches(candidates, "etf"), Gbk({"510050-华夏上证50ETF"}));
    // Entries without initials (or fewer initials than entries) are matched by code and name alone.
    std::vector<std::string> out;
    CollectNameMatches(candidates, {}, "hxcz", out);
    EXPECT_TRUE(out.empty());
    CollectNameMatches(candidates, {}, G("成长"), out);
    EXPECT_EQ(out, Gbk({"000001-华夏成长"}));
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

const std::vector<std::pair<std::string, std::string>>& SampleRows() {
    static const std::vector<std::pair<std::string, std::string>> rows = {
        {"110003", G("易基50")},        // 0
        {"100110", "ETF 000001"},       // 1
        {"000001", G("华夏成长")},      // 2
        {"001100", G("富国天惠")},      // 3
        {"000021", G("华夏大盘")},      // 4
        {"161005", G("南方高增")},      // 5
        {"519001", G("银华夏季红利")},  // 6
    };
    return rows;
}
FakeList SampleList() {
    return FakeList(SampleRows());
}

// The first four hits of text when each search starts at the row after the last hit.
std::vector<int> FourHits(const std::function<int(const std::string&, int)>& find, const std::string& text) {
    std::vector<int> hits;
    for (int next = 0; hits.size() < 4; next = hits.back() + 1) hits.push_back(find(text, next));
    return hits;
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
    // The caller passes the row after the last hit: the hits cycle through all rows.
    EXPECT_EQ(FourHits([&](const std::string& t, int start) { return list.Find(t, start); }, G("华夏")),
              (std::vector<int>{2, 4, 6, 2}));

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

TEST(FindRow, LatinLettersAlsoSearchTheInitials) {
    const auto& rows = SampleRows();
    PinyinInitials pinyin;
    int initialsRead = 0;
    auto find = [&](const std::string& text, int start) {
        return FindRow(
            text, start, static_cast<int>(rows.size()),
            [&](int row, int col) { return col == 1 ? rows[row].first : rows[row].second; },
            [&](int row) {
                ++initialsRead;
                return pinyin.Of(rows[row].second);
            });
    };
    EXPECT_EQ(find("hxcz", 0), 2);
    EXPECT_EQ(find("HXCZ", 3), 2);
    EXPECT_EQ(find(G("ｈｘｃｚ"), 0), 2);
    // Inside the initials too (银华夏季红利: YHXJHL), cycling like a name.
    EXPECT_EQ(FourHits(find, "hx"), (std::vector<int>{2, 4, 6, 2}));
    EXPECT_EQ(find("yj50", 0), 0);
    EXPECT_EQ(find("etf", 0), 1);  // Latin letters of a name are its initials
    EXPECT_EQ(find("nfgzz", 0), -1);

    // Codes and Chinese text never look at the initials; the name rule stays first.
    initialsRead = 0;
    EXPECT_EQ(find("000001", 0), 2);
    EXPECT_EQ(find("0011", 0), 1);
    EXPECT_EQ(find(G("华夏"), 5), 6);
    EXPECT_EQ(find("-", 0), -1);
    EXPECT_EQ(initialsRead, 0);
    EXPECT_EQ(find("ETF 0", 0), 1);
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
