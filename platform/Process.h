#pragma once

#include <string>

#include "platform/Spawn.h"

namespace zeza {

// The running program's file, as the system names it; "" when it does not tell.
std::string RunningProgramPath();

// Lets everyone read and start the file at path and its owner write it (0755). True when done.
bool MakeExecutable(const std::string& path);

// Ends the process at once with code: no destructors, exit handlers or stdio flushes run.
[[noreturn]] void ExitNow(int code);

}  // namespace zeza
