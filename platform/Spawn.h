#pragma once

// Starting another program. Header-only and free of the C++ library, so the
// updater, which links nothing but the C runtime, compiles it in as well.
#include <spawn.h>
#include <sys/types.h>
#include <unistd.h>

extern char** environ;

namespace zeza {

// Starts the program file path (no search of PATH) with args as its arguments
// after its own path, in the current folder and environment, and does not wait
// for it. True when it started.
template <class... Args>
bool SpawnDetached(const char* path, Args... args) {
    char* const argv[] = {const_cast<char*>(path), const_cast<char*>(static_cast<const char*>(args))...,
                          nullptr};
    pid_t pid = 0;
    return posix_spawn(&pid, path, nullptr, nullptr, argv, environ) == 0;
}

}  // namespace zeza
