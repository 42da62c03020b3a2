#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zeza {

// Pinyin initials of fund names, so that "hxcz" finds 华夏成长. A Chinese
// character gives the first letter of its reading in ICU's Han-Latin
// transliteration; Latin letters and digits, full-width ones included, stand
// for themselves; anything else (spaces, brackets, other scripts) gives
// nothing. Letters come out upper-case: 华夏上证50ETF gives HXSZ50ETF.
//
// Characters are read one at a time (Han-Latin reads them so anyway), so a
// character with several readings always gets ICU's usual one: 行 gives X in
// 银行 and in 行业 alike, 长 gives Z in 长城 as in 成长. That is a known
// limitation; there is no list of exceptions.
//
// The first Chinese character an object reads loads ICU's rules, the first
// time in a process a few hundred milliseconds: that belongs on the refresh
// thread. Making an object costs nothing. One object serves one thread at a time.
class PinyinInitials {
  public:
    PinyinInitials();
    ~PinyinInitials();
    PinyinInitials(const PinyinInitials&) = delete;
    PinyinInitials& operator=(const PinyinInitials&) = delete;

    // The initials of a GBK text; empty when no character in it has one. When
    // ICU cannot give its transliteration, Chinese characters give nothing.
    std::string Of(std::string_view gbk);

    // The initials of the name (what follows the first "-") of each suggestion
    // entry, in the entries' order. While the entries are those of the previous
    // call, that call's result is returned again without any work.
    const std::vector<std::string>& OfEntries(const std::vector<std::string>& entries);

  private:
    // The initial of one GBK character (code: lead byte * 256 + trail byte, or
    // the single byte); 0 for none.
    char LetterOf(unsigned code);

    struct Icu;
    // Made on the first character that needs it.
    std::unique_ptr<Icu> m_icu;
    // Per GBK code: 0 not looked up yet, 1 no initial, else the letter. A
    // catalogue repeats few distinct characters, each looked up once.
    std::vector<char> m_letters;
    std::vector<std::string> m_lastEntries;
    std::vector<std::string> m_lastInitials;
};

// The typed text as initials are written: its ASCII and full-width Latin
// letters and digits, letters upper-cased. Empty when the text holds anything
// else, or no letter at all (digits alone are looked up as a code).
std::string TypedInitials(std::string_view gbk);

}  // namespace zeza
