#include "sync/FeedFile.h"

namespace zeza {

FeedFile::~FeedFile() {
    if (m_file) std::fclose(m_file);
}

bool FeedFile::Open(const std::string& path) {
    if (m_file) std::fclose(m_file);
    m_file = std::fopen(path.c_str(), "rb");
    return m_file != nullptr;
}

bool FeedFile::ReadAll(std::string& out) {
    out.clear();
    if (!m_file) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, m_file)) > 0) out.append(buf, n);
    return !std::ferror(m_file);
}

}  // namespace zeza
