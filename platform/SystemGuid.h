#pragma once

#include <string>

namespace zeza {

// A new GUID from the operating system as 36 upper-case characters in
// 8-4-4-4-12 groups, without braces. False (text untouched) on failure.
bool CreateGuidText(std::string& text);

}  // namespace zeza
