#pragma once
// The process-wide text log. All state is class-level; the only lock serialises appends.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace fr {

class TLog {
public:
    enum TMsgType { mtInfo = 0, mtDebug = 1, mtError = 2 };

    // Writes one line when the level lets this kind through (the start banner first).
    // Throws EOSError when the file cannot be written.
    static void Append(const std::string& ACaption, const std::string& AMessage, TMsgType AMsgType);
    static std::string FormatLogString(const std::string& ACaption, const std::string& AMessage,
                                       TMsgType AMsgType);
    static void Start();
    static void Stop();
    static void SetLogLevel(std::uint8_t Level);
    static std::uint8_t LogLevel();
    static bool LogStarted();
    // false makes the next line that passes write the start banner again (a new log file).
    static void SetLogStarted(bool AValue);
    static void SetLogFileName(const std::string& Name);
    static std::string LogFileName();
    static std::string GetAbsolutePath(bool AOnlyDirectory);
    static void WriteLogLine(const std::string& Text);

    // The wall clock behind line stamps and daily file names; an empty one restores the
    // system clock. Lets tests fix the time.
    using TClock = std::function<std::chrono::system_clock::time_point()>;
    static void SetClock(TClock AClock);
};

}  // namespace fr
