#include "tests/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/GbkCodec.h"

namespace zeza::test {

ScopedTempDir::ScopedTempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "zeza-test-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    m_path = templ;
    m_previous = std::filesystem::current_path();
    std::filesystem::current_path(m_path);
}

ScopedTempDir::~ScopedTempDir() {
    std::error_code ec;
    std::filesystem::current_path(m_previous, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string ReadFileBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFileBytes(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string G(const std::string& utf8) { return Utf8ToGbk(utf8); }

}  // namespace zeza::test
