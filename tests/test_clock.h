// Wall and CPU time for tests that check a wait is bounded and does not spin.
#pragma once

#include <time.h>

#include <chrono>

using Clock = std::chrono::steady_clock;

// Milliseconds since `start` on the steady clock.
inline double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time the calling thread has used so far, in milliseconds.
inline double thread_cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
