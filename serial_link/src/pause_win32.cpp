#include <windows.h>

#include <timeapi.h>

#include "serial_link/serial_link.h"

namespace {

// Sleep() rounds up to the system timer tick, 15.6 ms unless something asks
// for more: a 10 ms pause would cost twice as long as it should. This raises
// the timer to 1 ms for the rest of the run and puts it back at exit.
struct FineTimer {
    FineTimer() { timeBeginPeriod(1); }
    ~FineTimer() { timeEndPeriod(1); }
    FineTimer(const FineTimer&) = delete;
    FineTimer& operator=(const FineTimer&) = delete;
};

long long counter_now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

long long counter_frequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

}  // namespace

void pause_ms(int ms) {
    static const FineTimer fine_timer;
    static const long long frequency = counter_frequency();
    if (ms <= 0) {
        return;
    }
    const long long end = counter_now() + (frequency * ms + 999) / 1000;
    // Sleep may come back a little early; sleep again until the pause has
    // really passed on the performance counter.
    for (long long now = counter_now(); now < end; now = counter_now()) {
        const long long left_ms = ((end - now) * 1000 + frequency - 1) / frequency;
        Sleep(static_cast<DWORD>(left_ms));
    }
}

std::int64_t steady_us() {
    static const long long frequency = counter_frequency();
    const long long now = counter_now();
    // Whole seconds and the rest apart, so that the product cannot overflow.
    return (now / frequency) * 1000000 + (now % frequency) * 1000000 / frequency;
}
