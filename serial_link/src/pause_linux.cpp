// Pauses on Linux: absolute sleeps on the monotonic clock with the early aim,
// and the thread's timer slack at its smallest.
#include <errno.h>
#include <sys/prctl.h>
#include <time.h>

#include <cstdint>

#include "pause_overshoot.h"
#include "serial_link/serial_link.h"

namespace {

constexpr std::int64_t kNsPerSec = 1000000000;

std::int64_t now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * kNsPerSec + ts.tv_nsec;
}

// Sleeps until `when` on the monotonic clock. An absolute deadline is not
// moved by a signal: an interrupted sleep resumes towards the same point.
void sleep_until_ns(std::int64_t when) {
    const timespec ts{static_cast<time_t>(when / kNsPerSec), static_cast<long>(when % kNsPerSec)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

// The kernel may also let a sleep run late by the thread's timer slack, 50 us
// by default: ask for the smallest, once per thread.
void tighten_timer_slack() {
    thread_local const bool done = [] {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        return true;
    }();
    (void)done;
}

}  // namespace

void pause_ms(int ms) {
    if (ms <= 0) {
        return;
    }
    tighten_timer_slack();
    thread_local WakeDelays delays;
    pause_aiming_early(ms, delays, now_ns, sleep_until_ns);
}

std::int64_t steady_us() {
    return now_ns() / 1000;
}
