#include <errno.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <cstdint>

#include "serial_link/serial_link.h"

namespace {

constexpr std::int64_t kNsPerSec = 1000000000;

// Waking from a sleep costs the kernel some tens of microseconds past the
// deadline, more inside a virtual machine. Thousands of pauses make up an
// erase run, so each sleep aims early by the smallest wake-up delay seen in
// the last kWindow sleeps, and sleeps again for the rest should it wake
// before the deadline. A pause therefore never ends early, and ends late only
// by the wake-up delay's jitter, not by the delay itself.
constexpr int kWindow = 16;
constexpr std::int64_t kMaxLeadNs = 1000000;

struct WakeDelays {
    std::int64_t seen[kWindow] = {};
    int next = 0;
    int count = 0;

    void add(std::int64_t ns) {
        seen[next] = std::clamp<std::int64_t>(ns, 0, kMaxLeadNs);
        next = (next + 1) % kWindow;
        count = std::min(count + 1, kWindow);
    }
    std::int64_t smallest() const { return count == 0 ? 0 : *std::min_element(seen, seen + count); }
};

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
    const std::int64_t deadline = now_ns() + ms * std::int64_t{1000000};
    const std::int64_t aim = deadline - std::min(delays.smallest(), ms * std::int64_t{500000});
    sleep_until_ns(aim);
    std::int64_t now = now_ns();
    delays.add(now - aim);
    while (now < deadline) {
        sleep_until_ns(deadline);
        now = now_ns();
    }
}

std::int64_t steady_us() {
    return now_ns() / 1000;
}
