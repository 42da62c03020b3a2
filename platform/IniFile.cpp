#include "platform/IniFile.h"

#include <climits>
#include <cstdio>
#include <memory>

namespace zeza {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// One pair of quotes around a whole value is not part of it (key="a b" is
// a b), as the platform's profile reader has it; blanks inside them stay.
std::string_view Unquote(std::string_view s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

std::string Cut(std::string_view s, size_t maxLen) {
    if (maxLen == 0) return std::string();
    return std::string(s.substr(0, maxLen - 1));
}

}  // namespace

bool IniFile::Load(const std::string& path) {
    m_sections.clear();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) return false;
    std::string bytes;
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) bytes.append(buf, n);
    if (std::ferror(f.get())) return false;
    Parse(bytes);
    return true;
}

void IniFile::Parse(std::string_view bytes) {
    m_sections.clear();
    // A UTF-8 byte order mark would otherwise hide the first section header.
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    Section* current = nullptr;
    while (!bytes.empty()) {
        size_t end = bytes.find('\n');
        std::string_view line = Trim(bytes.substr(0, end));
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (line.empty()) continue;
        if (line.front() == '[') {
            size_t close = line.find(']');
            if (close == std::string_view::npos) continue;
            m_sections.push_back(Section{std::string(Trim(line.substr(1, close - 1))), {}});
            current = &m_sections.back();
            continue;
        }
        size_t eq = line.find('=');
        // Keys before the first section header belong to no section and cannot be asked for.
        if (eq == std::string_view::npos || !current) continue;
        current->entries.push_back(
            Entry{std::string(Trim(line.substr(0, eq))), std::string(Unquote(Trim(line.substr(eq + 1))))});
    }
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
    for (const Section& s : m_sections)
        if (SameName(s.name, name)) return &s;
    return nullptr;
}

const std::string* IniFile::FindValue(std::string_view section, std::string_view key) const {
    const Section* s = FindSection(section);
    if (!s) return nullptr;
    for (const Entry& e : s->entries)
        if (SameName(e.key, key)) return &e.value;
    return nullptr;
}

bool IniFile::HasSection(std::string_view section) const {
    return FindSection(section) != nullptr;
}

int IniFile::GetInt(std::string_view section, std::string_view key, int def) const {
    const std::string* v = FindValue(section, key);
    if (!v || v->empty()) return def;
    size_t i = 0;
    bool negative = false;
    if (i < v->size() && ((*v)[i] == '+' || (*v)[i] == '-')) negative = (*v)[i++] == '-';
    long long n = 0;
    for (; i < v->size() && (*v)[i] >= '0' && (*v)[i] <= '9'; ++i) {
        n = n * 10 + ((*v)[i] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1) n = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) n = -n;
    if (n > INT_MAX) return INT_MAX;
    if (n < INT_MIN) return INT_MIN;
    return static_cast<int>(n);
}

std::string IniFile::GetString(std::string_view section, std::string_view key, std::string_view def,
                               size_t maxLen) const {
    const std::string* v = FindValue(section, key);
    return Cut(v ? std::string_view(*v) : def, maxLen);
}

}  // namespace zeza
