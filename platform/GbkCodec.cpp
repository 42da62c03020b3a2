#include "platform/GbkCodec.h"

#include <cerrno>
#include <iconv.h>

namespace zeza {
namespace {

bool IsAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

size_t Utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

// One converter per thread and direction: iconv_t carries shift state and is
// not safe to share, and opening one per call is needlessly slow for tables.
class Converter {
  public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (m_cd != reinterpret_cast<iconv_t>(-1)) iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // utf8Source: skip a whole bad UTF-8 sequence at once, so one character
    // GBK cannot hold becomes one replacement, not one per byte.
    std::string Convert(std::string_view in, std::string_view replacement, bool utf8Source) {
        std::string out;
        if (m_cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        out.reserve(in.size() * 2 + 4);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        char buf[1024];
        while (srcLeft > 0) {
            char* dst = buf;
            size_t dstLeft = sizeof(buf);
            size_t r = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf, dst - buf);
            if (r == static_cast<size_t>(-1)) {
                if (errno == E2BIG) continue;
                // Invalid or unconvertible character: mark it and step over it.
                out.append(replacement);
                size_t skip = utf8Source ? Utf8SequenceLength(static_cast<unsigned char>(*src)) : 1;
                if (skip > srcLeft) skip = srcLeft;
                src += skip;
                srcLeft -= skip;
                iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

  private:
    iconv_t m_cd;
};

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
    if (IsAscii(gbk)) return std::string(gbk);
    thread_local Converter conv("UTF-8", "GBK");
    return conv.Convert(gbk, "\xEF\xBF\xBD", false);
}

std::string Utf8ToGbk(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    thread_local Converter conv("GBK", "UTF-8");
    return conv.Convert(utf8, "?", true);
}

size_t GbkCharLength(std::string_view s, size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < s.size()) return 2;
    return 1;
}

size_t FindGbkChar(std::string_view s, char c, size_t from) {
    size_t i = 0;
    while (i < s.size()) {
        if (i >= from && s[i] == c) return i;
        i += GbkCharLength(s, i);
    }
    return std::string_view::npos;
}

std::vector<std::string_view> SplitGbk(std::string_view s, char sep) {
    // One pass over whole characters, so long lines stay linear.
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i < s.size();) {
        if (s[i] == sep) {
            parts.push_back(s.substr(start, i - start));
            start = ++i;
            continue;
        }
        i += GbkCharLength(s, i);
    }
    parts.push_back(s.substr(start));
    return parts;
}

bool IsValidGbk(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c == 0x80 || c == 0xFF || i + 1 >= s.size()) return false;
        unsigned char t = static_cast<unsigned char>(s[i + 1]);
        if (t < 0x40 || t == 0x7F || t == 0xFF) return false;
        i += 2;
    }
    return true;
}

}  // namespace zeza
