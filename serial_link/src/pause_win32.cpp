// Pauses on Windows, measured on the performance counter, in one of two ways:
//
// - a high-resolution waitable timer (Windows 10 1803 and later), with the
//   same early aim as on Linux;
// - Sleep, with the system timer raised to 1 ms for the pause only (at the
//   default 15.6 ms tick a 10 ms pause would last twice as long). It takes
//   whole milliseconds, so it cannot aim early.
//
// The high-resolution timer is made to fire well within a millisecond, where
// Sleep may end up to a whole tick late, so it is the first choice. The
// first pauses of a run still take the two ways in turn, and the rest take
// the one whose pauses overran less (PauseChoice), for a system whose timer
// does worse. Sleep alone where the timer cannot be made, and under Wine:
// there each arming of the timer and each wait on it is a round trip to
// Wine's server, which fires it on whole milliseconds of its own clock, some
// tenths of a millisecond late, while Sleep wakes within about 0.1 ms and
// costs less; its trials would only cost. Neither way ever ends a pause
// early, and nothing stays raised between pauses, such as during the key
// wait, which may last hours.
#include <windows.h>

#include <timeapi.h>

#include <cstdint>

#include "pause_choice.h"
#include "pause_overshoot.h"
#include "serial_link/serial_link.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

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

// Wine's ntdll exports its version; Windows' does not.
bool running_under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

void pause_ms(int ms) {
    if (ms <= 0) {
        return;
    }
    static const bool under_wine = running_under_wine();
    if (under_wine) {
        pause_with_sleep(ms);
        return;
    }
    thread_local const HighResolutionTimer timer;
    thread_local WakeDelays delays;
    thread_local PauseChoice choice;
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
