#include "suggest/PinyinInitials.h"

#include <unicode/normalizer2.h>
#include <unicode/translit.h>
#include <unicode/unistr.h>

#include "platform/GbkCodec.h"
#include "suggest/SuggestMatch.h"

namespace zeza {
namespace {

constexpr char kNoInitial = 1;

inline bool IsAsciiLetter(unsigned c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline bool IsAsciiDigit(unsigned c) {
    return c >= '0' && c <= '9';
}

inline char UpperAscii(unsigned c) {
    return static_cast<char>((c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c);
}

// The initial a single ASCII character stands for, else kNoInitial.
char AsciiInitial(unsigned c) {
    return IsAsciiLetter(c) || IsAsciiDigit(c) ? UpperAscii(c) : kNoInitial;
}

// GBK keeps full-width ASCII in the row after lead byte 0xA3 (０ is A3 B0,
// Ａ is A3 C1): the trail byte is the ASCII code plus 0x80. 0 when the two
// bytes are not a full-width letter or digit.
char FullWidthAscii(unsigned char lead, unsigned char trail) {
    if (lead != 0xA3 || trail < 0xA1) return 0;
    const unsigned c = trail - 0x80;
    return IsAsciiLetter(c) || IsAsciiDigit(c) ? static_cast<char>(c) : 0;
}

}  // namespace

struct PinyinInitials::Icu {
    Icu() {
        UErrorCode status = U_ZERO_ERROR;
        hanLatin.reset(icu::Transliterator::createInstance("Han-Latin", UTRANS_FORWARD, status));
        if (U_FAILURE(status)) hanLatin.reset();
        status = U_ZERO_ERROR;
        nfkc = icu::Normalizer2::getNFKCInstance(status);
        if (U_FAILURE(status)) nfkc = nullptr;
        status = U_ZERO_ERROR;
        nfd = icu::Normalizer2::getNFDInstance(status);
        if (U_FAILURE(status)) nfd = nullptr;
    }
    std::unique_ptr<icu::Transliterator> hanLatin;
    const icu::Normalizer2* nfkc = nullptr;
    const icu::Normalizer2* nfd = nullptr;
};

PinyinInitials::PinyinInitials() = default;

PinyinInitials::~PinyinInitials() = default;

char PinyinInitials::LetterOf(unsigned code) {
    if (m_letters.empty()) m_letters.assign(65536, 0);
    char& cached = m_letters[code];
    if (cached != 0) return cached == kNoInitial ? 0 : cached;
    cached = kNoInitial;
    if (code < 0x100) {
        cached = AsciiInitial(code);
        return cached == kNoInitial ? 0 : cached;
    }
    const char bytes[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    icu::UnicodeString ch = icu::UnicodeString::fromUTF8(GbkToUtf8(std::string_view(bytes, 2)));
    if (ch.length() == 0 || ch.charAt(0) == 0xFFFD) return 0;
    if (!m_icu) m_icu = std::make_unique<Icu>();

    UErrorCode status = U_ZERO_ERROR;
    // Compatibility forms first: a full-width letter or digit is the letter or digit.
    if (m_icu->nfkc) {
        icu::UnicodeString folded = m_icu->nfkc->normalize(ch, status);
        if (U_SUCCESS(status)) {
            if (folded.length() == 1 && folded.charAt(0) < 0x80) {
                cached = AsciiInitial(folded.charAt(0));
                return cached == kNoInitial ? 0 : cached;
            }
            ch = folded;
        }
    }
    if (!m_icu->hanLatin) return 0;
    m_icu->hanLatin->transliterate(ch);
    if (ch.length() == 0) return 0;
    // A syllable may begin with a toned vowel (ā, é, ǒ) or ń, ḿ: the base letter counts.
    icu::UnicodeString first(ch.char32At(0));
    if (m_icu->nfd) {
        status = U_ZERO_ERROR;
        icu::UnicodeString base = m_icu->nfd->normalize(first, status);
        if (U_SUCCESS(status) && base.length() > 0) first = base;
    }
    const UChar c = first.charAt(0);
    if (c < 0x80 && IsAsciiLetter(c)) cached = UpperAscii(c);
    return cached == kNoInitial ? 0 : cached;
}

std::string PinyinInitials::Of(std::string_view gbk) {
    std::string out;
    for (size_t i = 0; i < gbk.size();) {
        const size_t n = GbkCharLength(gbk, i);
        const unsigned lead = static_cast<unsigned char>(gbk[i]);
        const unsigned code = n == 2 ? (lead << 8) | static_cast<unsigned char>(gbk[i + 1]) : lead;
        if (const char letter = LetterOf(code)) out.push_back(letter);
        i += n;
    }
    return out;
}

const std::vector<std::string>& PinyinInitials::OfEntries(const std::vector<std::string>& entries) {
    if (entries == m_lastEntries && m_lastInitials.size() == entries.size()) return m_lastInitials;
    m_lastInitials.clear();
    m_lastInitials.reserve(entries.size());
    for (const std::string& e : entries) m_lastInitials.push_back(Of(EntryName(e)));
    m_lastEntries = entries;
    return m_lastInitials;
}

std::string TypedInitials(std::string_view gbk) {
    std::string out;
    bool letter = false;
    for (size_t i = 0; i < gbk.size();) {
        const size_t n = GbkCharLength(gbk, i);
        unsigned c = static_cast<unsigned char>(gbk[i]);
        if (n == 2) c = static_cast<unsigned char>(FullWidthAscii(c, static_cast<unsigned char>(gbk[i + 1])));
        if (IsAsciiLetter(c))
            letter = true;
        else if (!IsAsciiDigit(c))
            return std::string();
        out.push_back(UpperAscii(c));
        i += n;
    }
    return letter ? out : std::string();
}

}  // namespace zeza
