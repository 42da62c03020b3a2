// The updater run as the real program on real files in a temporary folder.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/TestSupport.h"

namespace fs = std::filesystem;
using zeza::test::ReadFileBytes;
using zeza::test::ScopedTempDir;
using zeza::test::WriteFileBytes;

namespace {

using Clock = std::chrono::steady_clock;

struct UpdaterRun {
    bool exited = false;  // false: killed after the time limit, or crashed
    int exitCode = -1;
    std::string out;
    double seconds = 0;
};

// Runs the updater with args in folder work, its standard output going to a
// file outside that folder, and waits at most 15 s for it to end.
UpdaterRun RunUpdater(const fs::path& work, const std::vector<std::string>& args) {
    const fs::path outFile = work.parent_path() / "updater-out.txt";
    std::vector<char*> argv{const_cast<char*>(ZEZA_UPDATER_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    UpdaterRun run;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0 || chdir(work.c_str()) != 0) _exit(120);
        execv(ZEZA_UPDATER_PATH, argv.data());
        _exit(121);
    }
    if (pid < 0) return run;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() - start > std::chrono::seconds(15)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.exited = WIFEXITED(status);
    run.exitCode = run.exited ? WEXITSTATUS(status) : -1;
    run.out = ReadFileBytes(outFile);
    return run;
}

// A program that records that it ran, and which one it was, in mark.
std::string MarkScript(const std::string& who, const fs::path& mark) {
    return "#!/bin/sh\nprintf '" + who + "' > '" + mark.string() + ".tmp' && mv '" + mark.string() +
           ".tmp' '" + mark.string() + "'\n";
}

void WriteProgram(const fs::path& p, const std::string& bytes, bool executable = true) {
    WriteFileBytes(p, bytes);
    fs::permissions(p, executable ? fs::perms(0755) : fs::perms(0644));
}

// Waits up to 5 s for the mark a started program leaves; its content, or "" when none came.
std::string WaitForMark(const fs::path& mark) {
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (!fs::exists(mark) && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ReadFileBytes(mark);
}

// Every file in a folder with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir))
        files[e.path().filename().string()] = ReadFileBytes(e.path());
    return files;
}

class Updater : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(m_work);
        m_oldBytes = MarkScript("old", m_mark);
        m_newBytes = MarkScript("new", m_mark);
    }

    ScopedTempDir m_tmp;
    const fs::path m_work = m_tmp.Path() / "work";  // the updater's current folder
    const fs::path m_program = m_work / "Zeza";
    const fs::path m_fresh = m_work / "Zeza.download";
    const fs::path m_parked = m_work / "UpdateTmp.exe.old";
    const fs::path m_mark = m_tmp.Path() / "ran";
    std::string m_oldBytes;
    std::string m_newBytes;
};

TEST_F(Updater, WrongArgumentCountChangesNothing) {
    WriteProgram(m_program, m_oldBytes);
    WriteProgram(m_fresh, m_newBytes);
    const auto before = Snapshot(m_work);

    const std::vector<std::vector<std::string>> counts = {
        {}, {m_program.string()}, {m_program.string(), m_fresh.string(), m_fresh.string()}};
    for (const auto& args : counts) {
        SCOPED_TRACE(args.size());
        const UpdaterRun run = RunUpdater(m_work, args);
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.exitCode, 255);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(Snapshot(m_work), before);
        EXPECT_LT(run.seconds, 0.4) << "it waited as if to start the program";
    }
    EXPECT_FALSE(fs::exists(m_mark));
}

TEST_F(Updater, SwapsFilesAndStartsNewProgram) {
    // A parked program left by an earlier update must not stop this one.
    for (const bool staleParked : {false, true}) {
        SCOPED_TRACE(staleParked ? "stale parked file" : "clean folder");
        fs::remove(m_parked);
        fs::remove(m_mark);
        WriteProgram(m_program, m_oldBytes);
        WriteProgram(m_fresh, m_newBytes);
        if (staleParked) WriteFileBytes(m_parked, "an older program");

        const UpdaterRun run = RunUpdater(m_work, {m_program.string(), m_fresh.string()});
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "Taviro Update...");
        EXPECT_EQ(WaitForMark(m_mark), "new");
        EXPECT_EQ(ReadFileBytes(m_program), m_newBytes);
        EXPECT_EQ(ReadFileBytes(m_parked), m_oldBytes);
        EXPECT_FALSE(fs::exists(m_fresh));
        // The first start comes half a second after the moves, and the first success ends it.
        EXPECT_GE(run.seconds, 0.45);
        EXPECT_LT(run.seconds, 2.0);
    }
}

TEST_F(Updater, GivesUpAfterTenFailedStarts) {
    // The new file arrives without execute permission: swapped in, but never startable.
    WriteProgram(m_program, m_oldBytes);
    WriteProgram(m_fresh, m_newBytes, false);

    const UpdaterRun run = RunUpdater(m_work, {m_program.string(), m_fresh.string()});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Taviro Update...");
    // Ten waits of half a second each: never less than 5 s, whatever the load.
    EXPECT_GE(run.seconds, 4.9);
    EXPECT_LT(run.seconds, 8.0);
    EXPECT_EQ(ReadFileBytes(m_program), m_newBytes);
    EXPECT_EQ(ReadFileBytes(m_parked), m_oldBytes);
    EXPECT_FALSE(fs::exists(m_mark));
}

TEST_F(Updater, MovesProgramBackWhenNewFileCannotBeMovedIn) {
    std::vector<fs::path> unmovable = {m_tmp.Path() / "no such folder" / "Zeza.download"};
    // A download on another volume cannot be renamed into place.
    struct stat here {
    }, shm{};
    if (stat(m_work.c_str(), &here) == 0 && stat("/dev/shm", &shm) == 0 && here.st_dev != shm.st_dev &&
        access("/dev/shm", W_OK) == 0)
        unmovable.push_back(fs::path("/dev/shm") / ("zeza-updater-test-" + std::to_string(getpid())));

    for (const auto& fresh : unmovable) {
        SCOPED_TRACE(fresh.string());
        fs::remove(m_mark);
        WriteProgram(m_program, m_oldBytes);
        if (fs::exists(fresh.parent_path())) WriteProgram(fresh, m_newBytes);

        const UpdaterRun run = RunUpdater(m_work, {m_program.string(), fresh.string()});
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "Taviro Update...");
        // The old program is back in place, nothing is missing, and it was started again.
        EXPECT_EQ(ReadFileBytes(m_program), m_oldBytes);
        EXPECT_FALSE(fs::exists(m_parked));
        EXPECT_EQ(WaitForMark(m_mark), "old");
        if (fs::exists(fresh.parent_path())) {
            EXPECT_EQ(ReadFileBytes(fresh), m_newBytes);
            fs::remove(fresh);
        }
    }
}

}  // namespace
