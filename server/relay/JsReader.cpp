#include "server/relay/JsReader.h"

#include <cstdint>

namespace zeza::relay {
namespace {

// Nesting deeper than any source writes is refused rather than recursed into.
constexpr int kMaxDepth = 64;

class Reader {
  public:
    explicit Reader(std::string_view s) : m_s(s) {}

    bool Value(JsValue& out, int depth) {
        SkipSpace();
        if (m_pos >= m_s.size()) return Fail("unexpected end");
        if (depth > kMaxDepth) return Fail("nested too deeply");
        char c = m_s[m_pos];
        if (c == '{') return Object(out, depth);
        if (c == '[') return Array(out, depth);
        if (c == '"' || c == '\'') {
            out.kind = JsValue::Kind::String;
            return String(out.text);
        }
        if (c == '-' || (c >= '0' && c <= '9')) return Number(out);
        std::string_view word = Word();
        if (word == "null" || word == "undefined") {
            out.kind = JsValue::Kind::Null;
            return true;
        }
        if (word == "true" || word == "false") {
            out.kind = JsValue::Kind::Bool;
            out.text = std::string(word);
            return true;
        }
        return Fail("unexpected character");
    }

    void SkipSpace() {
        while (m_pos < m_s.size()) {
            char c = m_s[m_pos];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++m_pos;
            } else if (m_s.compare(m_pos, 3, "\xEF\xBB\xBF") == 0) {
                m_pos += 3;  // a byte order mark
            } else {
                break;
            }
        }
    }

    // "var name =" before the value, as the .js files start.
    void SkipAssignment() {
        SkipSpace();
        if (m_s.compare(m_pos, 4, "var ") != 0) return;
        size_t eq = m_s.find('=', m_pos);
        if (eq != std::string_view::npos) m_pos = eq + 1;
    }

    bool AtEnd() {
        SkipSpace();
        while (m_pos < m_s.size() && m_s[m_pos] == ';') {
            ++m_pos;
            SkipSpace();
        }
        return m_pos == m_s.size();
    }

    const std::string& Error() const { return m_error; }
    size_t Pos() const { return m_pos; }

  private:
    bool Fail(const char* why) {
        if (m_error.empty()) m_error = std::string(why) + " at byte " + std::to_string(m_pos);
        return false;
    }

    std::string_view Word() {
        size_t start = m_pos;
        while (m_pos < m_s.size()) {
            char c = m_s[m_pos];
            bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '$';
            if (!ok) break;
            ++m_pos;
        }
        return m_s.substr(start, m_pos - start);
    }

    bool Object(JsValue& out, int depth) {
        out.kind = JsValue::Kind::Object;
        ++m_pos;  // '{'
        SkipSpace();
        if (m_pos < m_s.size() && m_s[m_pos] == '}') {
            ++m_pos;
            return true;
        }
        while (true) {
            SkipSpace();
            if (m_pos >= m_s.size()) return Fail("unexpected end in object");
            std::string key;
            if (m_s[m_pos] == '"' || m_s[m_pos] == '\'') {
                if (!String(key)) return false;
            } else {
                key = std::string(Word());
                if (key.empty()) return Fail("expected a key");
            }
            SkipSpace();
            if (m_pos >= m_s.size() || m_s[m_pos] != ':') return Fail("expected ':'");
            ++m_pos;
            out.keys.push_back(std::move(key));
            out.items.emplace_back();
            if (!Value(out.items.back(), depth + 1)) return false;
            SkipSpace();
            if (m_pos >= m_s.size()) return Fail("unexpected end in object");
            if (m_s[m_pos] == ',') {
                ++m_pos;
                continue;
            }
            if (m_s[m_pos] == '}') {
                ++m_pos;
                return true;
            }
            return Fail("expected ',' or '}'");
        }
    }

    bool Array(JsValue& out, int depth) {
        out.kind = JsValue::Kind::Array;
        ++m_pos;  // '['
        SkipSpace();
        if (m_pos < m_s.size() && m_s[m_pos] == ']') {
            ++m_pos;
            return true;
        }
        while (true) {
            out.items.emplace_back();
            if (!Value(out.items.back(), depth + 1)) return false;
            SkipSpace();
            if (m_pos >= m_s.size()) return Fail("unexpected end in array");
            if (m_s[m_pos] == ',') {
                ++m_pos;
                continue;
            }
            if (m_s[m_pos] == ']') {
                ++m_pos;
                return true;
            }
            return Fail("expected ',' or ']'");
        }
    }

    bool Number(JsValue& out) {
        out.kind = JsValue::Kind::Number;
        size_t start = m_pos;
        if (m_s[m_pos] == '-') ++m_pos;
        while (m_pos < m_s.size()) {
            char c = m_s[m_pos];
            if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-')) break;
            ++m_pos;
        }
        out.text = std::string(m_s.substr(start, m_pos - start));
        return out.text != "-" || Fail("bad number");
    }

    static void AppendUtf8(std::string& out, uint32_t cp) {
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

    bool Hex4(uint32_t& v) {
        if (m_pos + 4 > m_s.size()) return Fail("short \\u escape");
        v = 0;
        for (int i = 0; i < 4; ++i) {
            char c = m_s[m_pos++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= c - '0';
            else if (c >= 'a' && c <= 'f')
                v |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                v |= c - 'A' + 10;
            else
                return Fail("bad \\u escape");
        }
        return true;
    }

    bool String(std::string& out) {
        const char quote = m_s[m_pos++];
        // Most strings hold no escape: copy them in one piece.
        size_t end = m_s.find_first_of(quote == '"' ? "\"\\" : "'\\", m_pos);
        if (end == std::string_view::npos) return Fail("unterminated string");
        if (m_s[end] == quote) {
            out.assign(m_s.data() + m_pos, end - m_pos);
            m_pos = end + 1;
            return true;
        }
        out.clear();
        while (m_pos < m_s.size()) {
            char c = m_s[m_pos++];
            if (c == quote) return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_s.size()) break;
            char e = m_s[m_pos++];
            switch (e) {
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'u': {
                    uint32_t cp = 0;
                    if (!Hex4(cp)) return false;
                    if (cp >= 0xD800 && cp < 0xDC00 && m_s.compare(m_pos, 2, "\\u") == 0) {
                        m_pos += 2;
                        uint32_t low = 0;
                        if (!Hex4(low)) return false;
                        if (low >= 0xDC00 && low < 0xE000)
                            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        else
                            cp = 0xFFFD;
                    } else if (cp >= 0xD800 && cp < 0xE000) {
                        cp = 0xFFFD;
                    }
                    AppendUtf8(out, cp);
                    break;
                }
                default:
                    out += e;
                    break;  // \" \' \\ \/ and anything a script would keep
            }
        }
        return Fail("unterminated string");
    }

    std::string_view m_s;
    size_t m_pos = 0;
    std::string m_error;
};

}  // namespace

const JsValue* JsValue::Get(std::string_view key) const {
    if (kind != Kind::Object) return nullptr;
    for (size_t i = 0; i < keys.size(); ++i)
        if (keys[i] == key) return &items[i];
    return nullptr;
}

std::optional<JsValue> ParseJs(std::string_view text, std::string& error) {
    Reader reader(text);
    reader.SkipAssignment();
    JsValue value;
    if (!reader.Value(value, 0)) {
        error = reader.Error();
        return std::nullopt;
    }
    if (!reader.AtEnd()) {
        error = "text after the value at byte " + std::to_string(reader.Pos());
        return std::nullopt;
    }
    return value;
}

}  // namespace zeza::relay
