#include "tests/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "db/CFundDb.h"
#include "platform/GbkCodec.h"
#include "platform/ServerConfig.h"
#include "platform/UrlDownload.h"
#include "sync/MemoryFeeds.h"

namespace zeza::test {

ScopedTempDir::ScopedTempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "zeza-test-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    m_path = templ;
    m_previous = std::filesystem::current_path();
    std::filesystem::current_path(m_path);
}

ScopedTempDir::~ScopedTempDir() {
    std::error_code ec;
    std::filesystem::current_path(m_previous, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string ReadFileBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFileBytes(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string G(const std::string& utf8) {
    return Utf8ToGbk(utf8);
}

std::string MarkScript(const std::string& who, const std::filesystem::path& mark) {
    return "#!/bin/sh\nprintf '" + who + "' > '" + mark.string() + ".tmp' && mv '" + mark.string() +
           ".tmp' '" + mark.string() + "'\n";
}

std::string WaitForFile(const std::filesystem::path& p, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!std::filesystem::exists(p) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ReadFileBytes(p);
}

ProgramRun RunProgram(const std::vector<std::string>& args, const std::filesystem::path& folder,
                      const std::filesystem::path& out, std::chrono::seconds limit) {
    using Clock = std::chrono::steady_clock;
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ProgramRun run;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0 || chdir(folder.c_str()) != 0) _exit(120);
        execv(argv[0], argv.data());
        _exit(121);
    }
    if (pid < 0) return run;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() - start > limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.exited = WIFEXITED(status);
    run.exitCode = run.exited ? WEXITSTATUS(status) : -1;
    run.out = ReadFileBytes(out);
    return run;
}

ControlFile::ControlFile(long long listTime, long long stkTime, long long estTime)
    : m_fu("[FU]\r\nlistTime=" + std::to_string(listTime) + "\r\nstkTime=" + std::to_string(stkTime) +
           "\r\nestTime=" + std::to_string(estTime) + "\r\n") {}

ControlFile& ControlFile::Fu(const std::string& key, long long value) {
    m_fu += key + "=" + std::to_string(value) + "\r\n";
    return *this;
}

ControlFile& ControlFile::Ver(const std::string& key, const std::string& value) {
    m_ver += key + "=" + value + "\r\n";
    return *this;
}

ControlFile& ControlFile::Version(int v, int updateFu) {
    Ver("LastVer", std::to_string(v));
    Ver("UpdateVer", std::to_string(v));
    return Ver("UpdateFu", std::to_string(updateFu));
}

ControlFile& ControlFile::VerText(const std::string& lines) {
    m_ver += lines;
    return *this;
}

std::string ControlFile::Text() const {
    return m_fu + "[VER]\r\n" + m_ver;
}

void ResetCoreTestHooks() {
    SetServerBaseUrlForTesting("");
    SetDownloadLowSpeedForTesting(0, 0);
    SetDownloadSizeLimitForTesting(0);
    CFundDb::SetLastControlFetchTimeForTesting(0);
    CFundDb::SetProgramPathForTesting("");
    CFundDb::SetRebuildStageHookForTesting(nullptr);
    ResetMemoryFeedsForTesting();
}

}  // namespace zeza::test
