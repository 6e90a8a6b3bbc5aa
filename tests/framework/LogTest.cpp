#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include "framework/Log.h"
#include "platform/System.h"
#include "platform/TempDir.h"

namespace fr {
namespace {

using test::ReadFile;

std::chrono::system_clock::time_point At(int y, int mo, int d, int h, int mi, int s, int ms) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm)) + std::chrono::milliseconds(ms);
}

std::string StartBanner() {
    const std::string blanks(40, ' ');
    return blanks + "\r\n" + "============Start log=============\r\n" + "OS version:\t" + OSVersionText() + "\r\n" +
           "Application:\t" + ExtractFileName(ModuleFileName()) + "\r\n" + "App. version:\t1.0.0.1\r\n" + blanks +
           "\r\n";
}

const char* const kStopBanner = "============Stop log===============\r\n\r\n";

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        TLog::SetLogLevel(0);
        TLog::SetLogFileName("fr_tarvikonline1c83");
        Now = At(2024, 3, 5, 14, 7, 9, 123);
        TLog::SetClock([this] { return Now; });
    }
    void TearDown() override {
        TLog::SetLogLevel(0);
        TLog::SetClock({});
        TLog::SetLogFileName("");
    }
    std::string FileOf(const char* date) const {
        return Data.Path() + "fr_tarvikonline1c83/fr_tarvikonline1c83_" + date + ".log";
    }
    std::string Log() const { return ReadFile(FileOf("2024.03.05")); }

    test::TTempAppData Data;
    std::chrono::system_clock::time_point Now;
};

TEST_F(LogTest, LineIsStampKindCaptionAndMessage) {
    struct Case {
        const char* Name;
        const char* Caption;
        const char* Message;
        TLog::TMsgType Kind;
        const char* Line;
    };
    const Case cases[] = {
        {"Info", "> Open", "Params: [(0)]", TLog::mtInfo, "2024.03.05 14:07:09.123\tINFO\t> Open: \tParams: [(0)]"},
        {"Debug", "TDriver", "Start Enable", TLog::mtDebug, "2024.03.05 14:07:09.123\tDEBUG\tTDriver: \tStart Enable"},
        {"Error", "EXCEPTION", "boom", TLog::mtError, "2024.03.05 14:07:09.123\tERROR\tEXCEPTION: \tboom"},
        {"EmptyMessage", "Caption", "", TLog::mtInfo, "2024.03.05 14:07:09.123\tINFO\tCaption"},
        {"Trimmed", "  Caption \t", " \tmessage  \r\n", TLog::mtInfo, "2024.03.05 14:07:09.123\tINFO\tCaption: \tmessage"},
        {"Cyrillic", "Подключить", "Порт", TLog::mtInfo, "2024.03.05 14:07:09.123\tINFO\tПодключить: \tПорт"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(TLog::FormatLogString(c.Caption, c.Message, c.Kind), c.Line);
    }
}

TEST_F(LogTest, StampPadsEveryFieldToItsWidth) {
    Now = At(2024, 1, 2, 3, 4, 5, 6);
    EXPECT_EQ(TLog::FormatLogString("c", "", TLog::mtInfo), "2024.01.02 03:04:05.006\tINFO\tc");
}

TEST_F(LogTest, LevelLetsThroughOnlyItsKinds) {
    struct Case {
        int Level;
        bool Info, Debug, Error;
    };
    const Case cases[] = {{0, false, false, false}, {1, false, false, true}, {2, true, false, true}, {3, true, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.Level));
        TLog::SetLogLevel(0);
        std::remove(FileOf("2024.03.05").c_str());
        TLog::SetLogLevel(static_cast<std::uint8_t>(c.Level));
        TLog::Append("i", "", TLog::mtInfo);
        TLog::Append("d", "", TLog::mtDebug);
        TLog::Append("e", "", TLog::mtError);
        const std::string log = Log();
        const std::string stamp = "2024.03.05 14:07:09.123\t";
        EXPECT_EQ(log.find(stamp + "INFO\ti\r\n") != std::string::npos, c.Info);
        EXPECT_EQ(log.find(stamp + "DEBUG\td\r\n") != std::string::npos, c.Debug);
        EXPECT_EQ(log.find(stamp + "ERROR\te\r\n") != std::string::npos, c.Error);
        EXPECT_EQ(log.rfind(StartBanner(), 0) == 0, c.Level != 0);
    }
}

TEST_F(LogTest, FirstLineAfterSwitchingOnWritesTheStartBannerFirst) {
    TLog::SetLogLevel(3);
    TLog::Append("> GetVersion", "Params: EMPTY", TLog::mtInfo);
    TLog::Append("< GetVersion", "", TLog::mtDebug);
    EXPECT_EQ(Log(), StartBanner() + "2024.03.05 14:07:09.123\tINFO\t> GetVersion: \tParams: EMPTY\r\n" +
                         "2024.03.05 14:07:09.123\tDEBUG\t< GetVersion\r\n");
}

TEST_F(LogTest, FilteredLineWritesNoBanner) {
    TLog::SetLogLevel(2);
    TLog::Append("d", "", TLog::mtDebug);
    EXPECT_FALSE(TLog::LogStarted());
    struct stat st {};
    EXPECT_NE(::stat(FileOf("2024.03.05").c_str(), &st), 0);
    TLog::Append("i", "", TLog::mtInfo);
    EXPECT_EQ(Log(), StartBanner() + "2024.03.05 14:07:09.123\tINFO\ti\r\n");
}

TEST_F(LogTest, SwitchingOffWritesTheStopBannerAndAnEmptyLine) {
    TLog::SetLogLevel(2);
    TLog::Append("i", "", TLog::mtInfo);
    TLog::SetLogLevel(0);
    EXPECT_EQ(Log(), StartBanner() + "2024.03.05 14:07:09.123\tINFO\ti\r\n" + kStopBanner);
    EXPECT_FALSE(TLog::LogStarted());
    TLog::SetLogLevel(0);
    EXPECT_EQ(Log(), StartBanner() + "2024.03.05 14:07:09.123\tINFO\ti\r\n" + kStopBanner);
}

TEST_F(LogTest, SwitchingOnAgainStartsANewBanner) {
    TLog::SetLogLevel(3);
    TLog::Append("a", "", TLog::mtInfo);
    TLog::SetLogLevel(0);
    TLog::SetLogLevel(3);
    TLog::Append("b", "", TLog::mtInfo);
    EXPECT_EQ(Log(), StartBanner() + "2024.03.05 14:07:09.123\tINFO\ta\r\n" + kStopBanner + StartBanner() +
                         "2024.03.05 14:07:09.123\tINFO\tb\r\n");
}

TEST_F(LogTest, SwitchingOffWithoutAnyLineWritesNothing) {
    TLog::SetLogLevel(3);
    TLog::SetLogLevel(0);
    struct stat st {};
    EXPECT_NE(::stat((Data.Path() + "fr_tarvikonline1c83").c_str(), &st), 0) << "level 0 never touches the disk";
}

TEST_F(LogTest, LinesAfterMidnightGoToTheNextDaysFile) {
    TLog::SetLogLevel(2);
    Now = At(2024, 3, 5, 23, 59, 59, 999);
    TLog::Append("before", "", TLog::mtInfo);
    Now = At(2024, 3, 6, 0, 0, 0, 0);
    TLog::Append("after", "", TLog::mtInfo);
    EXPECT_EQ(Log(), StartBanner() + "2024.03.05 23:59:59.999\tINFO\tbefore\r\n");
    EXPECT_EQ(ReadFile(FileOf("2024.03.06")), "2024.03.06 00:00:00.000\tINFO\tafter\r\n");
}

TEST_F(LogTest, FileNameWithFolderAndExtensionKeepsOnlyItsBase) {
    TLog::SetLogFileName("some/dir/mylog.txt");
    EXPECT_EQ(TLog::GetAbsolutePath(true), Data.Path() + "mylog/");
    EXPECT_EQ(TLog::GetAbsolutePath(false), Data.Path() + "mylog/mylog_2024.03.05.log");
}

TEST_F(LogTest, EmptyFileNameUsesTheModuleName) {
    TLog::SetLogFileName("");
    const std::string base = ExtractFileBaseName(ModuleFileName());
    EXPECT_EQ(TLog::GetAbsolutePath(false), Data.Path() + base + "/" + base + "_2024.03.05.log");
}

TEST_F(LogTest, FullPathIsUsedAsItIsOnEveryDay) {
    const std::string path = Data.Path() + "fixed.log";
    TLog::SetLogFileName(path);
    EXPECT_EQ(TLog::GetAbsolutePath(true), path);
    TLog::SetLogLevel(1);
    TLog::Append("e1", "", TLog::mtError);
    Now = At(2024, 3, 6, 1, 0, 0, 0);
    TLog::Append("e2", "", TLog::mtError);
    EXPECT_EQ(ReadFile(path), StartBanner() + "2024.03.05 14:07:09.123\tERROR\te1\r\n" +
                                  "2024.03.06 01:00:00.000\tERROR\te2\r\n");
}

TEST_F(LogTest, MissingLogFolderIsCreatedSharedWithEveryone) {
    TLog::SetLogLevel(2);
    TLog::Append("i", "", TLog::mtInfo);
    struct stat st {};
    ASSERT_EQ(::stat((Data.Path() + "fr_tarvikonline1c83").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01777u);
}

TEST_F(LogTest, AppendsToAnExistingFile) {
    TLog::GetAbsolutePath(true);
    test::WriteFile(FileOf("2024.03.05"), "earlier\r\n");
    TLog::SetLogLevel(1);
    TLog::Append("e", "", TLog::mtError);
    EXPECT_EQ(Log(), "earlier\r\n" + StartBanner() + "2024.03.05 14:07:09.123\tERROR\te\r\n");
}

// Whatever is found at the log's name, the caller goes on; the first failure in the process is
// reported once (standard error and the sink's handler), nothing is written through a link.
TEST_F(LogTest, UnwritableLogIsReportedOnceAndNeverFailsTheCaller) {
    struct Case {
        const char* Name;
        void (*Plant)(const std::string& ADir);
        const char* File;    // the log's full name inside the data folder
        const char* Reason;  // part of the reported reason
    };
    const Case cases[] = {
        {"FolderIsAFile", [](const std::string& d) { test::WriteFile(d + "file", "x"); }, "file/sub.log",
         "Not a directory"},
        {"LinkToAFile", [](const std::string& d) {
             test::WriteFile(d + "victim", "keep");
             ::symlink((d + "victim").c_str(), (d + "link.log").c_str());
         }, "link.log", "symbolic link"},
        {"DanglingLink", [](const std::string& d) { ::symlink((d + "victim").c_str(), (d + "link.log").c_str()); },
         "link.log", "symbolic link"},
        {"Fifo", [](const std::string& d) { ::mkfifo((d + "fifo.log").c_str(), 0666); }, "fifo.log", "fifo.log"},
        {"Directory", [](const std::string& d) { ::mkdir((d + "dir.log").c_str(), 0777); }, "dir.log", "dir.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TTempDir dir;
        c.Plant(dir.Path());
        const std::string victim = ReadFile(dir.Path() + "victim");
        TLog::ResetFailureReportForTests();
        std::vector<std::string> reported;
        TLog::Process().SetFailureHandler([&](const std::string& r) { reported.push_back(r); });
        TLog::SetLogFileName(dir.Path() + c.File);
        TLog::SetLogLevel(2);
        ::testing::internal::CaptureStderr();
        TLog::Append("i", "", TLog::mtInfo);
        TLog::Append("e", "", TLog::mtError);
        TLog::SetLogLevel(0);
        const std::string err = ::testing::internal::GetCapturedStderr();
        TLog::Process().SetFailureHandler({});
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_NE(reported[0].find(c.Reason), std::string::npos) << reported[0];
        EXPECT_NE(err.find(reported[0]), std::string::npos) << err;
        EXPECT_EQ(err.find("cannot write the log"), err.rfind("cannot write the log")) << "once: " << err;
        EXPECT_EQ(ReadFile(dir.Path() + "victim"), victim) << "nothing written through a link";
        struct stat st {};
        EXPECT_NE(::stat((dir.Path() + "victim").c_str(), &st) == 0, victim.empty()) << "no file made behind a link";
    }
    // The log works again once its name is sound.
    TLog::SetLogFileName("fr_tarvikonline1c83");
    TLog::SetLogLevel(2);
    TLog::Append("i", "", TLog::mtInfo);
    EXPECT_NE(Log().find("\tINFO\ti\r\n"), std::string::npos);
}

TEST_F(LogTest, NewFileIsOpenToEveryLocalUserWhateverTheUmask) {
    const std::string path = Data.Path() + "shared.log";
    TLog::SetLogFileName(path);
    TLog::SetLogLevel(2);
    const mode_t old = ::umask(077);
    TLog::Append("i", "", TLog::mtInfo);
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
}

}  // namespace
}  // namespace fr
