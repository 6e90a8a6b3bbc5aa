#pragma once
// Waits are bounded by steady-clock deadlines; poll-style calls take the milliseconds left.

#include <algorithm>
#include <chrono>

namespace fr {

// Milliseconds until ADeadline, rounded up so that a wait never ends early; 0 once it has passed.
inline int MsLeft(std::chrono::steady_clock::time_point ADeadline) {
    const auto left = ADeadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, 1LL << 30));
}

}  // namespace fr
