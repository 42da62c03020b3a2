#include "platform/ControlFileIni.h"

#include <climits>

#include "platform/TextLines.h"
#include "platform/WholeFile.h"

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

bool ControlFileIni::Load(const std::string& path) {
    m_sections.clear();
    std::string bytes;
    if (ReadWholeFile(path, bytes) != WholeFileRead::Read) return false;
    Parse(bytes);
    return true;
}

void ControlFileIni::Parse(std::string_view bytes) {
    m_sections.clear();
    // A UTF-8 byte order mark would otherwise hide the first section header.
    SkipByteOrderMark(bytes);
    Section* current = nullptr;
    ForEachLine(bytes, [&](std::string_view cut) {
        const std::string_view line = Trim(cut);
        if (line.empty()) return;
        if (line.front() == '[') {
            size_t close = line.find(']');
            if (close == std::string_view::npos) return;
            m_sections.push_back(Section{std::string(Trim(line.substr(1, close - 1))), {}});
            current = &m_sections.back();
            return;
        }
        size_t eq = line.find('=');
        // Keys before the first section header belong to no section and cannot be asked for.
        if (eq == std::string_view::npos || !current) return;
        current->entries.push_back(
            Entry{std::string(Trim(line.substr(0, eq))), std::string(Unquote(Trim(line.substr(eq + 1))))});
    });
}

const ControlFileIni::Section* ControlFileIni::FindSection(std::string_view name) const {
    for (const Section& s : m_sections)
        if (SameName(s.name, name)) return &s;
    return nullptr;
}

const std::string* ControlFileIni::FindValue(std::string_view section, std::string_view key) const {
    const Section* s = FindSection(section);
    if (!s) return nullptr;
    for (const Entry& e : s->entries)
        if (SameName(e.key, key)) return &e.value;
    return nullptr;
}

bool ControlFileIni::HasSection(std::string_view section) const {
    return FindSection(section) != nullptr;
}

int ControlFileIni::GetInt(std::string_view section, std::string_view key, int def) const {
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

std::string ControlFileIni::GetString(std::string_view section, std::string_view key, std::string_view def,
                                      size_t maxLen) const {
    const std::string* v = FindValue(section, key);
    return Cut(v ? std::string_view(*v) : def, maxLen);
}

}  // namespace zeza
