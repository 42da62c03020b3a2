#pragma once

#include <filesystem>
#include <string>

namespace zeza::test {

// A fresh temporary folder that is the current directory for the life of the
// object, so ./Zeza.db of the code under test lands there. Removed afterwards.
class ScopedTempDir {
public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
    std::filesystem::path m_previous;
};

// Whole file as bytes ("" when missing).
std::string ReadFileBytes(const std::filesystem::path& p);
// Writes bytes, replacing the file.
void WriteFileBytes(const std::filesystem::path& p, const std::string& bytes);
// UTF-8 literal to GBK bytes, for readable test data.
std::string G(const std::string& utf8);

}  // namespace zeza::test
