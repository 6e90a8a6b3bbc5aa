#include "framework/Log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <mutex>

#include <fmt/format.h>

#include "platform/Errors.h"
#include "platform/System.h"
#include "platform/UniqueFd.h"

namespace fr {
namespace {

std::atomic<std::uint8_t> gLevel{0};
bool gStarted = false;
// Made on first use: the add-in module names the log from its own static initialiser, which may
// run first (and clang 14 cannot make a libstdc++ string at compile time, so constinit is out).
std::string& LogName() {
    static std::string name;
    return name;
}
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
    std::tm tm{};
    ::localtime_r(&t, &tm);
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
void TLog::SetLogFileName(const std::string& Name) { LogName() = Name; }
std::string TLog::LogFileName() { return LogName(); }
void TLog::SetClock(TClock AClock) { gClock = std::move(AClock); }

std::string TLog::GetAbsolutePath(bool AOnlyDirectory) {
    std::string base;
    if (LogName().empty()) {
        base = ExtractFileBaseName(ModuleFileName());
    } else if (LogName().front() == '/') {
        return LogName();
    } else {
        base = ExtractFileBaseName(LogName());
    }
    const std::string dir = CommonAppDataDir() + base + "/";
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) ForceDirectories(dir);
    if (AOnlyDirectory) return dir;
    const std::tm tm = LocalNow(nullptr);
    return fmt::format("{}{}_{:04}.{:02}.{:02}.log", dir, base, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

void TLog::WriteLogLine(const std::string& Text) {
    const std::string path = GetAbsolutePath(false);
    const std::string bytes = Text + "\r\n";
    std::lock_guard<std::mutex> lock(LogLock());
    UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (!file.Valid()) throw EOSError("Cannot open log file " + path, errno);
    const int fd = file.Get();
    // Other writers (other processes hosting the driver) wait while we append.
    ::flock(fd, LOCK_EX);
    std::size_t done = 0;
    int err = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    file.Reset();
    if (err != 0) throw EOSError("Cannot write log file " + path, err);
}

}  // namespace fr
