#pragma once

#include <span>

namespace zeza {

// The bytes of the updater program built together with this program.
std::span<const unsigned char> UpdaterProgramBytes();

}  // namespace zeza
