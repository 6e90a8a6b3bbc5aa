#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/Errors.h"
#include "platform/IniFile.h"
#include "platform/TempDir.h"

// The settings file on a POSIX system, in a folder every local user can write to.
namespace fr {
namespace {

using test::ReadFile;
using test::TTempDir;
using test::WriteFile;

// The settings live in a folder every local user may write to: whatever another user planted at
// the file's name or at a predictable temporary name is refused or left alone, never followed.
TEST(IniFileTest, PlantedLinksAreRefusedAndNeverWrittenThrough) {
    enum TPlant { AtTheName, AtTheOldTemporaryName };
    struct TRow {
        const char* Name;
        bool Write;  // UpdateFile, else read
        TPlant Plant;
        bool Throws;
    };
    const TRow rows[] = {
        {"read through a link", false, AtTheName, true},
        {"write through a link", true, AtTheName, true},
        {"write beside a link at the old temporary name", true, AtTheOldTemporaryName, false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TTempDir dir;
        const std::string path = dir.Path() + "a.sts";
        const std::string victim = dir.Path() + "victim";
        WriteFile(victim, "[SETTINGS]\nK=victim\n");
        TIniFile ini(path);
        ini.WriteString("SETTINGS", "K", "mine");
        const std::string planted = row.Plant == AtTheName ? path : path + ".tmp" + std::to_string(::getpid());
        ASSERT_EQ(::symlink(victim.c_str(), planted.c_str()), 0);
        if (row.Write && row.Throws) {
            EXPECT_THROW(ini.UpdateFile(), EOSError);
        } else if (row.Write) {
            ASSERT_NO_THROW(ini.UpdateFile());
            EXPECT_EQ(ReadFile(path), "[SETTINGS]\nK=mine\n");
        } else {
            EXPECT_THROW(TIniFile{path}, EOSError);
        }
        EXPECT_EQ(ReadFile(victim), "[SETTINGS]\nK=victim\n") << "the link's target is untouched";
        struct stat st {};
        EXPECT_EQ(::lstat(planted.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the planted link stays a link";
        // Nothing is left behind but the file, the victim and the link.
        int entries = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) ++entries;
        EXPECT_EQ(entries, row.Plant == AtTheName ? 2 : 3);
    }
}

}  // namespace
}  // namespace fr
