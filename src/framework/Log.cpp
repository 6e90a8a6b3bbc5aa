#include "framework/Log.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <mutex>

#include <fmt/format.h>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/System.h"

namespace fr {
namespace {

std::atomic<std::uint8_t> gLevel{0};
bool gStarted = false;
// constinit: the add-in module names the log from its own static initialiser, which may run first.
constinit std::string gFileName;
// Defined before the finaliser below, so it is still alive when the finaliser runs.
std::mutex gLogLock;
TLog::TClock gClock;

std::mutex& LogLock() { return gLogLock; }

// Blanks are every character up to the space, control characters included.
std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

std::tm LocalNow(int* millis) {
    const auto now = gClock ? gClock() : std::chrono::system_clock::now();
    const auto t = std::chrono::system_clock::to_time_t(now);
    const std::tm tm = LocalTime(t);
    if (millis)
        *millis = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    return tm;
}

bool Passes(std::uint8_t level, TLog::TMsgType kind) {
    switch (level) {
        case 1: return kind == TLog::mtError;
        case 2: return kind == TLog::mtInfo || kind == TLog::mtError;
        case 3: return true;
        default: return false;
    }
}

// Writes the stop banner when the module is unloaded.
struct Finaliser {
    ~Finaliser() {
        try {
            TLog::Stop();
        } catch (...) {
        }
    }
} gFinaliser;

}  // namespace

void TLog::Append(const std::string& ACaption, const std::string& AMessage, TMsgType AMsgType) {
    if (!Passes(gLevel, AMsgType)) return;
    Start();
    WriteLogLine(FormatLogString(ACaption, AMessage, AMsgType));
}

std::string TLog::FormatLogString(const std::string& ACaption, const std::string& AMessage,
                                  TMsgType AMsgType) {
    int ms = 0;
    const std::tm tm = LocalNow(&ms);
    const char* kind = AMsgType == mtInfo ? "INFO" : AMsgType == mtDebug ? "DEBUG" : "ERROR";
    std::string line = fmt::format("{:04}.{:02}.{:02} {:02}:{:02}:{:02}.{:03}\t{}\t{}", tm.tm_year + 1900,
                                   tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms, kind,
                                   Trim(ACaption));
    if (!AMessage.empty()) line += ": \t" + Trim(AMessage);
    return line;
}

void TLog::Start() {
    if (gLevel == 0 || gStarted) return;
    int major, minor, patch, build;
    ModuleVersion(major, minor, patch, build);
    const std::string blanks(40, ' ');
    WriteLogLine(blanks);
    WriteLogLine("============Start log=============");
    WriteLogLine("OS version:\t" + OSVersionText());
    WriteLogLine("Application:\t" + ExtractFileName(ModuleFileName()));
    WriteLogLine(fmt::format("App. version:\t{}.{}.{}.{}", major, minor, patch, build));
    WriteLogLine(blanks);
    gStarted = true;
}

void TLog::Stop() {
    if (gLevel == 0 || !gStarted) return;
    WriteLogLine("============Stop log===============\r\n");
}

void TLog::SetLogLevel(std::uint8_t Level) {
    if (gLevel != 0 && Level == 0) {
        Stop();
        gStarted = false;
    }
    gLevel = Level;
}

std::uint8_t TLog::LogLevel() { return gLevel; }
bool TLog::LogStarted() { return gStarted; }
void TLog::SetLogStarted(bool AValue) { gStarted = AValue; }
void TLog::SetLogFileName(const std::string& Name) { gFileName = Name; }
std::string TLog::LogFileName() { return gFileName; }
void TLog::SetClock(TClock AClock) { gClock = std::move(AClock); }

std::string TLog::GetAbsolutePath(bool AOnlyDirectory) {
    std::string base;
    if (gFileName.empty()) {
        base = ExtractFileBaseName(ModuleFileName());
    } else if (IsAbsolutePath(gFileName)) {
        return gFileName;
    } else {
        base = ExtractFileBaseName(gFileName);
    }
    const std::string dir = CommonAppDataDir() + base + "/";
    if (!PathExists(dir)) ForceDirectories(dir);
    if (AOnlyDirectory) return dir;
    const std::tm tm = LocalNow(nullptr);
    return fmt::format("{}{}_{:04}.{:02}.{:02}.log", dir, base, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

void TLog::WriteLogLine(const std::string& Text) {
    const std::string path = GetAbsolutePath(false);
    const std::string bytes = Text + "\r\n";
    std::lock_guard<std::mutex> lock(LogLock());
    AppendToFileLocked(path, bytes);
}

}  // namespace fr
