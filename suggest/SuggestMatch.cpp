#include "suggest/SuggestMatch.h"

#include <algorithm>
#include <cstdint>

#include "suggest/PinyinInitials.h"

namespace zeza {
namespace {

inline bool IsLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

inline unsigned char FoldByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c;
}

// True when s is not empty and its first byte, folded, is c. A lead byte folds
// to itself, so this never rejects an entry that StartsWithFolded accepts.
inline bool BeginsWithByte(std::string_view s, unsigned char c) {
    return !s.empty() && FoldByte(static_cast<unsigned char>(s[0])) == c;
}

// The first eight bytes of s as CompareFolded sees them, big-endian, padded
// with zero bytes: a < b by key implies a < b by CompareFolded.
uint64_t SortKey(std::string_view s) {
    uint64_t key = 0;
    const size_t n = std::min<size_t>(s.size(), 8);
    if (n == 0) return 0;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        key = (key << 8) | FoldByte(c);
        if (IsLeadByte(c) && i + 1 < s.size()) {
            if (++i < n) key = (key << 8) | static_cast<unsigned char>(s[i]);
        }
    }
    return key << (8 * (8 - n));
}

}  // namespace

std::string FoldLatinUpper(std::string_view gbk) {
    std::string out(gbk);
    for (size_t i = 0; i < out.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(out[i]);
        if (IsLeadByte(c) && i + 1 < out.size())
            ++i;  // the trail byte belongs to the character, not a letter
        else
            out[i] = static_cast<char>(FoldByte(c));
    }
    return out;
}

bool StartsWithFolded(std::string_view entry, std::string_view folded) {
    if (folded.size() > entry.size()) return false;
    // Walking both texts in step keeps them on the same character boundaries:
    // as long as the bytes agree, a lead byte in one is a lead byte in the other.
    for (size_t i = 0; i < folded.size(); ++i) {
        const unsigned char e = static_cast<unsigned char>(entry[i]);
        if (IsLeadByte(e) && i + 1 < entry.size()) {
            if (e != static_cast<unsigned char>(folded[i])) return false;
            ++i;
            if (i < folded.size() && entry[i] != folded[i]) return false;
            continue;
        }
        if (FoldByte(e) != static_cast<unsigned char>(folded[i])) return false;
    }
    return true;
}

int CompareFolded(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ca = static_cast<unsigned char>(a[i]);
        const unsigned char cb = static_cast<unsigned char>(b[i]);
        if (IsLeadByte(ca) && ca == cb && i + 1 < n) {
            // Same lead byte in both: the trail bytes are compared as they are.
            ++i;
            const unsigned char ta = static_cast<unsigned char>(a[i]);
            const unsigned char tb = static_cast<unsigned char>(b[i]);
            if (ta != tb) return ta < tb ? -1 : 1;
            continue;
        }
        const unsigned char fa = FoldByte(ca);
        const unsigned char fb = FoldByte(cb);
        if (fa != fb) return fa < fb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

namespace {

// Fills matches with the candidates that groupOf puts in a group (0, 1, ...;
// -1 for none), group by group, each group sorted as CollectMatches sorts.
template <typename GroupOf>
void CollectGrouped(const std::vector<std::string>& candidates, GroupOf groupOf,
                    std::vector<std::string>& matches) {
    // Sorting (group, key, index) triples instead of the strings themselves:
    // the key holds the first eight folded bytes, which tell nearly every two
    // entries apart (they begin with distinct codes), so most comparisons are
    // integer comparisons. Ties fall back to the full comparison, then to the
    // candidates' order.
    struct Hit {
        uint32_t group;
        uint32_t index;
        uint64_t key;
    };
    std::vector<Hit> hits;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const int group = groupOf(i);
        if (group >= 0)
            hits.push_back({static_cast<uint32_t>(group), static_cast<uint32_t>(i), SortKey(candidates[i])});
    }
    std::sort(hits.begin(), hits.end(), [&](const Hit& a, const Hit& b) {
        if (a.group != b.group) return a.group < b.group;
        if (a.key != b.key) return a.key < b.key;
        const int c = CompareFolded(candidates[a.index], candidates[b.index]);
        return c != 0 ? c < 0 : a.index < b.index;
    });
    matches.reserve(hits.size());
    for (const Hit& h : hits) matches.push_back(candidates[h.index]);
}

}  // namespace

void CollectMatches(const std::vector<std::string>& candidates, std::string_view text,
                    std::vector<std::string>& matches) {
    matches.clear();
    if (text.empty()) return;
    const std::string folded = FoldLatinUpper(text);
    CollectGrouped(
        candidates, [&](size_t i) { return StartsWithFolded(candidates[i], folded) ? 0 : -1; }, matches);
}

std::string_view EntryName(std::string_view entry) {
    for (size_t i = 0; i < entry.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(entry[i]);
        if (c == '-') return entry.substr(i + 1);
        if (IsLeadByte(c)) ++i;  // its trail byte may be 0x2D and is no hyphen
    }
    return std::string_view();
}

bool ContainsFolded(std::string_view text, std::string_view folded) {
    if (folded.empty()) return true;
    const unsigned char first = static_cast<unsigned char>(folded[0]);
    for (size_t i = 0; i + folded.size() <= text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (FoldByte(c) == first && StartsWithFolded(text.substr(i), folded)) return true;
        if (IsLeadByte(c)) ++i;
    }
    return false;
}

void CollectNameMatches(const std::vector<std::string>& candidates, const std::vector<std::string>& initials,
                        std::string_view text, std::vector<std::string>& matches) {
    matches.clear();
    if (text.empty()) return;
    const std::string folded = FoldLatinUpper(text);
    const std::string typed = TypedInitials(text);
    const unsigned char first = static_cast<unsigned char>(folded[0]);
    enum Group { kCode, kNameStart, kInitialsStart, kNameInside, kInitialsInside };
    CollectGrouped(
        candidates,
        [&](size_t i) -> int {
            const std::string& entry = candidates[i];
            // Most entries differ from the text in their first byte: a cheap test first.
            if (BeginsWithByte(entry, first) && StartsWithFolded(entry, folded)) return kCode;
            const std::string_view name = EntryName(entry);
            if (BeginsWithByte(name, first) && StartsWithFolded(name, folded)) return kNameStart;
            const std::string_view ini =
                (!typed.empty() && i < initials.size()) ? initials[i] : std::string_view();
            if (!ini.empty() && ini.starts_with(typed)) return kInitialsStart;
            if (ContainsFolded(name, folded)) return kNameInside;
            if (!ini.empty() && ini.find(typed) != std::string_view::npos) return kInitialsInside;
            return -1;
        },
        matches);
}

}  // namespace zeza
