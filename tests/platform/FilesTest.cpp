// The file services as every layer above uses them, on each system's side.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/SharedFile.h"
#include "platform/TempDir.h"

namespace fr {
namespace {

using test::ReadFile;
using test::TTempDir;
using test::WriteFile;

TEST(FilesTest, PathKinds) {
    TTempDir dir;
    WriteFile(dir.Path() + "f.txt", "x");
    struct TCase {
        std::string Path;
        bool Exists, Directory;
    } const cases[] = {
        {dir.Path(), true, true},
        {dir.Path() + "f.txt", true, false},
        {dir.Path() + "missing", false, false},
        {dir.Path() + "missing/f.txt", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathExists(c.Path), c.Exists) << c.Path;
        EXPECT_EQ(DirectoryExists(c.Path), c.Directory) << c.Path;
    }
    for (const char* relative : {"fr_tarvikonline1c83", "a/b.log", ""}) EXPECT_FALSE(IsAbsolutePath(relative)) << relative;
    EXPECT_TRUE(IsAbsolutePath("/var/log/a.log"));
    EXPECT_TRUE(IsAbsolutePath(dir.Path()));
}

TEST(FilesTest, ReadWholeFileTellsMissingFromUnreadable) {
    TTempDir dir;
    std::string text = "kept";
    EXPECT_FALSE(ReadWholeFile(dir.Path() + "missing.ini", text));
    WriteFile(dir.Path() + "a.ini", std::string("a\r\nb\0c", 6));
    ASSERT_TRUE(ReadWholeFile(dir.Path() + "a.ini", text));
    EXPECT_EQ(text, std::string("a\r\nb\0c", 6)) << "bytes as they are: no text-mode translation";
    std::filesystem::create_directory(dir.Path() + "d.ini");
    EXPECT_THROW(ReadWholeFile(dir.Path() + "d.ini", text), EOSError);
}

TEST(FilesTest, ReplaceFileContentsReplacesAnExistingFileAndLeavesNoTemporary) {
    TTempDir dir;
    const std::string path = dir.Path() + "s.sts";
    ReplaceFileContents(path, "first\r\n");
    ReplaceFileContents(path, "second\r\n");
    EXPECT_EQ(ReadFile(path), "second\r\n");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) ++files;
    EXPECT_EQ(files, 1u);
    EXPECT_THROW(ReplaceFileContents(dir.Path() + "missing/s.sts", "x"), EOSError);
}

TEST(FilesTest, AppendsFromManyWritersNeverInterleave) {
    TTempDir dir;
    const std::string path = dir.Path() + "a.log";
    const std::string line(200, 'x');
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&] {
            for (int i = 0; i < 50; ++i) AppendToSharedFile(path, line + "\r\n");
        });
    for (auto& w : writers) w.join();
    const std::string text = ReadFile(path);
    ASSERT_EQ(text.size(), 4u * 50u * (line.size() + 2));
    for (std::size_t at = 0; at < text.size(); at += line.size() + 2)
        ASSERT_EQ(text.compare(at, line.size() + 2, line + "\r\n"), 0) << "at " << at;
    EXPECT_THROW(AppendToSharedFile(dir.Path() + "missing/a.log", "x"), EOSError);
}

}  // namespace
}  // namespace fr
