#pragma once

#include <cstdio>
#include <string>

namespace zeza {

// A downloaded feed file, opened first and read whole later, so that a feed
// can tell "cannot open" from "read error" as its results require.
class FeedFile {
  public:
    FeedFile() = default;
    ~FeedFile();
    FeedFile(const FeedFile&) = delete;
    FeedFile& operator=(const FeedFile&) = delete;

    bool Open(const std::string& path);
    // The rest of the file's bytes; false on a read error.
    bool ReadAll(std::string& out);

  private:
    std::FILE* m_file = nullptr;
};

}  // namespace zeza
