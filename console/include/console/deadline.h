// Waiting up to a deadline on the steady clock, as every bounded wait here
// does: the key wait, the serial port's waits, the simulator's.
#pragma once

#include <chrono>
#include <climits>

// Milliseconds left until `deadline`, rounded up so that a poll() of that
// long never ends just short of it; 0 once it has passed, at most INT_MAX.
inline int ms_until(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    if (left <= 0) {
        return 0;
    }
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}
