#pragma once

#include <string>

namespace zeza {

// The folder for downloaded temporary files: $XDG_CACHE_HOME/zeza, else
// ~/.cache/zeza, created when missing; "." when neither can be made.
std::string FindCacheFolder();

// Creates folder (and the folders above it) when it is missing; true when it
// is a folder afterwards.
bool MakeCacheFolder(const std::string& folder);

}  // namespace zeza
