#include "platform/InstallKind.h"

#include <system_error>

namespace zeza {

bool IsPackageInstall(const std::filesystem::path& programFile) {
    std::error_code ec;
    std::filesystem::path program = programFile;
    if (program.empty()) {
        program = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (ec) return false;
    }
    // A bare name would otherwise look for the marker below the current folder.
    program = std::filesystem::absolute(program, ec);
    if (ec) return false;
    const std::filesystem::path prefix = program.parent_path().parent_path();
    return std::filesystem::is_regular_file(prefix / kPackageMarker, ec);
}

}  // namespace zeza
