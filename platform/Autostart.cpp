#include "platform/Autostart.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/AtomicFile.h"

namespace zeza {

namespace {

std::string g_testFolder;

constexpr const char* kEntryName = "zeza.desktop";

// The program as one quoted argument of Exec: the quoting's own characters escaped, "%" doubled
// (a field code otherwise). The value is escaped as a string after this.
std::string QuoteExecArgument(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return out + "\"";
}

// Backslashes, line ends and tabs of a plain string value.
std::string EscapeValue(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string EntryPath() {
    const std::string folder = AutostartFolder();
    return folder.empty() ? std::string() : folder + "/" + kEntryName;
}

}  // namespace

std::string AutostartFolder() {
    if (!g_testFolder.empty()) return g_testFolder;
    // A relative XDG_CONFIG_HOME is invalid and is ignored, as for every program.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return std::string(config) + "/autostart";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.config/autostart";
    return {};
}

bool AutostartEnabled() {
    const std::string path = EntryPath();
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

int SetAutostart(bool on, const std::string& program, const std::string& workDir) {
    const std::string path = EntryPath();
    if (path.empty()) return -1;
    std::error_code ec;
    if (!on) {
        std::filesystem::remove(path, ec);
        return ec ? -2 : 0;
    }
    if (program.empty()) return -2;
    std::filesystem::create_directories(AutostartFolder(), ec);
    if (ec) return -2;
    // The program keeps Zeza.db in the folder it starts from, so the login start needs the same one.
    const std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Zeza\n"
        "Exec=" +
        EscapeValue(QuoteExecArgument(program)) +
        "\n"
        "Path=" +
        EscapeValue(workDir) +
        "\n"
        "Icon=zeza\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    return WriteFileAtomically(path, entry) ? 0 : -2;
}

void SetAutostartFolderForTesting(const std::string& folder) {
    g_testFolder = folder;
}

}  // namespace zeza
