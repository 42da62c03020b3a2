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

}  // namespace zeza
