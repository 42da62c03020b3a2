#include "server/relay/JsReader.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "server/relay/Sources.h"

namespace zeza::relay {
namespace {

// Nesting deeper than any source writes is refused rather than recursed into.
constexpr int kMaxDepth = 64;

bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// ASCII letters, digits, '$' and '_'; bytes from 0x80 on are judged by the reader.
bool IsAsciiNamePart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_' || c == '$';
}

bool IsGbkTrail(unsigned char c) {
    return c >= 0x40 && c <= 0xFE && c != 0x7F;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class Reader {
  public:
    explicit Reader(std::string_view s) : m_s(s) {}

    // The whole statement: [var name =] value [;] with nothing but blanks and comments after.
    bool Statement(JsValue& out) {
        if (!Assignment() || !Value(out, 0)) return false;
        SkipSpace();
        while (m_pos < m_s.size() && m_s[m_pos] == ';') {
            ++m_pos;
            SkipSpace();
        }
        return m_pos == m_s.size() || Fail("text after the value");
    }

    const std::string& Error() const { return m_error; }

  private:
    unsigned char At(size_t i) const { return i < m_s.size() ? static_cast<unsigned char>(m_s[i]) : 0; }

    bool Fail(const char* why) {
        // The first reason is the one that counts: later failures only unwind from it.
        if (m_error.empty()) m_error = std::string(why) + " at byte " + std::to_string(m_pos);
        return false;
    }

    // Whether the text is GBK rather than UTF-8, decided once, when a byte from 0x80 on is met.
    // A GBK page's characters are then read whole, so that a second byte equal to '\' or a
    // bracket is never taken for one, as the browser that decodes the page never does.
    bool Gbk() {
        if (m_gbk < 0) m_gbk = IsValidUtf8(m_s) ? 0 : 1;
        return m_gbk == 1;
    }

    // Bytes of the character that starts at i when it is a non-ASCII one.
    size_t WideLength(size_t i) {
        return Gbk() && At(i) >= 0x81 && At(i) <= 0xFE && IsGbkTrail(At(i + 1)) ? 2 : 1;
    }

    // Bytes of the white space or line end at i (those a script skips), 0 for anything else.
    size_t SpaceLength(size_t i) {
        unsigned char c = At(i);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') return 1;
        if (c < 0x80 || i >= m_s.size()) return 0;
        unsigned char c1 = At(i + 1), c2 = At(i + 2);
        if (c == 0xEF && c1 == 0xBB && c2 == 0xBF) return 3;  // a byte order mark
        if (Gbk()) return c == 0xA1 && c1 == 0xA1 ? 2 : 0;    // the ideographic space
        if (c == 0xC2 && c1 == 0xA0) return 2;                // no-break space
        if (c == 0xE1 && c1 == 0x9A && c2 == 0x80) return 3;
        if (c == 0xE2 && c1 == 0x80 && ((c2 >= 0x80 && c2 <= 0x8A) || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF))
            return 3;
        if (c == 0xE2 && c1 == 0x81 && c2 == 0x9F) return 3;
        if (c == 0xE3 && c1 == 0x80 && c2 == 0x80) return 3;
        return 0;
    }

    // U+2028 or U+2029, which end a line as '\n' does.
    bool LineSeparator(size_t i) {
        return At(i) == 0xE2 && At(i + 1) == 0x80 && (At(i + 2) == 0xA8 || At(i + 2) == 0xA9) && !Gbk();
    }

    // Skips blanks and comments. An unclosed comment fails and stays put, so that whatever
    // reads next fails on its '/' too.
    void SkipSpace() {
        while (m_pos < m_s.size()) {
            unsigned char c = At(m_pos);
            if (c == '/' && At(m_pos + 1) == '/') {
                m_pos += 2;
                while (m_pos < m_s.size() && At(m_pos) != '\n' && At(m_pos) != '\r' && !LineSeparator(m_pos))
                    ++m_pos;
            } else if (c == '/' && At(m_pos + 1) == '*') {
                size_t end = m_s.find("*/", m_pos + 2);
                if (end == std::string_view::npos) {
                    Fail("unclosed comment");
                    return;
                }
                m_pos = end + 2;
            } else if (size_t n = c > ' ' && c < 0x80 ? 0 : SpaceLength(m_pos)) {
                m_pos += n;
            } else {
                return;
            }
        }
    }

    // A name as a script writes it unquoted: letters, digits (not first), '$', '_' and any
    // non-ASCII character that is not a space.
    std::string_view Name() {
        size_t start = m_pos;
        if (IsDigit(At(m_pos))) return {};
        while (m_pos < m_s.size()) {
            unsigned char c = At(m_pos);
            if (IsAsciiNamePart(c)) {
                ++m_pos;
            } else if (c >= 0x80 && SpaceLength(m_pos) == 0) {
                m_pos += WideLength(m_pos);
            } else {
                break;
            }
        }
        return m_s.substr(start, m_pos - start);
    }

    // "var name =" (or let, const) before the value, as the .js files start.
    bool Assignment() {
        SkipSpace();
        size_t start = m_pos;
        std::string_view word = Name();
        if (word != "var" && word != "let" && word != "const") {
            m_pos = start;
            return true;
        }
        SkipSpace();
        if (Name().empty()) return Fail("expected a name after var");
        SkipSpace();
        if (At(m_pos) != '=') return Fail("expected '='");
        ++m_pos;
        return true;
    }

    bool Value(JsValue& out, int depth) {
        SkipSpace();
        if (m_pos >= m_s.size()) return Fail("unexpected end");
        unsigned char c = At(m_pos);
        if (c == '{') return Object(out, depth);
        if (c == '[') return Array(out, depth);
        if (c == '"' || c == '\'') {
            out.kind = JsValue::Kind::String;
            return String(out.text);
        }
        if (c == '-' || c == '+' || c == '.' || IsDigit(c)) return Number(out);
        std::string_view word = Name();
        if (word == "null" || word == "undefined" || word == "NaN" || word == "Infinity") {
            out.kind = JsValue::Kind::Null;
            return true;
        }
        if (word == "true" || word == "false") {
            out.kind = JsValue::Kind::Bool;
            out.text = std::string(word);
            return true;
        }
        return Fail(word.empty() ? "unexpected character" : "unknown name");
    }

    bool Object(JsValue& out, int depth) {
        if (depth >= kMaxDepth) return Fail("nested too deeply");
        out.kind = JsValue::Kind::Object;
        ++m_pos;  // '{'
        while (true) {
            SkipSpace();
            if (m_pos >= m_s.size()) return Fail("unexpected end in object");
            if (At(m_pos) == '}') {  // also after a trailing comma
                ++m_pos;
                return true;
            }
            std::string key;
            if (!Key(key)) return false;
            SkipSpace();
            if (At(m_pos) != ':') return Fail("expected ':'");
            ++m_pos;
            out.keys.push_back(std::move(key));
            out.items.emplace_back();
            if (!Value(out.items.back(), depth + 1)) return false;
            SkipSpace();
            if (At(m_pos) == ',') {
                ++m_pos;
            } else if (At(m_pos) != '}') {
                return Fail(m_pos >= m_s.size() ? "unexpected end in object" : "expected ',' or '}'");
            }
        }
    }

    // A key: quoted, a name, or a number (named by its value, as a script does: 0x10 and 016 are
    // "16", 1.0 is "1"; a fraction keeps its digits).
    bool Key(std::string& key) {
        unsigned char c = At(m_pos);
        if (c == '"' || c == '\'') return String(key);
        if (IsDigit(c) || c == '.') {
            JsValue number;
            if (!Number(number)) return false;
            key = std::move(number.text);
            double v = 0;
            auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), v);
            if (ec == std::errc() && end == key.data() + key.size() && v == std::floor(v) &&
                v < 9007199254740992.0) {
                char digits[24];
                key.assign(digits,
                           std::to_chars(digits, digits + sizeof digits, static_cast<int64_t>(v)).ptr);
            }
            return true;
        }
        key = std::string(Name());
        return !key.empty() || Fail("expected a key");
    }

    // Elements up to ']'. A comma with nothing before it leaves a hole, read as null; the last
    // comma before ']' ends the last element only, so [1,] holds one element and [1,,] two.
    bool Array(JsValue& out, int depth) {
        if (depth >= kMaxDepth) return Fail("nested too deeply");
        out.kind = JsValue::Kind::Array;
        ++m_pos;  // '['
        while (true) {
            SkipSpace();
            if (m_pos >= m_s.size()) return Fail("unexpected end in array");
            if (At(m_pos) == ']') {
                ++m_pos;
                return true;
            }
            out.items.emplace_back();
            if (At(m_pos) == ',') {
                ++m_pos;
                continue;
            }
            if (!Value(out.items.back(), depth + 1)) return false;
            SkipSpace();
            if (At(m_pos) == ',') {
                ++m_pos;
            } else if (At(m_pos) != ']') {
                return Fail(m_pos >= m_s.size() ? "unexpected end in array" : "expected ',' or ']'");
            }
        }
    }

    // A number, kept as its text in the form the callers' from_chars and sscanf read: no '+',
    // a digit on both sides of a '.' or none ("0.5", "5"), hex, octal and binary in decimal.
    // A leading zero does not make octal: the pages pad decimal figures ("010" stays ten).
    // A figure past a double's range keeps its text, which from_chars reports out of range.
    bool Number(JsValue& out) {
        out.kind = JsValue::Kind::Number;
        const size_t start = m_pos;
        bool plain = true;  // the text as written is already the callers' form
        bool negative = false;
        if (At(m_pos) == '-' || At(m_pos) == '+') {
            negative = At(m_pos) == '-';
            plain = negative;
            ++m_pos;
            size_t sign = m_pos;
            SkipSpace();
            if (m_pos != sign) plain = false;
            size_t wordStart = m_pos;
            std::string_view word = Name();
            if (word == "Infinity" || word == "NaN") {
                out.kind = JsValue::Kind::Null;
                return true;
            }
            m_pos = wordStart;
        }
        unsigned char c1 = At(m_pos + 1) | 0x20;
        if (At(m_pos) == '0' && (c1 == 'x' || c1 == 'o' || c1 == 'b')) return Radix(out, negative);
        const size_t intStart = m_pos;
        while (IsDigit(At(m_pos))) ++m_pos;
        const size_t intEnd = m_pos;
        size_t fracStart = m_pos, fracEnd = m_pos;
        if (At(m_pos) == '.') {
            fracStart = fracEnd = ++m_pos;
            while (IsDigit(At(fracEnd))) ++fracEnd;
            m_pos = fracEnd;
            if (intStart == intEnd || fracStart == fracEnd) plain = false;
        }
        if (intStart == intEnd && fracStart == fracEnd) return Fail("bad number");
        const size_t expStart = m_pos;
        if ((At(m_pos) | 0x20) == 'e') {
            ++m_pos;
            if (At(m_pos) == '+' || At(m_pos) == '-') ++m_pos;
            if (!IsDigit(At(m_pos))) return Fail("bad exponent");
            while (IsDigit(At(m_pos))) ++m_pos;
        }
        if (IsAsciiNamePart(At(m_pos)) || At(m_pos) == '.') return Fail("bad number");
        if (plain) {
            out.text.assign(m_s.data() + start, m_pos - start);
            return true;
        }
        out.text.clear();
        if (negative) out.text += '-';
        if (intStart == intEnd)
            out.text += '0';
        else
            out.text.append(m_s.data() + intStart, intEnd - intStart);
        if (fracStart != fracEnd) {
            out.text += '.';
            out.text.append(m_s.data() + fracStart, fracEnd - fracStart);
        }
        out.text.append(m_s.data() + expStart, m_pos - expStart);
        return true;
    }

    // 0x1F, 0o17, 0b11 at m_pos, written in decimal; past 2^64 as the double that holds it.
    bool Radix(JsValue& out, bool negative) {
        const unsigned char kind = At(m_pos + 1) | 0x20;
        const int base = kind == 'x' ? 16 : kind == 'o' ? 8 : 2;
        m_pos += 2;
        uint64_t whole = 0;
        double approx = 0;
        bool overflow = false;
        const size_t digitsStart = m_pos;
        while (true) {
            int d = HexDigit(At(m_pos));
            if (d < 0 || d >= base) break;
            if (whole > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base))
                overflow = true;
            whole = whole * base + d;
            approx = approx * base + d;
            ++m_pos;
        }
        if (m_pos == digitsStart || IsAsciiNamePart(At(m_pos)) || At(m_pos) == '.') return Fail("bad number");
        if (overflow && !std::isfinite(approx)) {
            out.kind = JsValue::Kind::Null;  // Infinity to a script, read as Infinity is
            return true;
        }
        char digits[40];
        char* p = digits;
        if (negative) *p++ = '-';
        p = overflow ? std::to_chars(p, digits + sizeof digits, approx).ptr
                     : std::to_chars(p, digits + sizeof digits, whole).ptr;
        out.text.assign(digits, p);
        return true;
    }

    // Four hex digits or {hex} after "\u" at pos; pos moves past them. No failure is recorded:
    // the caller decides whether a bad one is an error.
    bool CodeUnit(size_t& pos, uint32_t& v) const {
        v = 0;
        if (At(pos) == '{') {
            size_t i = pos + 1;
            while (HexDigit(At(i)) >= 0) {
                v = v * 16 + HexDigit(At(i++));
                if (v > 0x10FFFF) return false;
            }
            if (i == pos + 1 || At(i) != '}') return false;
            pos = i + 1;
            return true;
        }
        for (size_t i = pos; i < pos + 4; ++i) {
            int d = HexDigit(At(i));
            if (d < 0) return false;
            v = v * 16 + d;
        }
        pos += 4;
        return true;
    }

    // One escape after the '\' at m_pos - 1, appended to out.
    bool Escape(std::string& out) {
        if (m_pos >= m_s.size()) return Fail("unterminated string");
        const unsigned char e = At(m_pos++);
        switch (e) {
            case 'n':
                out += '\n';
                return true;
            case 't':
                out += '\t';
                return true;
            case 'r':
                out += '\r';
                return true;
            case 'b':
                out += '\b';
                return true;
            case 'f':
                out += '\f';
                return true;
            case 'v':
                out += '\v';
                return true;
            case '\n':
                return true;  // a line continued
            case '\r':
                if (At(m_pos) == '\n') ++m_pos;
                return true;
            case 'x': {
                int hi = HexDigit(At(m_pos)), lo = HexDigit(At(m_pos + 1));
                if (hi < 0 || lo < 0) return Fail("bad \\x escape");
                m_pos += 2;
                AppendUtf8(out, static_cast<uint32_t>(hi * 16 + lo));
                return true;
            }
            case 'u': {
                uint32_t cp = 0;
                if (!CodeUnit(m_pos, cp)) return Fail("bad \\u escape");
                if (cp >= 0xD800 && cp < 0xDC00) {
                    // A pair written as two escapes is one character; a half alone is none.
                    size_t next = m_pos + 2;
                    uint32_t low = 0;
                    if (At(m_pos) == '\\' && At(m_pos + 1) == 'u' && CodeUnit(next, low) && low >= 0xDC00 &&
                        low < 0xE000) {
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        m_pos = next;
                    } else {
                        cp = 0xFFFD;
                    }
                } else if (cp >= 0xDC00 && cp < 0xE000) {
                    cp = 0xFFFD;
                }
                AppendUtf8(out, cp);
                return true;
            }
            default:
                break;
        }
        if (e >= '0' && e <= '7') {
            // Old octal escapes, which the pages' non-strict scripts still allow: \0, \12, \101.
            uint32_t v = e - '0';
            int more = e <= '3' ? 2 : 1;
            while (more-- > 0 && At(m_pos) >= '0' && At(m_pos) <= '7') v = v * 8 + (At(m_pos++) - '0');
            AppendUtf8(out, v);
            return true;
        }
        if (LineSeparator(m_pos - 1)) {
            m_pos += 2;  // a line continued at U+2028 or U+2029
            return true;
        }
        // Any other character stands for itself: \" \' \\ \/ and the rest.
        size_t n = e >= 0x80 ? WideLength(m_pos - 1) : 1;
        out.append(m_s.data() + m_pos - 1, n);
        m_pos += n - 1;
        return true;
    }

    // A string in either quote at m_pos. Runs without escapes are copied in one piece.
    bool String(std::string& out) {
        const unsigned char quote = At(m_pos++);
        out.clear();
        size_t run = m_pos;
        size_t i = m_pos;
        while (true) {
            if (i >= m_s.size()) {
                m_pos = i;
                return Fail("unterminated string");
            }
            const unsigned char c = At(i);
            if (c == quote) {
                out.append(m_s.data() + run, i - run);
                m_pos = i + 1;
                return true;
            }
            if (c == '\\') {
                out.append(m_s.data() + run, i - run);
                m_pos = i + 1;
                if (!Escape(out)) return false;
                run = i = m_pos;
            } else if (c == '\n' || c == '\r') {
                m_pos = i;
                return Fail("line break in string");
            } else {
                i += c >= 0x80 ? WideLength(i) : 1;
            }
        }
    }

    std::string_view m_s;
    size_t m_pos = 0;
    int m_gbk = -1;  // unknown until a byte from 0x80 on is met
    std::string m_error;
};

}  // namespace

const JsValue* JsValue::Get(std::string_view key) const {
    if (kind != Kind::Object) return nullptr;
    for (size_t i = keys.size(); i-- > 0;)
        if (keys[i] == key) return &items[i];
    return nullptr;
}

std::optional<JsValue> ParseJs(std::string_view text, std::string& error) {
    Reader reader(text);
    JsValue value;
    if (!reader.Statement(value)) {
        error = reader.Error();
        return std::nullopt;
    }
    return value;
}

}  // namespace zeza::relay
