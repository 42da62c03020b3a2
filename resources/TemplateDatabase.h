#pragma once

#include <span>

namespace zeza {

// The complete template database file (15360 bytes) that becomes Zeza.db on first start
// and after a rebuild. Generated at build time from resources/template/.
std::span<const unsigned char> TemplateDatabaseBytes();

}  // namespace zeza
