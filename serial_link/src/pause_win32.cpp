// Pauses on Windows, measured on the performance counter, in one of two ways:
//
// - a high-resolution waitable timer (Windows 10 1803 and later), with the
//   same early aim as on Linux;
// - Sleep, with the system timer raised to 1 ms for the pause only (at the
//   default 15.6 ms tick a 10 ms pause would last twice as long). It takes
//   whole milliseconds, so it cannot aim early.
//
// Which lands closer to the floor depends on the system. Windows fires the
// high-resolution timer within tens of microseconds; Wine fires its timers on
// whole milliseconds of its server's clock, some 0.5 ms late on average,
// while its Sleep wakes within 0.1 ms. So the first pauses of a run take the
// two ways in turn, and the rest take the one whose pauses overran less;
// Sleep alone where the timer cannot be made. Neither ever ends a pause
// early, and nothing stays raised between pauses, such as during the key
// wait, which may last hours.
#include <windows.h>

#include <timeapi.h>

#include <algorithm>
#include <cstdint>

#include "early_aim.h"
#include "serial_link/serial_link.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

// Pauses each way takes before the choice.
constexpr int kTrials = 8;

std::int64_t counter_now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::int64_t counter_frequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

// Nanoseconds since the first call. The counter reading itself is converted
// only as a difference, in two parts, so that no product overflows however
// long the machine has run.
std::int64_t now_ns() {
    static const std::int64_t frequency = counter_frequency();
    static const std::int64_t base = counter_now();
    const std::int64_t ticks = counter_now() - base;
    return ticks / frequency * 1000000000 + ticks % frequency * 1000000000 / frequency;
}

class HighResolutionTimer {
  public:
    HighResolutionTimer()
        : handle_(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                         TIMER_ALL_ACCESS)) {}
    ~HighResolutionTimer() {
        if (handle_ != nullptr) {
            CloseHandle(handle_);
        }
    }
    HighResolutionTimer(const HighResolutionTimer&) = delete;
    HighResolutionTimer& operator=(const HighResolutionTimer&) = delete;

    bool available() const { return handle_ != nullptr; }

    // Sleeps until about `when` (now_ns), in 100 ns steps rounded up.
    void sleep_until_ns(std::int64_t when) const {
        const std::int64_t left = when - now_ns();
        if (left <= 0) {
            return;
        }
        LARGE_INTEGER due;
        due.QuadPart = -((left + 99) / 100);  // negative: relative to now
        if (SetWaitableTimer(handle_, &due, 0, nullptr, nullptr, FALSE)) {
            WaitForSingleObject(handle_, INFINITE);
        } else {
            Sleep(static_cast<DWORD>((left + 999999) / 1000000));
        }
    }

  private:
    HANDLE handle_;
};

// Returns how late the pause ended, in ns.
std::int64_t pause_with_sleep(int ms) {
    const std::int64_t deadline = now_ns() + ms * std::int64_t{1000000};
    timeBeginPeriod(1);
    std::int64_t now = now_ns();
    while (now < deadline) {
        Sleep(static_cast<DWORD>((deadline - now + 999999) / 1000000));
        now = now_ns();
    }
    timeEndPeriod(1);
    return now - deadline;
}

// The trials of both ways and the choice between them, by the median
// overrun, so that one pause the system held up cannot decide.
class Choice {
  public:
    bool use_timer() const {
        if (tried_[0] < kTrials || tried_[1] < kTrials) {
            return tried_[0] <= tried_[1];
        }
        return median(0) <= median(1);
    }
    void record(bool timer, std::int64_t late_ns) {
        const int way = timer ? 0 : 1;
        if (tried_[way] < kTrials) {
            late_ns_[way][tried_[way]++] = late_ns;
        }
    }

  private:
    std::int64_t median(int way) const {
        std::int64_t sorted[kTrials];
        std::copy(late_ns_[way], late_ns_[way] + kTrials, sorted);
        std::nth_element(sorted, sorted + kTrials / 2, sorted + kTrials);
        return sorted[kTrials / 2];
    }

    int tried_[2] = {0, 0};  // [0] the timer, [1] Sleep
    std::int64_t late_ns_[2][kTrials] = {};
};

}  // namespace

void pause_ms(int ms) {
    if (ms <= 0) {
        return;
    }
    thread_local const HighResolutionTimer timer;
    thread_local WakeDelays delays;
    thread_local Choice choice;
    if (!timer.available()) {
        pause_with_sleep(ms);
        return;
    }
    const bool use_timer = choice.use_timer();
    const std::int64_t late =
        use_timer ? pause_aiming_early(ms, delays, now_ns,
                                       [](std::int64_t when) { timer.sleep_until_ns(when); })
                  : pause_with_sleep(ms);
    choice.record(use_timer, late);
}

std::int64_t steady_us() {
    static const long long frequency = counter_frequency();
    const long long now = counter_now();
    // Whole seconds and the rest apart, so that the product cannot overflow.
    return (now / frequency) * 1000000 + (now % frequency) * 1000000 / frequency;
}
