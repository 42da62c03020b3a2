// The program's side of the self-update: fetch the offered program file, write
// out the updater carried inside the program, start it and end.
#include "db/CFundDb.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/InstallKind.h"
#include "platform/Process.h"
#include "platform/Sha256.h"
#include "platform/UrlDownload.h"
#include "platform/WholeFile.h"
#include "updater/UpdaterProgram.h"
#include "zeza/BuildConfig.h"

namespace zeza {
namespace {

constexpr const char* kUpdaterFile = "TaviroUpdater.exe";
constexpr const char* kParkedFile = "UpdateTmp.exe.old";

std::mutex g_pathMutex;
std::string g_programPathOverride;

std::string ProgramPath() {
    {
        std::lock_guard lock(g_pathMutex);
        if (!g_programPathOverride.empty()) return g_programPathOverride;
    }
    return RunningProgramPath();
}

// "" when the file cannot be read whole: it then matches no published digest.
std::string FileSha256(const std::string& path) {
    std::string bytes;
    if (ReadWholeFile(path, bytes) != WholeFileRead::Read) return std::string();
    return Sha256::Hex(bytes);
}

bool SameHex(std::string a, std::string b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Only a file this system can start may take the program's place: an error
// page delivered as a success, or an empty answer, would otherwise leave the
// user with no working program at all.
bool IsStartableProgram(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[4] = {};
    in.read(head, sizeof head);
    const std::string_view got(head, static_cast<size_t>(in.gcount()));
    return got.starts_with("\177ELF") || got.starts_with("#!");
}

bool WriteUpdater() {
    std::span<const unsigned char> bytes = UpdaterProgramBytes();
    std::ofstream out(kUpdaterFile, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) return false;
    return MakeExecutable(kUpdaterFile);
}

}  // namespace

void CFundDb::SetProgramPathForTesting(const std::string& path) {
    std::lock_guard lock(g_pathMutex);
    g_programPathOverride = path;
}

bool CFundDb::IsPackagedProgram() {
    const std::string program = ProgramPath();
    return !program.empty() && IsPackageInstall(program);
}

int CFundDb::LaunchSelfUpdate(const DownloadProgress& progress) {
    // Every transfer asks the caller whether to go on; the offer's own bytes are not the program's.
    bool cancelled = false;
    const auto ask = [&](int64_t received, int64_t total) {
        if (progress && !progress(received, total)) cancelled = true;
        return !cancelled;
    };
    ServerControl offer;
    if (!FetchControlFile(offer, [&](int64_t, int64_t) { return ask(0, 0); })) return cancelled ? -6 : -1;
    if (offer.LastVer <= kProgramVersion) return 0;

    const std::string program = ProgramPath();
    if (program.empty() || offer.UpdatePath.empty()) return -4;
    // The updater moves the download with a plain rename, so it must lie on
    // the program's own volume: beside the program file.
    const std::string download = program + ".download";
    if (!DownloadToFile(offer.UpdatePath, download, ask)) return cancelled ? -6 : -4;
    if (cancelled) {
        // Asked to stop just as the last byte came in.
        std::remove(download.c_str());
        return -6;
    }
    const bool intact = offer.UpdateSha256.empty() || SameHex(FileSha256(download), offer.UpdateSha256);
    if (!intact || !IsStartableProgram(download)) {
        std::remove(download.c_str());
        return -4;
    }
    MakeExecutable(download);

    if (!WriteUpdater()) {
        std::remove(download.c_str());
        return -5;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // Both paths are passed as whole arguments, so blanks in them do no harm.
    const std::string updater = std::string("./") + kUpdaterFile;
    if (!SpawnDetached(updater.c_str(), program.c_str(), download.c_str())) return -5;

    // Nothing is held open between operations, so the process can end here;
    // ending at once keeps other threads from running into torn-down globals.
    std::fflush(nullptr);
    ExitNow(0);
}

void CFundDb::RemoveUpdateLeftovers() {
    // A leftover that cannot be deleted now is tried again at the next start.
    std::error_code ec;
    std::filesystem::remove(std::string("./") + kParkedFile, ec);
    std::filesystem::remove(std::string("./") + kUpdaterFile, ec);
}

}  // namespace zeza
