#pragma once

#include <string>
#include <string_view>

namespace zeza {

// Writes bytes to a temporary file beside path, flushes it to disk and renames
// it over path, so path holds either its old content or all of the new one.
// False (and no temporary left behind) on any failure.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace zeza
