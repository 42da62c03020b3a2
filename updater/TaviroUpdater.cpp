// Puts a downloaded new program file in place of the running program and
// starts it. Started by the program itself just before it exits:
//   TaviroUpdater.exe <program file> <new program file>
// Links nothing but the C/C++ runtime and the operating system.
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/Spawn.h"

namespace {

const char kParkedName[] = "UpdateTmp.exe.old";

void Sleep500ms() {
    timespec ts{0, 500L * 1000 * 1000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return -1;
    const char* program = argv[1];
    const char* fresh = argv[2];

    std::printf("Taviro Update...");
    std::fflush(stdout);

    const bool parked = std::rename(program, kParkedName) == 0;
    if (std::rename(fresh, program) != 0 && parked) {
        // The new file could not be moved in (another volume, say): put the
        // old program back rather than leave no program at all.
        std::rename(kParkedName, program);
    }

    for (int attempt = 0; attempt < 10; ++attempt) {
        Sleep500ms();
        if (zeza::SpawnDetached(program)) return 0;
    }
    return 0;
}
