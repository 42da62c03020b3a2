#pragma once

#include <filesystem>

namespace zeza {

// The file the Debian package installs for <prefix>/bin/Zeza, relative to <prefix>.
// Other installs (the build folder, cmake --install into a prefix of the user's
// own) have none, so they keep updating themselves.
inline constexpr const char* kPackageMarker = "share/zeza/package-install";

// What the program says instead of updating itself when IsPackageInstall holds.
inline constexpr const char* kPackageUpdateText =
    "本程序由系统的软件包管理器安装，不能自行升级。\n请用软件包管理器（例如 apt）升级到最新版。";

// True when the program file programFile was installed
// by the system's package manager: its prefix holds kPackageMarker. Such a copy
// must not replace its own file, which the package manager owns.
bool IsPackageInstall(const std::filesystem::path& programFile);

}  // namespace zeza
