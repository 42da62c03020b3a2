#pragma once

#include <string>
#include <string_view>
#include <vector>

// Matching of the search field's text against the suggestion entries. Texts are
// GBK: only the Latin letters a-z / A-Z are folded, and the two bytes of a
// double-byte character are taken as they are even where a trail byte happens
// to equal a Latin letter.
namespace zeza {

// The text with a-z turned into A-Z; every other byte, double-byte characters
// included, unchanged.
std::string FoldLatinUpper(std::string_view gbk);

// True when folded (a text already passed through FoldLatinUpper) is a prefix
// of entry with the entry's Latin letters upper-cased. An empty folded text is
// a prefix of everything.
bool StartsWithFolded(std::string_view entry, std::string_view folded);

// Byte-wise three-way comparison in which A-Z equal a-z: <0, 0 or >0.
int CompareFolded(std::string_view a, std::string_view b);

// Replaces matches with the candidates that begin with text (Latin letters
// without regard to case), sorted by CompareFolded; candidates that compare
// equal keep their order in candidates. An empty text matches nothing.
void CollectMatches(const std::vector<std::string>& candidates, std::string_view text,
                    std::vector<std::string>& matches);

// The name of a suggestion entry: what follows its first "-"; empty without one.
std::string_view EntryName(std::string_view entry);

// True when folded (passed through FoldLatinUpper) occurs in text starting at
// one of its characters, Latin letters without regard to case. An empty folded
// text occurs everywhere.
bool ContainsFolded(std::string_view text, std::string_view folded);

// Matching that also finds a fund by its name and pinyin initials (initials[i]
// belongs to candidates[i], as PinyinInitials gives it; missing ones count as
// empty). Replaces matches with, each entry once and in this order: the
// entries CollectMatches gives, in its order; then the entries whose name
// begins with text; whose initials begin with TypedInitials(text); whose name
// contains text; whose initials contain it. Names compare Latin letters
// without regard to case; initials are only compared when TypedInitials(text)
// is not empty. Each group is in CollectMatches's order, that is by code. An
// empty text matches nothing.
void CollectNameMatches(const std::vector<std::string>& candidates, const std::vector<std::string>& initials,
                        std::string_view text, std::vector<std::string>& matches);

}  // namespace zeza
