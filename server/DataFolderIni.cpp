#include "server/DataFolderIni.h"

#include <cctype>
#include <charconv>

#include "platform/TextLines.h"

namespace zeza::server {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// A value written in one pair of quotes (stkTime="1300000100") is the text
// between them, as in the program's own INI reading.
std::string_view Unquote(std::string_view s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

std::optional<long long> ParseInteger(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    long long v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

DataFolderIni DataFolderIni::Parse(std::string_view text) {
    DataFolderIni ini;
    std::string section;
    ForEachLine(text, [&](std::string_view cut) {
        const std::string_view line = Trim(cut);
        if (line.empty() || line.front() == ';' || line.front() == '#') return;
        if (line.front() == '[') {
            size_t close = line.find(']');
            if (close != std::string_view::npos) section = Lower(Trim(line.substr(1, close - 1)));
            return;
        }
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) return;
        ini.m_entries.push_back(
            {section, Lower(Trim(line.substr(0, eq))), std::string(Unquote(Trim(line.substr(eq + 1))))});
    });
    return ini;
}

std::optional<std::string> DataFolderIni::Get(std::string_view section, std::string_view key) const {
    std::string s = Lower(section), k = Lower(key);
    for (const Entry& e : m_entries)
        if (e.section == s && e.key == k) return e.value;
    return std::nullopt;
}

std::optional<std::string> DataFolderIni::GetAnySection(std::string_view key) const {
    std::string k = Lower(key);
    for (const Entry& e : m_entries)
        if (e.key == k) return e.value;
    return std::nullopt;
}

std::optional<long long> DataFolderIni::GetInt(std::string_view section, std::string_view key) const {
    auto v = Get(section, key);
    if (!v) return std::nullopt;
    return ParseInteger(*v);
}

}  // namespace zeza::server
