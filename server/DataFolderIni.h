#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeza::server {

// The data server's reader of the INI texts of its data folder (times.ini, update/update.ini): "[section]"
// lines, "key=value" lines, ";" or "#" comments. Section and key names match without regard to case, as the
// program's own INI reading does.
class DataFolderIni {
  public:
    static DataFolderIni Parse(std::string_view text);

    // Value of key in section, trimmed and without one pair of enclosing quotes; nullopt
    // when absent. The first occurrence wins.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Value of key in whichever section holds it first (keys before any section count too).
    std::optional<std::string> GetAnySection(std::string_view key) const;
    // Integer value; nullopt when absent or not a whole decimal number.
    std::optional<long long> GetInt(std::string_view section, std::string_view key) const;

  private:
    struct Entry {
        std::string section;
        std::string key;
        std::string value;
    };
    std::vector<Entry> m_entries;
};

// Whole decimal integer (optional sign, surrounding blanks allowed); nullopt otherwise.
std::optional<long long> ParseInteger(std::string_view text);

}  // namespace zeza::server
