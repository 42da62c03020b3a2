#include "platform/WholeFile.h"

#include <cstdio>
#include <memory>

namespace zeza {

WholeFileRead ReadWholeFile(const std::filesystem::path& path, std::string& bytes) {
    bytes.clear();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return WholeFileRead::NotOpened;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file.get())) > 0) bytes.append(buf, n);
    return std::ferror(file.get()) ? WholeFileRead::ReadError : WholeFileRead::Read;
}

}  // namespace zeza
