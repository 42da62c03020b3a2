#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace zeza::test {

// A fresh temporary folder that is the current directory for the life of the
// object, so ./Zeza.db of the code under test lands there. Removed afterwards.
class ScopedTempDir {
  public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

  private:
    std::filesystem::path m_path;
    std::filesystem::path m_previous;
};

// Whole file as bytes ("" when missing).
std::string ReadFileBytes(const std::filesystem::path& p);
// Writes bytes, replacing the file.
void WriteFileBytes(const std::filesystem::path& p, const std::string& bytes);
// UTF-8 literal to GBK bytes, for readable test data.
std::string G(const std::string& utf8);

// A shell script that, run, writes who to the file mark (through a rename, so
// a reader sees all of it or nothing): it tells that and which program ran.
std::string MarkScript(const std::string& who, const std::filesystem::path& mark);
// Waits up to limit for the file p; its content, or "" when none came.
std::string WaitForFile(const std::filesystem::path& p, std::chrono::milliseconds limit);

// How a program started by RunProgram ended.
struct ProgramRun {
    bool exited = false;  // false: not started, killed after the time limit, or crashed
    int exitCode = -1;
    std::string out;  // its standard output
    double seconds = 0;
};
// Runs argv[0] with argv in folder, its standard output going to the file out, and
// waits at most limit for it to end (then kills it).
ProgramRun RunProgram(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                      const std::filesystem::path& out,
                      std::chrono::seconds limit = std::chrono::seconds(15));

// The data server's control file (what /fund/fund.php answers), CR LF lines:
// [FU] with the three feed times, then [VER] with the lines added to it.
//   ControlFile(list, stk, est).Version(13).Ver("UpdatePath", url)
class ControlFile {
  public:
    ControlFile(long long listTime, long long stkTime, long long estTime);
    // Adds key=value to [FU] (a feed kept in memory: "accTime").
    ControlFile& Fu(const std::string& key, long long value);
    // Adds key=value to [VER].
    ControlFile& Ver(const std::string& key, const std::string& value);
    // LastVer and UpdateVer v, UpdateFu updateFu.
    ControlFile& Version(int v, int updateFu = 0);
    // Lines taken as they are (their own line ends) after those added so far.
    ControlFile& VerText(const std::string& lines);
    std::string Text() const;
    operator std::string() const { return Text(); }

  private:
    std::string m_fu;
    std::string m_ver;
};

// Puts every test hook of the core back as a program has it (server URL, download
// limits, last control fetch, program path, rebuild stage hook, feeds kept in memory). The GUI tests'
// ResetTestHooks (tests/gui/GuiTestSupport.h) also resets the GUI's hooks.
void ResetCoreTestHooks();

}  // namespace zeza::test
