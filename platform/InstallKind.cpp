#include "platform/InstallKind.h"

#include <system_error>

namespace zeza {

bool IsPackageInstall(const std::filesystem::path& programFile) {
    std::error_code ec;
    // A bare name would otherwise look for the marker below the current folder.
    const std::filesystem::path program = std::filesystem::absolute(programFile, ec);
    if (ec) return false;
    const std::filesystem::path prefix = program.parent_path().parent_path();
    return std::filesystem::is_regular_file(prefix / kPackageMarker, ec);
}

}  // namespace zeza
