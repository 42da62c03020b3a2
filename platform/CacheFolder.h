#pragma once

#include <string>

namespace zeza {

// The folder for downloaded temporary files: $XDG_CACHE_HOME/zeza, else
// ~/.cache/zeza, created when missing; "." when neither can be made.
std::string FindCacheFolder();

}  // namespace zeza
