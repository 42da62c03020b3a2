#include "suggest/SuggestMatch.h"

#include <algorithm>
#include <cstdint>

namespace zeza {
namespace {

inline bool IsLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

inline unsigned char FoldByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c;
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

void CollectMatches(const std::vector<std::string>& candidates, std::string_view text,
                    std::vector<std::string>& matches) {
    matches.clear();
    if (text.empty()) return;
    const std::string folded = FoldLatinUpper(text);

    // Sorting (key, index) pairs instead of the strings themselves: the key
    // holds the first eight folded bytes, which tell nearly every two entries
    // apart (they begin with distinct codes), so most comparisons are one
    // integer comparison. Ties fall back to the full comparison, then to the
    // candidates' order.
    struct Hit {
        uint64_t key;
        uint32_t index;
    };
    std::vector<Hit> hits;
    for (size_t i = 0; i < candidates.size(); ++i)
        if (StartsWithFolded(candidates[i], folded))
            hits.push_back({SortKey(candidates[i]), static_cast<uint32_t>(i)});
    std::sort(hits.begin(), hits.end(), [&](const Hit& a, const Hit& b) {
        if (a.key != b.key) return a.key < b.key;
        const int c = CompareFolded(candidates[a.index], candidates[b.index]);
        return c != 0 ? c < 0 : a.index < b.index;
    });
    matches.reserve(hits.size());
    for (const Hit& h : hits) matches.push_back(candidates[h.index]);
}

}  // namespace zeza
