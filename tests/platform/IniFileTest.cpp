#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/TempDir.h"

namespace fr {
namespace {

using test::ReadFile;
using test::TTempDir;
using test::WriteFile;

TEST(IniFileTest, MissingFileReadsAsEmptyProfile) {
    TTempDir dir;
    const TIniFile ini(dir.Path() + "none.sts");
    EXPECT_FALSE(ini.SectionExists("SETTINGS"));
    EXPECT_EQ(ini.ReadString("SETTINGS", "Key"), std::nullopt);
    EXPECT_EQ(ini.ReadString("SETTINGS", "Key", "dflt"), "dflt");
}

TEST(IniFileTest, WritesSectionAndKeysAndReadsThemBack) {
    TTempDir dir;
    const std::string path = dir.Path() + "a.sts";
    {
        TIniFile ini(path);
        ini.WriteString("SETTINGS", "IPAddress", "127.0.0.1");
        ini.WriteString("SETTINGS", "CutString", "[cut]");
        ini.WriteString("SETTINGS", "Пароль", "Значение");
        ini.UpdateFile();
    }
    EXPECT_EQ(ReadFile(path), "[SETTINGS]\nIPAddress=127.0.0.1\nCutString=[cut]\nПароль=Значение\n");
    const TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("SETTINGS", "IPAddress"), "127.0.0.1");
    EXPECT_EQ(ini.ReadString("SETTINGS", "Пароль"), "Значение");
}

TEST(IniFileTest, SectionsAndKeysMatchWithoutRegardToCase) {
    TIniFile ini("unused");
    ini.SetText("[Settings]\nportnumber=7\nключ=1\n");
    EXPECT_EQ(ini.ReadString("SETTINGS", "PortNumber"), "7");
    EXPECT_EQ(ini.ReadString("settings", "КЛЮЧ"), "1");
    ini.WriteString("SETTINGS", "PORTNUMBER", "8");
    EXPECT_EQ(ini.Text(), "[Settings]\nportnumber=8\nключ=1\n");
}

TEST(IniFileTest, ReadsWindowsStyleFilesWithBomAndCrLf) {
    TIniFile ini("unused");
    ini.SetText("\xEF\xBB\xBF[SETTINGS]\r\nA = 1 \r\nB=\r\n");
    EXPECT_EQ(ini.ReadString("SETTINGS", "A"), "1");
    EXPECT_EQ(ini.ReadString("SETTINGS", "B"), "");
}

TEST(IniFileTest, RepeatedByteOrderMarksAndLineEndCRsAreDroppedSoTheTextIsStable) {
    TIniFile ini("unused");
    ini.SetText("\xEF\xBB\xBF\xEF\xBB\xBFkey=1\n[SETTINGS]\nA=2\r\r\njunk\r\r\r\n");
    EXPECT_EQ(ini.Text(), "key=1\n[SETTINGS]\nA=2\njunk\n");
}

// Texts whose first writing used to read back as something else: each is written, read again and
// must give the same text and the same value.
TEST(IniFileTest, WrittenTextReadsBackToItself) {
    const struct {
        const char* Input;
        const char* Text;
        const char* Section;
        const char* Key;
        const char* Value;
    } rows[] = {
        // Marks behind a blank, where the file's own mark is not looked for.
        {" \xEF\xBB\xBF \xEF\xBB\xBFkey=1\n", "key=1\n", "", "key", "1"},
        {" \xEF\xBB\xBF[S]\nA=1\n", "[S]\nA=1\n", "S", "A", "1"},
        // A key line in brackets would read back as a section.
        {"[S]\n[k=\"v]\"\n", "[S]\n[k=\"v]\"\n", "S", "[k", "v]"},
        // A CR ending a quoted value would be cut off as a line end.
        {"[S]\nk=\"v\r\"\n", "[S]\nk=\"v\r\"\n", "S", "k", "v\r"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Input);
        TIniFile ini("unused");
        ini.SetText(row.Input);
        EXPECT_EQ(ini.Text(), row.Text);
        TIniFile again("unused");
        again.SetText(ini.Text());
        EXPECT_EQ(again.Text(), ini.Text());
        if (*row.Section) {
            EXPECT_EQ(again.ReadString(row.Section, row.Key), row.Value);
        }
    }
}

TEST(IniFileTest, ValuesWithSurroundingBlanksOrQuotesSurviveARoundTrip) {
    const std::string values[] = {" lead", "trail ", "\"quoted\"", "in \"side\" quotes", "", "a=b"};
    for (const auto& v : values) {
        SCOPED_TRACE(v);
        TIniFile w("unused");
        w.WriteString("S", "K", v);
        TIniFile r("unused");
        r.SetText(w.Text());
        EXPECT_EQ(r.ReadString("S", "K"), v);
    }
}

TEST(IniFileTest, LineBreaksInAValueNeverSplitTheLine) {
    TIniFile ini("unused");
    ini.WriteString("S", "K", "a\r\nb");
    ini.WriteString("S", "L", "x");
    EXPECT_EQ(ini.Text(), "[S]\nK=a  b\nL=x\n");
}

TEST(IniFileTest, MalformedLinesAreKeptAndIgnored) {
    TIniFile ini("unused");
    const std::string text = "; comment\njunk line\n[SETTINGS]\n=novalue\n[broken\nK=1\n\n[OTHER]\nK=2\n";
    ini.SetText(text);
    EXPECT_EQ(ini.ReadString("SETTINGS", "K"), "1");
    EXPECT_EQ(ini.ReadString("OTHER", "K"), "2");
    ini.WriteString("SETTINGS", "New", "v");
    EXPECT_EQ(ini.Text(), "; comment\njunk line\n[SETTINGS]\n=novalue\n[broken\nK=1\nNew=v\n\n[OTHER]\nK=2\n");
}

TEST(IniFileTest, UnwritableFolderRaisesAndLeavesNoFile) {
    TTempDir dir;
    TIniFile ini(dir.Path() + "missing/a.sts");
    ini.WriteString("S", "K", "v");
    EXPECT_THROW(ini.UpdateFile(), EOSError);
    EXPECT_FALSE(PathExists(dir.Path() + "missing"));
}

TEST(IniFileTest, UnreadableFileRaises) {
    TTempDir dir;
    // A folder where the file should be cannot be read as a file.
    std::filesystem::create_directory(dir.Path() + "a.sts");
    EXPECT_THROW(TIniFile(dir.Path() + "a.sts"), EOSError);
}

}  // namespace
}  // namespace fr
