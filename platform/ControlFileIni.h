#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zeza {

// The program's reader of the control file the data server sends (fund.php),
// a private-profile (INI) text:
// "[section]" header lines and "key=value" lines, LF or CR LF line ends.
// Section and key names match without regard to ASCII case; names and values
// lose their surrounding blanks; when a section or a key within a section
// occurs twice, the first one counts. A value enclosed in one pair of double
// or single quotes loses them. Lines that are neither are ignored.
class ControlFileIni {
  public:
    ControlFileIni() = default;
    explicit ControlFileIni(std::string_view bytes) { Parse(bytes); }

    // Replaces the content with the file's; false (and empty) when it cannot be read.
    bool Load(const std::string& path);
    void Parse(std::string_view bytes);

    bool HasSection(std::string_view section) const;

    // The leading decimal number of the value (optional sign, then digits;
    // "12abc" is 12, "abc" is 0), clamped to the int range; def when the key
    // is missing or its value empty.
    int GetInt(std::string_view section, std::string_view key, int def) const;

    // The value cut to at most maxLen - 1 bytes, like a fixed buffer of maxLen
    // bytes; def (cut the same way) when the key is missing. maxLen 0 gives "".
    std::string GetString(std::string_view section, std::string_view key, std::string_view def,
                          size_t maxLen) const;

  private:
    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };

    const Section* FindSection(std::string_view name) const;
    const std::string* FindValue(std::string_view section, std::string_view key) const;

    std::vector<Section> m_sections;
};

}  // namespace zeza
