#pragma once

#include <filesystem>
#include <string>

namespace zeza {

// How reading a whole file went.
enum class WholeFileRead {
    Read,       // bytes hold the whole file
    NotOpened,  // missing, not readable, or not a file that can be opened
    ReadError,  // opened, but an error stopped the reading part-way
};

// Replaces bytes with the whole content of the file at path, byte for byte;
// a missing or unopenable file is NotOpened, an I/O error part-way ReadError.
[[nodiscard]] WholeFileRead ReadWholeFile(const std::filesystem::path& path, std::string& bytes);

}  // namespace zeza
