// The updater run as the real program on real files in a temporary folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/TestSupport.h"

namespace fs = std::filesystem;
using namespace zeza::test;

namespace {

// Runs the updater with args in folder work, its standard output going to a
// file outside that folder, and waits at most 15 s for it to end.
ProgramRun RunUpdater(const fs::path& work, std::vector<std::string> args) {
    args.insert(args.begin(), ZEZA_UPDATER_PATH);
    return RunProgram(args, work, work.parent_path() / "updater-out.txt");
}

void WriteProgram(const fs::path& p, const std::string& bytes, bool executable = true) {
    WriteFileBytes(p, bytes);
    fs::permissions(p, executable ? fs::perms(0755) : fs::perms(0644));
}

// Waits up to 5 s for the mark a started program leaves; its content, or "" when none came.
std::string WaitForMark(const fs::path& mark) {
    return WaitForFile(mark, std::chrono::seconds(5));
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

    // Runs the updater on m_program and fresh: it ends at once with 0, saying so.
    ProgramRun Update(const fs::path& fresh) {
        const ProgramRun run = RunUpdater(m_work, {m_program.string(), fresh.string()});
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "Taviro Update...");
        return run;
    }
};

TEST_F(Updater, WrongArgumentCountChangesNothing) {
    WriteProgram(m_program, m_oldBytes);
    WriteProgram(m_fresh, m_newBytes);
    const auto before = Snapshot(m_work);

    const std::vector<std::vector<std::string>> counts = {
        {}, {m_program.string()}, {m_program.string(), m_fresh.string(), m_fresh.string()}};
    for (const auto& args : counts) {
        SCOPED_TRACE(args.size());
        const ProgramRun run = RunUpdater(m_work, args);
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

        const ProgramRun run = Update(m_fresh);
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

    const ProgramRun run = Update(m_fresh);
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

        const ProgramRun run = Update(fresh);
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
