#pragma once

#include <ctime>

namespace zeza {

// The calendar date and time of t in the system's time zone; all fields zero
// when t has no such date.
std::tm LocalTimeOf(std::time_t t);

}  // namespace zeza
