#pragma once
// The host's date-time (days since 30 December 1899, the time as the fraction) as the device
// layer reads and writes it.

#include <cstdint>
#include <optional>

namespace fr {

using TDateTime = double;

struct TDateTimeParts {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

// Empty when the parts do not form a valid date and time.
std::optional<TDateTime> TryEncodeDateTime(const TDateTimeParts& AParts);
// Splits a value into its parts, rounded to the nearest second.
TDateTimeParts DecodeDateTime(TDateTime AValue);
// Seconds since 1970-01-01 00:00 UTC of 00:00 of the value's date (the date read as UTC).
std::int64_t DateToUnixTime(TDateTime AValue);
// The machine's local date and time, seconds capped at 59.
TDateTime LocalNow();

}  // namespace fr
