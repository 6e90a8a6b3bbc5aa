#include "device/DeviceDateTime.h"

#include <algorithm>
#include <ctime>

#include <chrono>
#include <cmath>

#include "platform/Files.h"

namespace fr {
namespace {

using namespace std::chrono;

constexpr sys_days kEpoch = sys_days{year{1899} / December / 30};
// 31 December 9999, the last day a host date can hold.
constexpr double kMaxDays = 2958465.0;

}  // namespace

std::optional<TDateTime> TryEncodeDateTime(const TDateTimeParts& p) {
    const year_month_day ymd{year{p.Year}, month{static_cast<unsigned>(p.Month)},
                             day{static_cast<unsigned>(p.Day)}};
    if (p.Month < 1 || p.Month > 12 || p.Day < 1 || p.Day > 31 || !ymd.ok()) return std::nullopt;
    if (p.Hour < 0 || p.Hour > 23 || p.Minute < 0 || p.Minute > 59 || p.Second < 0 || p.Second > 59)
        return std::nullopt;
    const auto days = (sys_days{ymd} - kEpoch).count();
    return static_cast<double>(days) + (p.Hour * 3600 + p.Minute * 60 + p.Second) / 86400.0;
}

TDateTimeParts DecodeDateTime(TDateTime AValue) {
    TDateTimeParts p;
    if (!std::isfinite(AValue) || std::fabs(AValue) > kMaxDays + 1) AValue = 0;
    // Whole seconds since the epoch; days before it keep their time of day positive.
    const auto total = static_cast<std::int64_t>(std::llround(AValue * 86400.0));
    std::int64_t days = total / 86400;
    std::int64_t secs = total % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    const year_month_day ymd{kEpoch + std::chrono::days{days}};
    p.Year = static_cast<int>(ymd.year());
    p.Month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    p.Day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    p.Hour = static_cast<int>(secs / 3600);
    p.Minute = static_cast<int>(secs / 60 % 60);
    p.Second = static_cast<int>(secs % 60);
    return p;
}

std::int64_t DateToUnixTime(TDateTime AValue) {
    constexpr std::int64_t kUnixEpochDays = 25569;  // 1970-01-01 as a host date
    if (!std::isfinite(AValue) || std::fabs(AValue) > kMaxDays + 1) return 0;
    const auto days = static_cast<std::int64_t>(std::trunc(AValue));
    return (days - kUnixEpochDays) * 86400;
}

TDateTime LocalNow() {
    const std::time_t now = std::time(nullptr);
    const std::tm tm = LocalTime(now);
    return TryEncodeDateTime({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                              std::min(tm.tm_sec, 59)})
        .value_or(0);
}

}  // namespace fr
