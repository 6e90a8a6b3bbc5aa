#pragma once
// A device clock on which waits cost nothing: every sleep moves the clock on at once.

#include <chrono>

#include "device/Device.h"

namespace fr::test {

class TInstantClock : public TDeviceClock {
public:
    std::chrono::steady_clock::time_point Now() const override { return FNow; }
    void Sleep(std::chrono::milliseconds ADuration) override { FNow += ADuration; }

private:
    std::chrono::steady_clock::time_point FNow{};
};

}  // namespace fr::test
