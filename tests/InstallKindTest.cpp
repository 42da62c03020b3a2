#include "platform/InstallKind.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "db/CFundDb.h"
#include "tests/TestSupport.h"

namespace zeza {
namespace {

namespace fs = std::filesystem;

// A prefix as an install lays it out: <prefix>/bin/Zeza, with or without the marker.
fs::path MakePrefix(const fs::path& prefix, bool marker) {
    fs::create_directories(prefix / "bin");
    test::WriteFileBytes(prefix / "bin" / "Zeza", "\177ELF");
    if (marker) {
        fs::create_directories((prefix / kPackageMarker).parent_path());
        test::WriteFileBytes(prefix / kPackageMarker, "package\n");
    }
    return prefix / "bin" / "Zeza";
}

TEST(InstallKindTest, OnlyTheMarkerOfTheProgramsOwnPrefixCounts) {
    test::ScopedTempDir dir;
    EXPECT_TRUE(IsPackageInstall(MakePrefix(dir.Path() / "usr", true)));
    // cmake --install into a prefix of the user's own: no marker, self-update stays.
    EXPECT_FALSE(IsPackageInstall(MakePrefix(dir.Path() / "home" / ".local", false)));

    // A marker in another prefix, or beside the program instead of under share/, is not ours.
    const fs::path build = dir.Path() / "build";
    fs::create_directories(build / "app");
    test::WriteFileBytes(build / "app" / "Zeza", "\177ELF");
    test::WriteFileBytes(build / "app" / "package-install", "package\n");
    EXPECT_FALSE(IsPackageInstall(build / "app" / "Zeza"));

    // A folder by the marker's name is not the marker.
    const fs::path odd = MakePrefix(dir.Path() / "odd", false);
    fs::create_directories(dir.Path() / "odd" / kPackageMarker);
    EXPECT_FALSE(IsPackageInstall(odd));
}

TEST(InstallKindTest, ARelativeProgramPathIsTakenFromTheCurrentFolder) {
    test::ScopedTempDir dir;  // the current folder
    MakePrefix(dir.Path() / "usr", true);
    test::WriteFileBytes(dir.Path() / "usr" / "Zeza", "\177ELF");
    EXPECT_TRUE(IsPackageInstall("usr/bin/Zeza"));
    fs::current_path(dir.Path() / "usr" / "bin");
    EXPECT_TRUE(IsPackageInstall("Zeza"));
    // usr/Zeza: its prefix is the temporary folder, which has no marker, although the
    // current folder (usr) holds share/zeza/package-install.
    fs::current_path(dir.Path() / "usr");
    EXPECT_FALSE(IsPackageInstall("Zeza"));
    fs::current_path(dir.Path());
}

TEST(InstallKindTest, TheRunningProgramIsTheDefault) {
    // This test program runs from the build folder, which no package installed.
    EXPECT_FALSE(CFundDb::IsPackagedProgram());
}

}  // namespace
}  // namespace zeza
