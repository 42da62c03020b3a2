#include "platform/CacheFolder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zeza {
namespace {

bool MakeFolder(const std::filesystem::path& p) {
    std::error_code ec;
    std::filesystem::create_directories(p, ec);
    return std::filesystem::is_directory(p, ec);
}

}  // namespace

std::string FindCacheFolder() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && *xdg == '/') {
        std::filesystem::path p = std::filesystem::path(xdg) / "zeza";
        if (MakeFolder(p)) return p.string();
    }
    const char* home = std::getenv("HOME");
    if (home && *home) {
        std::filesystem::path p = std::filesystem::path(home) / ".cache" / "zeza";
        if (MakeFolder(p)) return p.string();
    }
    return ".";
}

bool MakeCacheFolder(const std::string& folder) {
    return MakeFolder(folder);
}

}  // namespace zeza
