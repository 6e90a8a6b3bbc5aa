#include "framework/Log.h"

#include <cstdio>
#include <ctime>
#include <exception>

#include <fmt/format.h>

#include "platform/Files.h"
#include "platform/SharedFile.h"
#include "platform/System.h"

namespace fr {
namespace {

// Process-wide state, built on first use (the add-in module names the log from its own static
// initialiser, which may run before this unit's) and never destroyed, so that a driver's log that
// outlives static destruction can still write its stop banner.
struct TProcessLog {
    std::mutex ClockLock;
    TLog::TClock Clock;
    std::atomic<bool> FailureReported{false};
    TLogSink Sink{0, std::string()};
};

TProcessLog& ProcessLog() {
    static TProcessLog* const state = new TProcessLog;
    return *state;
}

// Writes the process-wide log's stop banner when the module is unloaded.
struct TFinaliser {
    ~TFinaliser() { TLog::Process().Stop(); }
} gFinaliser;

constinit thread_local TLogSink* tCurrent = nullptr;

// Blanks are every character up to the space, control characters included.
std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

std::chrono::system_clock::time_point Now() {
    TProcessLog& p = ProcessLog();
    std::lock_guard<std::mutex> lock(p.ClockLock);
    return p.Clock ? p.Clock() : std::chrono::system_clock::now();
}

std::tm LocalNow(int* millis) {
    const auto now = Now();
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

std::string StartBanner() {
    int major, minor, patch, build;
    ModuleVersion(major, minor, patch, build);
    const std::string blanks(40, ' ');
    return blanks + "\r\n" + "============Start log=============\r\n" + "OS version:\t" + OSVersionText() + "\r\n" +
           "Application:\t" + ExtractFileName(ModuleFileName()) + "\r\n" +
           fmt::format("App. version:\t{}.{}.{}.{}\r\n", major, minor, patch, build) + blanks + "\r\n";
}

const char* const kStopBanner = "============Stop log===============\r\n\r\n";

std::string PathFor(const std::string& AFileName, bool AOnlyDirectory) {
    std::string base;
    if (AFileName.empty()) {
        base = ExtractFileBaseName(ModuleFileName());
    } else if (IsAbsolutePath(AFileName)) {
        return AFileName;
    } else {
        base = ExtractFileBaseName(AFileName);
    }
    const std::string dir = CommonAppDataDir() + base + "/";
    if (!PathExists(dir)) ForceDirectories(dir);
    if (AOnlyDirectory) return dir;
    const std::tm tm = LocalNow(nullptr);
    return fmt::format("{}{}_{:04}.{:02}.{:02}.log", dir, base, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

}  // namespace

// ---- sink ----

TLogSink::TLogSink() : TLogSink(TLog::Process().LogLevel(), TLog::Process().LogFileName()) {}

TLogSink::TLogSink(std::uint8_t ALevel, std::string AFileName) : FLevel(ALevel), FFileName(std::move(AFileName)) {}

TLogSink::~TLogSink() { Stop(); }

void TLogSink::Append(const std::string& ACaption, const std::string& AMessage, TMsgType AMsgType) noexcept {
    if (!Passes(LogLevel(), AMsgType)) return;
    Start();
    try {
        WriteLogLine(TLog::FormatLogString(ACaption, AMessage, AMsgType));
    } catch (const std::exception& e) {
        ReportFailure(e.what());
    }
}

void TLogSink::Start() noexcept {
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (LogLevel() == 0 || FStarted) return;
        FStarted = true;
    }
    try {
        Write(StartBanner());
    } catch (const std::exception& e) {
        ReportFailure(e.what());
    }
}

void TLogSink::Stop() noexcept {
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (LogLevel() == 0 || !FStarted) return;
    }
    Write(kStopBanner);
}

void TLogSink::SetLogLevel(std::uint8_t Level) noexcept {
    bool stop = false;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (LogLevel() != 0 && Level == 0) {
            stop = FStarted;
            FStarted = false;
        }
    }
    if (stop) Write(kStopBanner);
    FLevel.store(Level, std::memory_order_relaxed);
}

bool TLogSink::LogStarted() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FStarted;
}

void TLogSink::SetLogStarted(bool AValue) {
    std::lock_guard<std::mutex> lock(FLock);
    FStarted = AValue;
}

void TLogSink::SetLogFileName(const std::string& Name) {
    std::lock_guard<std::mutex> lock(FLock);
    FFileName = Name;
}

std::string TLogSink::LogFileName() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FFileName;
}

std::string TLogSink::GetAbsolutePath(bool AOnlyDirectory) const { return PathFor(LogFileName(), AOnlyDirectory); }

void TLogSink::WriteLogLine(const std::string& Text) noexcept { Write(Text + "\r\n"); }

void TLogSink::Write(const std::string& ABytes) noexcept {
    try {
        AppendToSharedFile(GetAbsolutePath(false), ABytes);
    } catch (const std::exception& e) {
        ReportFailure(e.what());
    } catch (...) {
        ReportFailure("unknown failure");
    }
}

void TLogSink::SetFailureHandler(TFailureHandler AHandler) {
    std::lock_guard<std::mutex> lock(FLock);
    FOnFailure = std::move(AHandler);
}

void TLogSink::SetWarningHandler(TWarningHandler AHandler) {
    std::lock_guard<std::mutex> lock(FLock);
    FOnWarning = std::move(AHandler);
}

void TLogSink::Warn(const std::string& AText) noexcept {
    try {
        TWarningHandler handler;
        {
            std::lock_guard<std::mutex> lock(FLock);
            handler = FOnWarning;
        }
        if (handler) handler(AText);
    } catch (...) {
        // The host's error service is the last resort.
    }
}

void TLogSink::ReportFailure(const std::string& AReason) noexcept {
    if (ProcessLog().FailureReported.exchange(true)) return;
    std::fprintf(stderr, "%s: cannot write the log (reported once, work goes on): %s\n", kModuleBaseName,
                 AReason.c_str());
    try {
        TFailureHandler handler;
        {
            std::lock_guard<std::mutex> lock(FLock);
            handler = FOnFailure;
        }
        if (handler) handler(AReason);
    } catch (...) {
        // The host's error service is the last resort; nothing is left to report its failure to.
    }
}

// ---- scope ----

TLogScope::TLogScope(TLogSink& ASink) noexcept : FPrevious(tCurrent) { tCurrent = &ASink; }

TLogScope::~TLogScope() { tCurrent = FPrevious; }

// ---- class operations ----

TLogSink& TLog::Current() noexcept { return tCurrent ? *tCurrent : Process(); }

TLogSink& TLog::Process() noexcept { return ProcessLog().Sink; }

std::string TLog::FormatLogString(const std::string& ACaption, const std::string& AMessage, TMsgType AMsgType) {
    int ms = 0;
    const std::tm tm = LocalNow(&ms);
    const char* kind = AMsgType == mtInfo ? "INFO" : AMsgType == mtDebug ? "DEBUG" : "ERROR";
    std::string line = fmt::format("{:04}.{:02}.{:02} {:02}:{:02}:{:02}.{:03}\t{}\t{}", tm.tm_year + 1900,
                                   tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms, kind,
                                   Trim(ACaption));
    if (!AMessage.empty()) line += ": \t" + Trim(AMessage);
    return line;
}

void TLog::SetClock(TClock AClock) {
    TProcessLog& p = ProcessLog();
    std::lock_guard<std::mutex> lock(p.ClockLock);
    p.Clock = std::move(AClock);
}

void TLog::ResetFailureReportForTests() { ProcessLog().FailureReported.store(false); }

}  // namespace fr
