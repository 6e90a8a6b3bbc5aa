#pragma once
// The driver's text log.
//
// Each driver owns a TLogSink (level, file name, started flag), so that several drivers in one
// process, each serving its own register from its own host thread, write to the folders their
// own settings name. Writers keep calling the class operations of TLog; these act on the sink of
// the innermost TLogScope open on the calling thread, or on the process-wide sink when none is.
// A scope rather than a sink handed down through every layer: the link protocols' byte trace and
// the device sit below the driver and need not know whose register they talk to, and a host call
// runs wholly on one thread, so the scope the add-in object (and the driver's operation frame)
// opens around it covers every line the call writes, and nothing else.
//
// A log that cannot be opened or written never fails its caller: the first failure in the process
// is reported on standard error and through the failing sink's failure handler (the host's error
// service), and the line is dropped. Every operation is safe under concurrent use.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace fr {

class TLogSink {
public:
    enum TMsgType { mtInfo = 0, mtDebug = 1, mtError = 2 };

    // Starts with the level and file name the process-wide sink has at this moment.
    TLogSink();
    TLogSink(std::uint8_t ALevel, std::string AFileName);
    // Writes the stop banner when the log was started.
    ~TLogSink();
    TLogSink(const TLogSink&) = delete;
    TLogSink& operator=(const TLogSink&) = delete;

    // Writes one line when the level lets this kind through (the start banner first).
    void Append(const std::string& ACaption, const std::string& AMessage, TMsgType AMsgType) noexcept;
    void Start() noexcept;
    void Stop() noexcept;
    void SetLogLevel(std::uint8_t Level) noexcept;
    std::uint8_t LogLevel() const noexcept { return FLevel.load(std::memory_order_relaxed); }
    bool LogStarted() const;
    // false makes the next line that passes write the start banner again (a new log file).
    void SetLogStarted(bool AValue);
    void SetLogFileName(const std::string& Name);
    std::string LogFileName() const;
    // The log folder or the file for today. Creates a missing folder; throws EOSError when it
    // cannot.
    std::string GetAbsolutePath(bool AOnlyDirectory) const;
    void WriteLogLine(const std::string& Text) noexcept;

    // Where a failure of this log is reported besides standard error (once per process).
    using TFailureHandler = std::function<void(const std::string& AReason)>;
    void SetFailureHandler(TFailureHandler AHandler);
    // A warning for the person at the host (its error service), through the same handler as a
    // failure of the log; nothing when no handler is set.
    using TWarningHandler = std::function<void(const std::string& AText)>;
    void SetWarningHandler(TWarningHandler AHandler);
    void Warn(const std::string& AText) noexcept;

private:
    void Write(const std::string& ABytes) noexcept;
    void ReportFailure(const std::string& AReason) noexcept;

    std::atomic<std::uint8_t> FLevel;
    mutable std::mutex FLock;  // guards the fields below
    bool FStarted = false;
    std::string FFileName;
    TFailureHandler FOnFailure;
    TWarningHandler FOnWarning;
};

// Makes ASink the current thread's log while alive.
class TLogScope {
public:
    explicit TLogScope(TLogSink& ASink) noexcept;
    ~TLogScope();
    TLogScope(const TLogScope&) = delete;
    TLogScope& operator=(const TLogScope&) = delete;

private:
    TLogSink* FPrevious;
};

class TLog {
public:
    using TMsgType = TLogSink::TMsgType;
    static constexpr TMsgType mtInfo = TLogSink::mtInfo;
    static constexpr TMsgType mtDebug = TLogSink::mtDebug;
    static constexpr TMsgType mtError = TLogSink::mtError;

    // The sink of the innermost scope on this thread, else the process-wide one.
    static TLogSink& Current() noexcept;
    static TLogSink& Process() noexcept;

    // The operations of TLogSink on the current sink.
    static void Append(const std::string& ACaption, const std::string& AMessage, TMsgType AMsgType) noexcept {
        Current().Append(ACaption, AMessage, AMsgType);
    }
    static void Start() noexcept { Current().Start(); }
    static void Stop() noexcept { Current().Stop(); }
    static void SetLogLevel(std::uint8_t Level) noexcept { Current().SetLogLevel(Level); }
    static std::uint8_t LogLevel() noexcept { return Current().LogLevel(); }
    static bool LogStarted() { return Current().LogStarted(); }
    static void SetLogStarted(bool AValue) { Current().SetLogStarted(AValue); }
    static void SetLogFileName(const std::string& Name) { Current().SetLogFileName(Name); }
    static std::string LogFileName() { return Current().LogFileName(); }
    static std::string GetAbsolutePath(bool AOnlyDirectory) { return Current().GetAbsolutePath(AOnlyDirectory); }
    static void WriteLogLine(const std::string& Text) noexcept { Current().WriteLogLine(Text); }

    static std::string FormatLogString(const std::string& ACaption, const std::string& AMessage,
                                       TMsgType AMsgType);

    // The wall clock behind line stamps and daily file names; an empty one restores the
    // system clock. Lets tests fix the time.
    using TClock = std::function<std::chrono::system_clock::time_point()>;
    static void SetClock(TClock AClock);
    // Lets the next failure be reported again (failures are reported once per process).
    static void ResetFailureReportForTests();
};

}  // namespace fr
