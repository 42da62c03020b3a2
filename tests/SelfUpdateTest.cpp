// The self-update from the program's side, end to end: the program runs in a
// process of its own (a successful launch ends it), against a data server on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "db/CFundDb.h"
#include "platform/ServerConfig.h"
#include "platform/Sha256.h"
#include "server/DataServer.h"
#include "tests/LocalHttpServer.h"
#include "tests/TestDataServer.h"
#include "tests/TestSupport.h"
#include "updater/UpdaterProgram.h"

namespace fs = std::filesystem;
using namespace zeza;
using namespace zeza::test;

namespace {

// What the child's LaunchSelfUpdate came to: the process ended with 0, or the value it returned.
constexpr int kEnded = 1;
constexpr int kChildFailed = -100;  // crashed, hung or ended with another code

// A port on 127.0.0.1 where nothing listens.
int ClosedPort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

// The control file of a server that offers version lastVer at updatePath.
std::string UpdateControl(int lastVer, const std::string& updatePath, const std::string& sha256) {
    return ControlFile(1200417988, 0, 0)
        .Version(lastVer)
        .Ver("UpdatePath", updatePath)
        .Ver("UpdateSha256", sha256);
}

class SelfUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("XDG_CACHE_HOME", m_dir.Path().c_str(), 1);
        { CFundDb first; }  // the database, before any child needs it
        m_oldBytes = MarkScript("old", m_mark);
        m_newBytes = MarkScript("new", m_mark);
        UseProgramFolder(m_dir.Path());
    }
    void TearDown() override {
        m_fixture.reset();
        if (!m_elsewhere.empty()) fs::remove_all(m_elsewhere);
        ResetCoreTestHooks();
        unsetenv("XDG_CACHE_HOME");
    }

    // A server whose answers the test writes, including control files the
    // reference server never sends; the program is pointed at it.
    LocalHttpServer& FixtureServer() {
        m_fixture = std::make_unique<LocalHttpServer>();
        m_fixture->Start();
        SetServerBaseUrlForTesting(m_fixture->Base());
        return *m_fixture;
    }

    // The running program's file is folder/Zeza, holding the old program.
    void UseProgramFolder(const fs::path& folder) {
        fs::create_directories(folder);
        m_program = folder / "Zeza";
        WriteFileBytes(m_program, m_oldBytes);
        fs::permissions(m_program, fs::perms(0755));
        CFundDb::SetProgramPathForTesting(m_program.string());
    }

    // A reference server whose data folder offers newBytes as version lastVer.
    void StartReferenceServer(int lastVer) {
        const fs::path data = m_dir.Path() / "data";
        fs::create_directories(data / "update");
        WriteFileBytes(data / "funds.txt", "000001|Fund A|gu|1200000000\r\n");
        WriteFileBytes(data / "navs.txt", "2008-11-14\r\n000001|3.1200|1.0560|1.0610\r\n");
        WriteFileBytes(data / "estimates.txt", "000001|1.0623\r\n");
        WriteFileBytes(data / "update" / "update.ini", "[VER]\r\nLastVer=" + std::to_string(lastVer) +
                                                           "\r\nUpdateVer=" + std::to_string(lastVer) +
                                                           "\r\nUpdateFu=0\r\nFile=Zeza-13\r\n");
        WriteFileBytes(data / "update" / "Zeza-13", m_newBytes);
        m_reference = StartDataServer(data);
        ASSERT_TRUE(m_reference);
        SetServerBaseUrlForTesting(m_reference->Url());
    }

    // Runs LaunchSelfUpdate in a program of its own started in the test's
    // current folder, with the program file and server this test set up; its
    // standard output (and the updater's) goes to child-out.txt.
    int LaunchInChild() {
        const ProgramRun run = RunProgram({ZEZA_SELF_UPDATE_CHILD, m_program.string(), ServerBaseUrl()},
                                          fs::current_path(), m_dir.Path() / "child-out.txt");
        if (!run.exited) return kChildFailed;
        if (run.exitCode == 0) return kEnded;
        if (run.exitCode >= 90 && run.exitCode <= 100) return run.exitCode - 100;
        return kChildFailed;
    }

    // Waits up to 10 s for the mark a started program leaves.
    std::string WaitForMark() const { return WaitForFile(m_mark, std::chrono::seconds(10)); }

    // A failed launch leaves the program as it was, starts nothing and keeps no download.
    void ExpectNothingStarted() const {
        EXPECT_EQ(ReadFileBytes(m_program), m_oldBytes);
        EXPECT_FALSE(fs::exists(m_dir.Path() / "TaviroUpdater.exe"));
        EXPECT_FALSE(fs::exists(m_dir.Path() / "UpdateTmp.exe.old"));
        EXPECT_FALSE(fs::exists(m_mark));
        EXPECT_EQ(ReadFileBytes(m_dir.Path() / "child-out.txt"), "");
        EXPECT_EQ(StrayFiles(), std::vector<std::string>{});
    }

    // Files in the current folder and the program's folder that neither the test
    // nor the update process is meant to leave there (a forgotten download, say).
    std::vector<std::string> StrayFiles() const {
        static const std::vector<std::string> known = {"Zeza",
                                                       "Zeza.db",
                                                       "zeza",
                                                       "data",
                                                       "ran",
                                                       "child-out.txt",
                                                       "TaviroUpdater.exe",
                                                       "UpdateTmp.exe.old",
                                                       "my programs"};
        std::vector<std::string> stray;
        for (const fs::path& folder : {m_dir.Path(), m_program.parent_path()}) {
            for (const auto& e : fs::directory_iterator(folder)) {
                const std::string name = e.path().filename().string();
                if (std::find(known.begin(), known.end(), name) == known.end())
                    stray.push_back(e.path().string());
            }
            if (folder == m_program.parent_path()) break;
        }
        return stray;
    }

    // The whole exchange against the reference server, then the next start's clean-up.
    // The old program is parked in the current folder when both lie on one volume.
    void ExpectSuccessfulUpdate(bool oldProgramParked = true) {
        StartReferenceServer(13);
        ASSERT_EQ(LaunchInChild(), kEnded);
        EXPECT_EQ(WaitForMark(), "new");
        EXPECT_EQ(ReadFileBytes(m_program), m_newBytes);
        EXPECT_EQ((fs::status(m_program).permissions() & fs::perms::owner_exec), fs::perms::owner_exec);
        if (oldProgramParked)
            EXPECT_EQ(ReadFileBytes(m_dir.Path() / "UpdateTmp.exe.old"), m_oldBytes);
        else
            EXPECT_FALSE(fs::exists(m_dir.Path() / "UpdateTmp.exe.old"));
        EXPECT_EQ(ReadFileBytes(m_dir.Path() / "child-out.txt"), "Taviro Update...");
        // The updater written out is exactly the one the program carries.
        const auto bytes = UpdaterProgramBytes();
        EXPECT_GT(bytes.size(), 0u);
        EXPECT_EQ(ReadFileBytes(m_dir.Path() / "TaviroUpdater.exe"),
                  std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        EXPECT_EQ(StrayFiles(), std::vector<std::string>{}) << "the download is the program now";

        CFundDb next;
        next.RemoveUpdateLeftovers();
        EXPECT_FALSE(fs::exists(m_dir.Path() / "TaviroUpdater.exe"));
        EXPECT_FALSE(fs::exists(m_dir.Path() / "UpdateTmp.exe.old"));
        EXPECT_EQ(ReadFileBytes(m_program), m_newBytes);
        EXPECT_TRUE(fs::exists(m_dir.Path() / "Zeza.db"));
    }

    ScopedTempDir m_dir;  // also the program's current folder
    fs::path m_mark = m_dir.Path() / "ran";
    fs::path m_program;
    std::string m_oldBytes;
    std::string m_newBytes;
    std::unique_ptr<server::DataServer> m_reference;
    std::unique_ptr<LocalHttpServer> m_fixture;
    fs::path m_elsewhere;  // a program folder on another volume, removed afterwards
};

TEST_F(SelfUpdate, ReplacesProgramStartsItAndNextStartCleansUp) {
    ExpectSuccessfulUpdate();
}

TEST_F(SelfUpdate, ProgramFolderWithBlanks) {
    UseProgramFolder(m_dir.Path() / "my programs");
    ExpectSuccessfulUpdate();
}

TEST_F(SelfUpdate, ProgramOnAnotherVolumeThanCurrentFolder) {
    // Started from a folder on another volume (a home folder, say): the download
    // must still be renamed into place, and the old program cannot be parked.
    struct stat here {
    }, shm{};
    if (stat(m_dir.Path().c_str(), &here) != 0 || stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev ||
        access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable volume at /dev/shm";
    m_elsewhere = fs::path("/dev/shm") / ("zeza-self-update-" + std::to_string(getpid()));
    UseProgramFolder(m_elsewhere);
    ExpectSuccessfulUpdate(false);
}

// An offer that is no newer, or whose program cannot be had or checked, starts
// nothing. Without a checksum to go by, an error page delivered as a success (or
// nothing at all) must not take the program's place either.
TEST_F(SelfUpdate, NoUsableNewerProgramStartsNothing) {
    LocalHttpServer& server = FixtureServer();
    const std::string url = server.Base() + "update/Zeza-13";
    const std::string sha = Sha256::Hex(m_newBytes);
    struct Offer {
        int version;
        std::string path;
        std::optional<std::string> body;  // none: 404
        std::string sha256;
        int result;
        bool downloads;
    };
    const Offer offers[] = {
        {12, url, m_newBytes, sha, 0, false},
        {13, url, std::nullopt, sha, -4, true},
        {13, "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/update/Zeza-13", std::nullopt, sha, -4,
         false},
        {13, "", std::nullopt, sha, -4, false},
        {13, url, m_newBytes, Sha256::Hex(m_oldBytes), -4, true},
        {13, url, "<html><body>Please sign in to use this network</body></html>", "", -4, true},
        {13, url, "", "", -4, true}};
    for (const Offer& o : offers) {
        SCOPED_TRACE(o.path + " " + o.body.value_or("<404>"));
        server.ForgetRequests();
        if (o.body)
            server.Serve("/update/Zeza-13", *o.body);
        else
            server.Route("/update/Zeza-13", nullptr);
        server.Serve("/fund/fund.php", UpdateControl(o.version, o.path, o.sha256));
        EXPECT_EQ(LaunchInChild(), o.result);
        EXPECT_TRUE(server.Asked("/fund/fund.php"));
        EXPECT_EQ(server.Asked("/update/Zeza-13"), o.downloads);
        ExpectNothingStarted();
    }
}

TEST_F(SelfUpdate, ControlFileNotFetched) {
    FixtureServer();  // has no control file
    EXPECT_EQ(LaunchInChild(), -1);
    ExpectNothingStarted();

    SetServerBaseUrlForTesting("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/");
    EXPECT_EQ(LaunchInChild(), -1);
    ExpectNothingStarted();
}

TEST_F(SelfUpdate, UpdaterNotWrittenKeepsProgramRunning) {
    // A folder in the way: the updater file cannot be written, whoever runs the test.
    fs::create_directory(m_dir.Path() / "TaviroUpdater.exe");
    StartReferenceServer(13);
    EXPECT_EQ(LaunchInChild(), -5);
    EXPECT_EQ(ReadFileBytes(m_program), m_oldBytes);
    EXPECT_FALSE(fs::exists(m_dir.Path() / "UpdateTmp.exe.old"));
    EXPECT_FALSE(fs::exists(m_mark));
    EXPECT_EQ(StrayFiles(), std::vector<std::string>{});
}

}  // namespace
