#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/Errors.h"
#include "platform/System.h"
#include "platform/TempDir.h"

namespace fr {
namespace {

int ModeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int>(st.st_mode & 07777);
}

TEST(SystemTest, DataFolderFollowsTheEnvironmentWithATrailingSlash) {
    test::TTempAppData data;
    EXPECT_EQ(CommonAppDataDir(), data.Path());
    std::string noSlash = data.Path();
    noSlash.pop_back();
    ::setenv("FR_APPDATA_DIR", noSlash.c_str(), 1);
    EXPECT_EQ(CommonAppDataDir(), data.Path());
}

TEST(SystemTest, ForceDirectoriesSharesOnlyTheRequestedFolder) {
    test::TTempDir dir;
    const std::string parent = dir.Path() + "a";
    const std::string leaf = parent + "/b/";
    ForceDirectories(leaf);
    EXPECT_EQ(ModeOf(leaf), 01777);
    EXPECT_EQ(ModeOf(parent) & 01002, 0) << "parents are neither sticky nor world-writable";
    ForceDirectories(leaf);  // existing: nothing to do
    EXPECT_EQ(ModeOf(leaf), 01777);
}

TEST(SystemTest, ForceDirectoriesRaisesWhenAParentIsAFile) {
    test::TTempDir dir;
    test::WriteFile(dir.Path() + "file", "x");
    EXPECT_THROW(ForceDirectories(dir.Path() + "file/sub/"), EOSError);
}

TEST(SystemTest, HostExeNameCanBeOverridden) {
    SetHostExeNameForTests("1cv7.exe");
    EXPECT_EQ(HostExeName(), "1cv7.exe");
    SetHostExeNameForTests("");
    EXPECT_EQ(HostExeName(), "test_platform");
}

TEST(SystemTest, FileNameHelpersStripFolderAndExtension) {
    EXPECT_EQ(ExtractFileName("/usr/lib/libfr.so"), "libfr.so");
    EXPECT_EQ(ExtractFileBaseName("/usr/lib/libfr.so"), "libfr");
    EXPECT_EQ(ExtractFileBaseName("dir\\log.name.log"), "log.name");
    EXPECT_EQ(ExtractFileBaseName(".hidden"), ".hidden");
}

TEST(SystemTest, OsTextNamesLinux) { EXPECT_EQ(OSVersionText().rfind("Linux ", 0), 0u); }

}  // namespace
}  // namespace fr
