#include "platform/Process.h"

#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace zeza {

std::string RunningProgramPath() {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

bool MakeExecutable(const std::string& path) {
    return ::chmod(path.c_str(), 0755) == 0;
}

void ExitNow(int code) {
    ::_exit(code);
}

}  // namespace zeza
